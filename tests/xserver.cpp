// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "xserver.h"

#include <QFileInfo>
#include <QThread>

#include <X11/Xutil.h>

XServer::XServer(const QSize &size, const QStringList &options)
{
    start(options
        + QStringList { QStringLiteral("-screen"), QStringLiteral("0"),
            QStringLiteral("%1x%2x24").arg(size.width()).arg(size.height()) });
}

XServer::XServer(const QList<QSize> &sizes)
{
    QStringList arguments = QStringLiteral("-extension RANDR").split(QLatin1Char(' '));
    for (int i = 0; i < sizes.size(); ++i)
        arguments << QStringLiteral("-screen") << QString::number(i)
                  << QStringLiteral("%1x%2x24").arg(sizes[i].width()).arg(sizes[i].height());
    start(arguments);
}

void XServer::start(const QStringList &arguments)
{
    for (int number = 40; number < 90; ++number) {
        if (QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number))
            || QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
            continue;
        m_name = QStringLiteral(":%1").arg(number);
        break;
    }
    // No abstract socket: the tests' sandboxes share one network namespace but not /tmp, so
    // two of them would both take :40 there, and a client could reach the other's server.
    m_process.start(QStringLiteral("Xvfb"),
        QStringList { m_name } + arguments
            + QStringLiteral("-noreset -nolisten tcp -nolisten local").split(QLatin1Char(' ')));
    if (!m_process.waitForStarted(10000))
        return;
    const QByteArray name = m_name.toLatin1();
    for (int i = 0; i < 100 && !m_display; ++i) {
        m_display = XOpenDisplay(name.constData());
        if (!m_display)
            QThread::msleep(100);
    }
}

XServer::~XServer()
{
    if (m_display)
        XCloseDisplay(m_display);
    m_process.terminate();
    m_process.waitForFinished(5000);
}

Window XServer::root(int screen) const
{
    return RootWindow(m_display, screen < 0 ? DefaultScreen(m_display) : screen);
}

QImage XServer::rootImage(int screen) const
{
    const int number = screen < 0 ? DefaultScreen(m_display) : screen;
    const int width = DisplayWidth(m_display, number), height = DisplayHeight(m_display, number);
    XImage *image = XGetImage(m_display, RootWindow(m_display, number), 0, 0, unsigned(width),
        unsigned(height), AllPlanes, ZPixmap);
    if (!image)
        return QImage();
    QImage picture(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            picture.setPixel(x, y, 0xff000000u | (XGetPixel(image, x, y) & 0xffffff));
    XDestroyImage(image);
    return picture;
}

Pixmap XServer::pixmapProperty(const char *name) const
{
    const Atom property = XInternAtom(m_display, name, False);
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char *data = nullptr;
    Pixmap pixmap = None;
    if (XGetWindowProperty(m_display, root(), property, 0, 1, False, AnyPropertyType, &type,
            &format, &items, &after, &data)
            == Success
        && items == 1 && data)
        pixmap = *reinterpret_cast<Pixmap *>(data);
    if (data)
        XFree(data);
    return pixmap;
}

bool XServer::exists(Pixmap pixmap) const
{
    static bool failed = false;
    failed = false;
    XSync(m_display, False);
    const XErrorHandler previous
        = XSetErrorHandler([](Display *, XErrorEvent *) { return failed = true, 0; });
    Window root = 0;
    int x = 0, y = 0;
    unsigned width = 0, height = 0, border = 0, depth = 0;
    XGetGeometry(m_display, pixmap, &root, &x, &y, &width, &height, &border, &depth);
    XSync(m_display, False);
    XSetErrorHandler(previous);
    return !failed;
}

bool XServer::xrandr(const QStringList &arguments) const
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_name);
    process.setProcessEnvironment(env);
    process.start(QStringLiteral("xrandr"), arguments);
    return process.waitForFinished(10000) && process.exitCode() == 0;
}
