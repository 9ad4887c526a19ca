// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include <vokimage/config.h>

namespace VokImage {

FileSystemEngine::FileSystemEngine(FileSystemType type)
{
    switch (type) {
    case DesktopSession:
        m_factory = std::make_unique<VokPathFactory>();
        break;
    case DisplayManager:
        m_factory = std::make_unique<VokOrvPathFactory>(QString());
        break;
    }
}

FileSystemEngine::~FileSystemEngine() = default;

QVariant FileSystemEngine::getProperty(const QString &key)
{
    return m_factory ? m_factory->getProperty(key) : QVariant();
}

} // namespace VokImage
