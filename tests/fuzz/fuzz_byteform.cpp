// Fuzzes the byte form reader.
#include <vokimage/vokimage.h>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    const QMap<QString, QVariant> map = VokImage::Utils::ByteArrayToProperties(bytes);
    // What was read must write back to the same map.
    if (!map.isEmpty()
        && VokImage::Utils::ByteArrayToProperties(VokImage::Utils::PropertiesToByteArray(map))
            != map)
        __builtin_trap();
    return 0;
}
