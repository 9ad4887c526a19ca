#include <vokimage/cache.h>

#include "vocabulary_p.h"

#include <QDataStream>

#include <new>

namespace VokImage {
namespace Utils {

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
    try {
        for (quint32 i = 0; i < count; ++i) {
            QString key;
            QVariant value;
            stream >> key >> value;
            if (stream.status() != QDataStream::Ok)
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
