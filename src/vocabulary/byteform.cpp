// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include <vokimage/image.h>
#include <vokimage/vocabulary.h>

#include "vocabulary_p.h"

#include <QDataStream>
#include <QDateTime>
#include <QIODevice>
#include <QTimeZone>
#include <QtEndian>

#include <new>

namespace VokImage {
namespace Utils {

namespace {

// The value types of the property vocabulary. Each decodes into memory bounded by the bytes
// it occupies; containers, images and other user types could announce billions of elements.
bool plainType(quint32 type)
{
    switch (type) {
    case QMetaType::UnknownType:
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::QChar:
    case QMetaType::QString:
    case QMetaType::QByteArray:
    case QMetaType::QDate:
    case QMetaType::QTime:
    case QMetaType::QDateTime:
    case QMetaType::QUrl:
    case QMetaType::QRect:
    case QMetaType::QRectF:
    case QMetaType::QSize:
    case QMetaType::QSizeF:
    case QMetaType::QLine:
    case QMetaType::QLineF:
    case QMetaType::QPoint:
    case QMetaType::QPointF:
    case QMetaType::QColor:
        return true;
    default:
        return false;
    }
}

// Looks at the QVariant header ahead in @p device (type, null flag, user type name) without
// consuming it: true when the value is of a vocabulary type.
bool nextValueAllowed(QIODevice *device)
{
    static const QByteArray fileType = QByteArrayLiteral("VokImage::File");
    const QByteArray head = device->peek(4 + 1 + 4 + fileType.size() + 1);
    if (head.size() < 5)
        return false;
    const quint32 type = qFromBigEndian<quint32>(head.constData());
    if (type != QMetaType::User)
        return plainType(type);
    if (head.size() < 9 + fileType.size() + 1)
        return false;
    const quint32 nameLength = qFromBigEndian<quint32>(head.constData() + 5);
    return nameLength == quint32(fileType.size() + 1)
        && head.mid(9, fileType.size() + 1) == fileType + '\0';
}

// A date and time that can be written again: a time zone read from the stream may be one the
// system does not know, and Qt cannot write such a value back.
bool sound(const QDateTime &time)
{
    return time.timeSpec() != Qt::TimeZone || time.timeZone().isValid();
}

bool sound(const QVariant &value)
{
    if (value.userType() == QMetaType::QDateTime)
        return sound(value.toDateTime());
    if (value.userType() == qMetaTypeId<File>())
        return sound(value.value<File>().lastModified);
    return true;
}

} // namespace

QByteArray PropertiesToByteArray(const QMap<QString, QVariant> &properties)
{
    ensureFileTypeRegistered();
    QByteArray data;
    QDataStream stream(&data, QIODevice::WriteOnly);
    stream << qint32(properties.size());
    auto it = properties.constEnd();
    while (it != properties.constBegin()) {
        --it;
        stream << it.key() << it.value();
    }
    return data;
}

QMap<QString, QVariant> ByteArrayToProperties(QByteArray data)
{
    ensureFileTypeRegistered();
    QMap<QString, QVariant> properties;
    QDataStream stream(&data, QIODevice::ReadOnly);
    quint32 count = 0;
    stream >> count;
    if (stream.status() != QDataStream::Ok)
        return properties;
    // Each entry takes at least a key length, a value type and a null flag.
    if (count > quint32(data.size() / 9))
        return properties;
    try {
        for (quint32 i = 0; i < count; ++i) {
            QString key;
            QVariant value;
            stream >> key;
            if (stream.status() != QDataStream::Ok || !nextValueAllowed(stream.device()))
                return {};
            stream >> value;
            if (stream.status() != QDataStream::Ok || !sound(value))
                return {};
            // Duplicate keys are kept; the later one is found first.
            QT_WARNING_PUSH
            QT_WARNING_DISABLE_DEPRECATED
            properties.insertMulti(key, value);
            QT_WARNING_POP
        }
    } catch (const std::bad_alloc &) {
        return {};
    }
    return properties;
}

} // namespace Utils
} // namespace VokImage
