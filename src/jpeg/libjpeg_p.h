// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

// The libjpeg layer: a decompressor over bytes in memory whose failures and warnings come back
// as false, and the layout of a picture as Qt's reader decodes it.

#include <QByteArray>
#include <QColorSpace>
#include <QImage>
#include <QSize>

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace VokImage {
namespace Jpeg {

struct JpegError
{
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    bool warned = false;
};

/// Jumps back to Decompressor::run() with the failure.
[[noreturn]] void jpegFail(j_common_ptr info);
/// Remembers a warning (level -1); drops trace messages.
void jpegNote(j_common_ptr info, int level);

// A decompressor reading @p data, destroyed with it. Calls into libjpeg go through run(),
// which returns false when libjpeg fails or warns.
class Decompressor
{
public:
    explicit Decompressor(const QByteArray &data)
    {
        info.err = jpeg_std_error(&error.manager);
        error.manager.error_exit = jpegFail;
        error.manager.emit_message = jpegNote;
        jpeg_create_decompress(&info);
        jpeg_mem_src(&info, reinterpret_cast<const unsigned char *>(data.constData()),
            static_cast<unsigned long>(data.size()));
    }
    ~Decompressor() { jpeg_destroy_decompress(&info); }
    Decompressor(const Decompressor &) = delete;
    Decompressor &operator=(const Decompressor &) = delete;

    template <typename Step> bool run(Step step)
    {
        if (setjmp(error.jump))
            return false;
        step();
        return !error.warned;
    }

    jpeg_decompress_struct info;
    JpegError error;
};
// What the decoders take from a JPEG's header, read as Qt's reader reads it.
struct JpegLayout
{
    unsigned int scale = 8; // M of libjpeg's M/8 scaling
    QSize decoded; // the size at that scale
    int rowGroup = 1; // rows of an iMCU row at that scale
    // Upsampling reads the rows around each row: a skip decodes its last iMCU row whole.
    bool contextRows = false;
    int densityUnit = 0;
    int densityX = 0;
    int densityY = 0;
    QByteArray iccProfile;

    // The dots per metre of Qt's reader.
    void describe(QImage *image) const
    {
        if (densityUnit == 1) {
            image->setDotsPerMeterX(int(100. * densityX / 2.54));
            image->setDotsPerMeterY(int(100. * densityY / 2.54));
        } else if (densityUnit == 2) {
            image->setDotsPerMeterX(int(100. * densityX));
            image->setDotsPerMeterY(int(100. * densityY));
        }
    }
    void setColorSpace(QImage *image) const
    {
        if (!iccProfile.isEmpty())
            image->setColorSpace(QColorSpace::fromIccProfile(iccProfile));
    }
};

// The layout of the baseline colour JPEG @p data decoded to cover @p scaledSize: M/8 scaling
// with the smallest M that still covers it, and the ICC profile from the APP2 markers in file
// order. False for pictures decoded only by Qt's reader (progressive, grey, CMYK) and when
// libjpeg fails or warns.
bool readLayout(const QByteArray &data, const QSize &scaledSize, JpegLayout *layout);

} // namespace Jpeg
} // namespace VokImage
