// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <QImage>
#include <QProcess>
#include <QSize>
#include <QStringList>

#include <X11/Xlib.h>

// An Xvfb server of its own, stopped by the destructor.
class XServer
{
public:
    // One screen of @p size, with the server's further @p options (e.g. "-extension", "MIT-SHM"
    // to turn an extension off).
    explicit XServer(const QSize &size, const QStringList &options = {});
    // Screens of @p sizes, without RandR, so that Qt names each screen apart (":N.0", ":N.1").
    explicit XServer(const QList<QSize> &sizes);
    ~XServer();
    XServer(const XServer &) = delete;
    XServer &operator=(const XServer &) = delete;

    Display *display() const { return m_display; }
    QString name() const { return m_name; }
    Window root(int screen = -1) const;
    // The pixels of the root window of @p screen (the default one when -1).
    QImage rootImage(int screen = -1) const;
    Pixmap pixmapProperty(const char *name) const;
    // True when @p pixmap is a drawable of the server.
    bool exists(Pixmap pixmap) const;
    bool xrandr(const QStringList &arguments) const;

private:
    void start(const QStringList &arguments);

    QString m_name;
    QProcess m_process;
    Display *m_display = nullptr;
};
