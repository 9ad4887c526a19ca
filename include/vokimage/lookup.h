// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <vokimage/cache.h>
#include <vokimage/export.h>
#include <vokimage/image.h>

#include <QFuture>
#include <QMap>
#include <QRect>
#include <QSharedDataPointer>
#include <QString>
#include <QVariant>

namespace VokImage {

class ScreenData;
class LookupData;

/**
 * A screen as a lookup sees it: its geometry in device-independent pixels (as
 * QScreen::geometry() gives it), its device pixel ratio, the union of all screens for the Span
 * placement, and the output's name (as QScreen::name(), RandR and Wayland give it) for a picture
 * of its own. Implicitly shared.
 *
 * A ratio other than 1 gives a picture of round(size x ratio) device pixels with
 * QImage::devicePixelRatio() equal to the ratio: the wallpaper is rendered from its source at
 * device resolution, the logo keeps its logical size and place (a raster logo's "@2x" file is
 * preferred when there is one), and the maps hold device rectangles and the ratio
 * (Keys::ImageDevicePixelRatio, Keys::LogoDevicePixelRatio). A ratio that is not finite, not
 * positive, above 8 or that would make a side larger than 16384 pixels or the picture larger
 * than 134,217,728 pixels is taken as 1, with a warning.
 *
 * With a name, the theme's WallPaper[NAME] and WallPaperPos[NAME] (the greeter's group
 * [background][NAME] with path and position) win for that output. Without a union, the running
 * application's screens give it when the lookup runs on the application's thread (or when
 * Lookup::request() is called there); elsewhere the screen alone.
 */
class VOKIMAGE_EXPORT Screen
{
public:
    Screen();
    explicit Screen(const QRect &geometry, qreal devicePixelRatio = 1);
    Screen(const Screen &other);
    Screen &operator=(const Screen &other);
    ~Screen();

    QRect geometry() const;
    void setGeometry(const QRect &geometry);
    qreal devicePixelRatio() const;
    void setDevicePixelRatio(qreal ratio);
    /// The union of all screens; invalid when not set.
    QRect desktop() const;
    void setDesktop(const QRect &desktop);
    /// The output's name; empty when not set.
    QString name() const;
    void setName(const QString &name);

    bool operator==(const Screen &other) const;
    bool operator!=(const Screen &other) const { return !(*this == other); }

private:
    QSharedDataPointer<ScreenData> d;
};

/**
 * One lookup of a picture: the wallpaper, the logo or the whole background of a screen, for the
 * desktop or the greeter, run on the calling thread (read()) or on the library's workers
 * (request()). After it ran it tells where the picture came from and, when there is none, why.
 * For a screen of ratio 1 without name and union, the maps, cache files and pixels are those of
 * the functions of api.h (getBackground(), getOrvLogo(), ...). Implicitly shared.
 *
 * @code
 * VokImage::Lookup lookup(VokImage::Screen(screen->geometry(), screen->devicePixelRatio()));
 * const VokImage::Image background = lookup.read();
 * if (background.image.isNull())
 *     qWarning() << "no background:" << lookup.errorString();
 * @endcode
 */
class VOKIMAGE_EXPORT Lookup
{
public:
    enum Layer {
        Background, ///< wallpaper and logo (the desktop's logo variant chosen by brightness)
        Wallpaper, ///< the wallpaper alone
        Logo, ///< the logo alone, transparent elsewhere
    };
    enum Side {
        Desktop, ///< the session's theme
        Greeter, ///< the display manager's greeter settings
    };
    enum Error {
        NoError, ///< a picture was produced, or the lookup has not run
        ScreenError, ///< the screen is empty or beyond the picture limits
        PictureError, ///< the configured wallpaper or logo could not be read or drawn
        NoApplicationError, ///< a request made without a running application
    };

    Lookup();
    explicit Lookup(const Screen &screen, Layer layer = Background, Side side = Desktop);
    Lookup(const Lookup &other);
    Lookup &operator=(const Lookup &other);
    ~Lookup();

    Screen screen() const;
    Layer layer() const;
    Side side() const;

    /**
     * The property map the picture is looked up by, read from the configuration now: the
     * wallpaper's, the logo's, or both merged for the background (the desktop's wallpaper
     * entries win, the greeter's logo entries).
     */
    QMap<QString, QVariant> properties() const;

    /// Looks the picture up on the calling thread: from the cache, or rendered and stored.
    Image read();
    /**
     * Returns at once; a copy of this lookup is read on the library's pool of worker threads (as
     * many as the machine has cores), and is the future's result. Several requests run in
     * parallel. A request cancelled (QFuture::cancel) before a worker takes it is dropped: it
     * finishes without a result. A request made without a running application finishes at once
     * with NoApplicationError. Watch the future with a QFutureWatcher to be told on the
     * caller's thread.
     */
    QFuture<Lookup> request() const;

    /// The record of the last read(); empty before it.
    Image image() const;
    /// Where the last read() found its picture.
    Cache::Origin origin() const;
    Error error() const;
    /// Why the last read() gave no picture: the first message about the picture the library
    /// wrote while it ran (as in the log, category "vokimage.render"); empty when there is a
    /// picture. Written or not, as the logging rules say, the message is kept here.
    QString errorString() const;

private:
    QSharedDataPointer<LookupData> d;
};

} // namespace VokImage

Q_DECLARE_METATYPE(VokImage::Lookup)
