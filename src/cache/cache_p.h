#pragma once

#include <vokimage/cache.h>

namespace VokImage {
namespace Cache {

/// A map's byte form and the file name made from it, computed once per lookup.
struct Key
{
    QByteArray bytes;
    QString name;
};

Key keyOf(const QMap<QString, QVariant> &properties);
/// True when something exists at the key's name (links included).
bool exists(const Key &key);
Image load(const QMap<QString, QVariant> &properties, const Key &key, bool *ok);
bool save(const Image &image, const Key &key);
/// Renders @p properties and stores the record; the empty record when rendering fails.
Image renderAndStore(const QMap<QString, QVariant> &properties, const Key &key);

} // namespace Cache
} // namespace VokImage
