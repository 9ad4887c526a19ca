// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

// libpng reading from memory and errors that jump back, for the PNG codec's files.

#include <png.h>

#include <csetjmp>
#include <cstring>
#include <functional>

namespace VokImage {
namespace PngMemory {

/// The bytes a read struct reads from.
struct Source
{
    const unsigned char *data;
    size_t size;
    size_t offset;
    // Told the offset read up to each time another ReportBytes have been read; may be null.
    const std::function<void(size_t)> *progress = nullptr;
    size_t reported = 0;
    static constexpr size_t ReportBytes = size_t(1) << 20;
};

/// The read function of png_set_read_fn() for a Source; data cut short is an error.
inline void read(png_structp png, png_bytep data, png_size_t length)
{
    auto *source = static_cast<Source *>(png_get_io_ptr(png));
    if (length > source->size - source->offset)
        png_error(png, "truncated");
    memcpy(data, source->data + source->offset, length);
    source->offset += length;
    if (source->progress && source->offset - source->reported >= Source::ReportBytes) {
        source->reported = source->offset;
        (*source->progress)(source->offset);
    }
}

/// The error function: back to the setjmp() of guarded().
[[noreturn]] inline void fail(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

inline void ignoreWarning(png_structp, png_const_charp)
{ }

/**
 * Runs @p body, which calls libpng on @p png, with libpng's errors caught: false when one
 * jumped back. The one way the codec handles libpng's errors. @p body keeps no object with a
 * destructor of its own across a libpng call: the jump would skip it.
 */
template <typename Body> bool guarded(png_structp png, Body &&body)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    body();
    return true;
}

/// A libpng read struct and its info struct, reporting through fail(); destroyed with it.
class ReadStruct
{
public:
    ReadStruct()
        : png(png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, fail, ignoreWarning))
    {
        if (png)
            info = png_create_info_struct(png);
    }
    ~ReadStruct() { png_destroy_read_struct(&png, &info, nullptr); }
    ReadStruct(const ReadStruct &) = delete;
    ReadStruct &operator=(const ReadStruct &) = delete;

    bool isValid() const { return info; }

    png_structp png;
    png_infop info = nullptr;
};

} // namespace PngMemory
} // namespace VokImage
