#include <vokimage/cache.h>

#include "cache_p.h"

namespace VokImage {
namespace Cache {

Image searchCacheWithDifferentLogos(const QMap<QString, QVariant> &properties, bool *ok)
{
    Q_UNUSED(properties);
    if (ok)
        *ok = false;
    return Image();
}

Image getImageCacheWithOverloadedLogo(const QMap<QString, QVariant> &properties)
{
    return getImageCacheWithoutOverloadedLogo(properties);
}

} // namespace Cache
} // namespace VokImage
