// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "vokdesktopentry.h"

#include <KConfigGroup>
#include <KDesktopFile>

#include <QFileInfo>

VokDesktopEntry::VokDesktopEntry(std::string path)
    : m_path(std::move(path))
{ }

VokDesktopEntry::~VokDesktopEntry() = default;

bool VokDesktopEntry::load()
{
    const QString path = QString::fromStdString(m_path);
    const QFileInfo info(path);
    m_file.reset();
    if (path.isEmpty() || !info.isAbsolute() || !info.isFile() || !info.isReadable())
        return false;
    m_file = std::make_unique<KDesktopFile>(path);
    return true;
}

std::string VokDesktopEntry::getUnknownValue(const char *key) const
{
    if (!m_file || !key)
        return std::string();
    return m_file->desktopGroup().readEntry(key, QString()).toStdString();
}
