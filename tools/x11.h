// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// The tool's X11 side: geometry strings, the monitors of a display and the root window's
// background. Only this file's implementation sees the X11 headers.
#pragma once

#include <QImage>
#include <QList>
#include <QRect>
#include <QString>

#include <memory>

struct _XDisplay;

namespace Tool {
namespace X11 {

/// "WIDTHxHEIGHT[{+-}X{+-}Y]" through XParseGeometry; null unless both sizes are given and
/// positive.
QRect parseGeometry(const QString &text);

struct Monitor
{
    QString name;
    QRect rect;
};

/// Why no connection to the display named by DISPLAY could be made, for a message.
QString displayError();

/// A connection to the X display named by DISPLAY, closed by its destructor.
class Connection
{
public:
    Connection();
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    bool isOpen() const { return m_display != nullptr; }
    _XDisplay *display() const { return m_display; }
    /// The root window's size.
    QSize rootSize() const;
    /// RandR 1.5 monitors where the server has them, else the active CRTCs, else the root.
    QList<Monitor> monitors() const;

    /// Asks for RandR screen and CRTC change events; their file descriptor for a notifier.
    int watchLayout();
    /// True when a layout change event was waiting (all waiting events are consumed).
    bool takeLayoutChange();

private:
    _XDisplay *m_display = nullptr;
    int m_randrEvent = -1;
};

/// A picture and where its top left corner lies on the root window.
struct Placed
{
    QPoint position;
    QImage picture;
};

/**
 * Makes @p pictures, in order (a later one over an earlier one), the root window's background:
 * a pixmap of the root's size, depth and visual that outlives this process, black where no
 * picture lies, published as _XROOTPMAP_ID and ESETROOT_PMAP_ID. Each picture goes to the
 * server from its own memory, without a root-sized copy. With @p fadeMs above 0 and a previous
 * background of the same size, the new one fades in over it for that long, each frame composed
 * in the server (XRender); then it shows exactly as itself. The resources of the previous such
 * pixmap are freed. False, with @p error, when it fails.
 */
bool setRootBackground(const QList<Placed> &pictures, QString *error, int fadeMs = 0);

} // namespace X11
} // namespace Tool
