// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// The tool's Wayland side: the choice of the session, the compositor's layer-shell, and one
// background-layer surface per output.
#pragma once

#include <vokimage/vokimage.h>

#include <QImage>
#include <QVariantAnimation>
#include <QWindow>

#include <memory>

class QBackingStore;

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
/// the other layers' exclusive zones, never focused. Once the compositor has a picture, the
/// surface keeps neither the picture nor a buffer of its own: the compositor holds the pixels.
class Surface : public QWindow
{
public:
    explicit Surface(QScreen *screen);
    ~Surface() override;

    /// The output the picture shown was made for.
    const VokImage::Screen &output() const { return m_output; }
    /// Shows the picture of @p record, made for @p output, cross-faded in over @p fadeMs over
    /// the picture shown, which is read back from the cache (at once when there is none, or
    /// the cache no longer has it).
    void showPicture(const VokImage::Screen &output, const VokImage::Image &record, int fadeMs);

protected:
    /// A size beyond the render limits (an output scaled far down) hides the surface before a
    /// buffer of that size is made; the next refresh drops it.
    bool event(QEvent *event) override;
    void exposeEvent(QExposeEvent *event) override;

private:
    /// Hands the compositor a frame: the picture, over the one fading out at its share. A
    /// backing store lives for that frame alone, or for the whole fade.
    void present();

    VokImage::Screen m_output;
    // The map of the picture shown, by which the cache gives it back for a fade.
    QMap<QString, QVariant> m_shownProperties;
    // The picture until the compositor has it, and the one fading out, only while a fade runs.
    QImage m_picture;
    QImage m_previous;
    std::unique_ptr<QBackingStore> m_fadeStore;
    QVariantAnimation m_fade;
    qreal m_share = 1;
};
#endif

} // namespace Wayland
} // namespace Tool
