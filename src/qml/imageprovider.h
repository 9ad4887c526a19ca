// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <QQuickAsyncImageProvider>

namespace VokImage {

// image://vokimage/KIND/X,Y,WxH@RATIO[/anything]: the picture the library gives for the screen
// X,Y,WxH (logical pixels) at RATIO, requested off the interface thread. KIND is background,
// wallpaper, logo, or one of them after "greeter-". What follows a further slash is ignored
// (a revision, so that a binding can ask again).
class ImageProvider : public QQuickAsyncImageProvider
{
public:
    QQuickImageResponse *requestImageResponse(const QString &id, const QSize &requested) override;
};

} // namespace VokImage
