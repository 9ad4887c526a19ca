// Fuzzes the byte form reader.
#include <vokimage/vokimage.h>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    const QMap<QString, QVariant> map = VokImage::Utils::ByteArrayToProperties(bytes);
    // What was read writes back to bytes that read as the same map (compared as bytes: a NaN
    // value is not equal to itself).
    if (!map.isEmpty()) {
        const QByteArray once = VokImage::Utils::PropertiesToByteArray(map);
        const QByteArray twice
            = VokImage::Utils::PropertiesToByteArray(VokImage::Utils::ByteArrayToProperties(once));
        if (once != twice)
            __builtin_trap();
    }
    return 0;
}
