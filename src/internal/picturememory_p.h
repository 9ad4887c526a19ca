// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

// Memory for large pictures: mapped on its own and offered to the kernel for huge pages, so that
// writing a screen-sized picture the first time costs a few page faults instead of thousands.

#include <QImage>
#include <QSize>

namespace VokImage {
namespace PictureMemory {

/// Pictures from this many bytes get memory of their own.
constexpr qsizetype LargeBytes = qsizetype(4) << 20;

/// A picture of @p size in @p format, every byte zero. Large 32-bit pictures live in memory of
/// their own, given back to the system as the last copy goes; others are plain QImages. Null
/// when there is no memory for it.
QImage zeroed(const QSize &size, QImage::Format format);

} // namespace PictureMemory
} // namespace VokImage
