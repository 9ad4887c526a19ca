// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// The tool's Wayland side: the choice of the session, the compositor's layer-shell, and one
// background-layer surface per output.
#pragma once

#include <vokimage/vokimage.h>

#include <QImage>
#include <QRasterWindow>
#include <QVariantAnimation>

class QScreen;

namespace Tool {
namespace Wayland {

/**
 * True when apply with @p arguments (the command's own, "apply" first) is to show the
 * backgrounds on Wayland: forced by --wayland, refused by --x11, else a Wayland session
 * (WAYLAND_DISPLAY set, or XDG_SESSION_TYPE "wayland").
 */
bool chosen(const QStringList &arguments);

/// Why no background can be shown on the Wayland compositor; empty when it can. A tool built
/// without its Wayland side says so.
QString compositorProblem();

/// Before the application object: Qt's Wayland platform with the layer-shell.
void prepare();

#ifdef VOKIMAGE_WITH_WAYLAND
/// One output's background: a background-layer surface anchored to every edge, ignored by
/// the other layers' exclusive zones, never focused.
class Surface : public QRasterWindow
{
public:
    explicit Surface(QScreen *screen);

    /// The output the picture shown was made for.
    const VokImage::Screen &output() const { return m_output; }
    /// Shows @p picture, made for @p output, cross-faded in over @p fadeMs over the picture
    /// shown (at once when there is none).
    void showPicture(const VokImage::Screen &output, const QImage &picture, int fadeMs);

protected:
    /// A size beyond the render limits (an output scaled far down) hides the surface before Qt
    /// makes a buffer of that size; the next refresh drops it.
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    VokImage::Screen m_output;
    QImage m_picture;
    // The picture faded out, kept only while a fade runs, and how far the new one is in.
    QImage m_previous;
    QVariantAnimation m_fade;
    qreal m_share = 1;
};
#endif

} // namespace Wayland
} // namespace Tool
