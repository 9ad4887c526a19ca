// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "internal/picturememory_p.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <sys/mman.h>

namespace VokImage {
namespace PictureMemory {

namespace {

constexpr size_t HugePage = size_t(2) << 20;
constexpr size_t Page = 4096;

struct Mapping
{
    void *start;
    size_t length;
};

void unmap(void *info)
{
    const std::unique_ptr<Mapping> mapping(static_cast<Mapping *>(info));
    ::munmap(mapping->start, mapping->length);
}

bool is32Bit(QImage::Format format)
{
    return format == QImage::Format_RGB32 || format == QImage::Format_ARGB32
        || format == QImage::Format_ARGB32_Premultiplied;
}

// Maps @p bytes starting on a huge-page boundary, so that every whole huge page of the picture
// can be one; null when there is no memory.
void *mapAligned(size_t bytes, size_t *length)
{
    *length = (bytes + Page - 1) & ~(Page - 1);
    const size_t reserved = *length + HugePage;
    void *base
        = ::mmap(nullptr, reserved, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED)
        return nullptr;
    const uintptr_t begin = reinterpret_cast<uintptr_t>(base);
    const uintptr_t start = (begin + HugePage - 1) & ~uintptr_t(HugePage - 1);
    if (start > begin)
        ::munmap(base, start - begin);
    const uintptr_t end = begin + reserved;
    if (end > start + *length)
        ::munmap(reinterpret_cast<void *>(start + *length), end - (start + *length));
    return reinterpret_cast<void *>(start);
}

} // namespace

QImage zeroed(const QSize &size, QImage::Format format)
{
    const qint64 bytes = qint64(size.width()) * size.height() * 4;
    if (!is32Bit(format) || size.isEmpty() || bytes < LargeBytes
        || bytes > std::numeric_limits<int>::max()) {
        QImage image(size, format);
        if (!image.isNull())
            std::memset(image.bits(), 0, size_t(image.sizeInBytes()));
        return image;
    }
    auto mapping = std::make_unique<Mapping>();
    mapping->start = mapAligned(size_t(bytes), &mapping->length);
    if (!mapping->start)
        return QImage();
#ifdef MADV_HUGEPAGE
    // Only advice: where huge pages are off or none is free, the pages are small.
    ::madvise(mapping->start, mapping->length, MADV_HUGEPAGE);
#endif
    QImage image(static_cast<uchar *>(mapping->start), size.width(), size.height(),
        size.width() * 4, format, unmap, mapping.get());
    if (image.isNull()) {
        ::munmap(mapping->start, mapping->length);
        return QImage();
    }
    mapping.release();
    return image;
}

} // namespace PictureMemory
} // namespace VokImage
