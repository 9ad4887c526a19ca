// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include <vokimage/render.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <iterator>

namespace VokImage {

QPoint fitToScreen(QRect rect, QRect screen)
{
    int x = std::max(rect.left(), screen.left());
    int y = std::max(rect.top(), screen.top());
    if (x + rect.width() > screen.right() + 1)
        x = screen.right() + 1 - rect.width();
    if (y + rect.height() > screen.bottom() + 1)
        y = screen.bottom() + 1 - rect.height();
    return QPoint(x - screen.left(), y - screen.top());
}

namespace {

// Where a logo's centre lies along one side of length d: at the first sixth, the half, or the
// last sixth (measured from the far end, so that both edges keep the same margin).
enum class Sixth { First, Half, Last };

int along(Sixth sixth, int d)
{
    switch (sixth) {
    case Sixth::First:
        return d / 6;
    case Sixth::Half:
        return d / 2;
    default:
        return d - d / 6;
    }
}

// The logo anchors in the order of LogoPosition's numbers 0 to 8.
constexpr struct
{
    Sixth x, y;
} Anchors[] = {
    { Sixth::Last, Sixth::Last }, // BottomRight
    { Sixth::First, Sixth::Last }, // BottomLeft
    { Sixth::Half, Sixth::Last }, // Bottom
    { Sixth::Last, Sixth::First }, // TopRight
    { Sixth::First, Sixth::First }, // TopLeft
    { Sixth::Half, Sixth::First }, // Top
    { Sixth::Last, Sixth::Half }, // Right
    { Sixth::Half, Sixth::Half }, // Center
    { Sixth::First, Sixth::Half }, // Left
};

} // namespace

QPoint getLogoPosition(QSize size, QRect area, LogoPosition position)
{
    const auto index = static_cast<unsigned>(position);
    int x = 0, y = 0;
    // NotShow and numbers outside the table are not anchored: the top-left corner.
    if (index < std::size(Anchors)) {
        x = area.left() + along(Anchors[index].x, area.width()) - size.width() / 2;
        y = area.top() + along(Anchors[index].y, area.height()) - size.height() / 2;
    }
    return fitToScreen(QRect(x, y, size.width(), size.height()), area);
}

QPoint getLogoPositionX11(QSize size, QRect screen, const QString &geometry)
{
    int x = 0, y = 0;
    unsigned int width = 0, height = 0;
    const QByteArray text = geometry.toUtf8();
    const int mask = XParseGeometry(text.constData(), &x, &y, &width, &height);
    qint64 left = screen.left();
    qint64 top = screen.top();
    if ((mask & XValue) && (mask & YValue)) {
        left = (mask & XNegative) ? qint64(screen.right()) + 1 + x - size.width() : x;
        top = (mask & YNegative) ? qint64(screen.bottom()) + 1 + y - size.height() : y;
    }
    // Far outside any screen the result is the same edge: keep the arithmetic in range.
    constexpr qint64 Reach = 1 << 24;
    return fitToScreen(QRect(int(qBound(-Reach, left, Reach)), int(qBound(-Reach, top, Reach)),
                           size.width(), size.height()),
        screen);
}

bool isTextColorBlack(const QColor &colour)
{
    if (!colour.isValid())
        return true;
    const double luminance
        = (0.299 * colour.red() + 0.587 * colour.green() + 0.114 * colour.blue()) / 255.0;
    return luminance > 0.54;
}

int isTextWhiteFor(const QImage &image, const QRect &rect)
{
    const int L = rect.left(), T = rect.top(), W = rect.width(), H = rect.height();
    const int xs[] = { L + W / 6, L + W / 2, L + (5 * W) / 6 };
    const int ys[] = { T + H / 6, T + H / 2, T + (5 * H) / 6 };
    const int inner[] = { L + W / 3, L + (2 * W) / 3 };
    const int innerY[] = { T + H / 3, T + (2 * H) / 3 };
    int dark = 0;
    auto sample = [&](int x, int y) {
        const QColor colour = image.valid(x, y) ? image.pixelColor(x, y) : QColor();
        if (!isTextColorBlack(colour))
            ++dark;
    };
    for (int x : xs)
        for (int y : ys)
            sample(x, y);
    for (int x : inner)
        for (int y : innerY)
            sample(x, y);
    if (dark > 8)
        return 1;
    if (dark >= 3)
        return -1;
    return 0;
}

QString containsColor(const QString &text, const QStringList &colours)
{
    for (const QString &colour : colours) {
        if (text.indexOf(colour, 0, Qt::CaseInsensitive) >= 0)
            return colour;
    }
    return QString();
}

} // namespace VokImage
