// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "vocabulary_p.h"

#include <vokimage/vocabulary.h>

#include <QDebugStateSaver>
#include <QFileInfo>

namespace VokImage {

namespace {
bool registerFileType()
{
    qRegisterMetaType<File>("VokImage::File");
    qRegisterMetaTypeStreamOperators<File>("VokImage::File");
    QMetaType::registerDebugStreamOperator<File>();
    QMetaType::registerComparators<File>();
    return true;
}
} // namespace

void ensureFileTypeRegistered()
{
    static const bool registered = registerFileType();
    Q_UNUSED(registered)
}

File::File(const QString &path)
    : path(path)
{
    ensureFileTypeRegistered();
    const QFileInfo info(path);
    if (info.exists())
        lastModified = info.lastModified();
}

bool File::operator==(const File &other) const
{
    return path == other.path && lastModified == other.lastModified;
}

bool File::operator<(const File &other) const
{
    if (path == other.path && lastModified != other.lastModified)
        return lastModified < other.lastModified;
    return path < other.path;
}

QColor toColour(QVariant value)
{
    if (value.userType() == QMetaType::QColor)
        return value.value<QColor>();
    return value.convert(QMetaType::QColor) ? value.value<QColor>() : QColor();
}

} // namespace VokImage

QDataStream &operator<<(QDataStream &stream, const VokImage::File &file)
{
    return stream << file.path << file.lastModified;
}

QDataStream &operator>>(QDataStream &stream, VokImage::File &file)
{
    return stream >> file.path >> file.lastModified;
}

QDebug operator<<(QDebug debug, const VokImage::File &file)
{
    const QDebugStateSaver saver(debug);
    debug.nospace() << "path(" << file.path << "), lastModified(" << file.lastModified << ")";
    return debug;
}
