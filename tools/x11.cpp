// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "x11.h"

#include "png/png_p.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QPainter>
#include <QRegion>
#include <QThread>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/Xrender.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <array>
#include <cstdlib>
#include <cstring>

namespace Tool {
namespace X11 {

QString displayError()
{
    const QString name = QString::fromLocal8Bit(qgetenv("DISPLAY"));
    return name.isEmpty() ? QStringLiteral("cannot open an X display: DISPLAY is not set")
                          : QStringLiteral("cannot open the X display %1").arg(name);
}

QRect parseGeometry(const QString &text)
{
    int x = 0, y = 0;
    unsigned int width = 0, height = 0;
    const QByteArray bytes = text.trimmed().toLatin1();
    if (bytes.isEmpty() || bytes.startsWith('='))
        return QRect();
    const int mask = XParseGeometry(bytes.constData(), &x, &y, &width, &height);
    if (!(mask & WidthValue) || !(mask & HeightValue) || width < 1 || height < 1 || width > 1u << 24
        || height > 1u << 24)
        return QRect();
    // "-0" places the right edge; as a screen origin it is the root's own 0.
    return QRect((mask & XValue) ? x : 0, (mask & YValue) ? y : 0, int(width), int(height));
}

Connection::Connection()
    : m_display(XOpenDisplay(nullptr))
{ }

Connection::~Connection()
{
    if (m_display)
        XCloseDisplay(m_display);
}

QSize Connection::rootSize() const
{
    const int screen = DefaultScreen(m_display);
    return QSize(DisplayWidth(m_display, screen), DisplayHeight(m_display, screen));
}

QList<Monitor> Connection::monitors() const
{
    QList<Monitor> list;
    const Window root = DefaultRootWindow(m_display);
    int event = 0, error = 0, major = 0, minor = 0;
    const bool randr = XRRQueryExtension(m_display, &event, &error)
        && XRRQueryVersion(m_display, &major, &minor);
    if (randr && (major > 1 || (major == 1 && minor >= 5))) {
        int count = 0;
        XRRMonitorInfo *info = XRRGetMonitors(m_display, root, True, &count);
        for (int i = 0; info && i < count; ++i) {
            char *name = XGetAtomName(m_display, info[i].name);
            list.append({ QString::fromLatin1(name),
                QRect(info[i].x, info[i].y, info[i].width, info[i].height) });
            XFree(name);
        }
        if (info)
            XRRFreeMonitors(info);
    }
    if (randr && list.isEmpty()) {
        XRRScreenResources *resources = XRRGetScreenResourcesCurrent(m_display, root);
        for (int i = 0; resources && i < resources->ncrtc; ++i) {
            XRRCrtcInfo *crtc = XRRGetCrtcInfo(m_display, resources, resources->crtcs[i]);
            if (crtc && crtc->mode != None && crtc->width > 0 && crtc->height > 0)
                list.append({ QStringLiteral("crtc-%1").arg(i),
                    QRect(crtc->x, crtc->y, int(crtc->width), int(crtc->height)) });
            if (crtc)
                XRRFreeCrtcInfo(crtc);
        }
        if (resources)
            XRRFreeScreenResources(resources);
    }
    if (list.isEmpty())
        list.append({ QStringLiteral("root"), QRect(QPoint(0, 0), rootSize()) });
    return list;
}

int Connection::watchLayout()
{
    // Monitors set or removed by a client (xrandr --setmonitor) announce themselves only as
    // a ConfigureNotify of the root window; outputs and CRTCs as RandR events.
    XSelectInput(m_display, DefaultRootWindow(m_display), StructureNotifyMask);
    int error = 0;
    if (XRRQueryExtension(m_display, &m_randrEvent, &error))
        XRRSelectInput(m_display, DefaultRootWindow(m_display),
            RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
    XFlush(m_display);
    return ConnectionNumber(m_display);
}

bool Connection::takeLayoutChange()
{
    bool changed = false;
    while (XPending(m_display) > 0) {
        XEvent event;
        XNextEvent(m_display, &event);
        if (event.type == ConfigureNotify
            || (m_randrEvent >= 0
                && (event.type == m_randrEvent + RRScreenChangeNotify
                    || event.type == m_randrEvent + RRNotify))) {
            XRRUpdateConfiguration(&event);
            changed = true;
        }
    }
    return changed;
}

namespace {

int ignoreErrors(Display *, XErrorEvent *)
{
    return 0;
}

bool errorSeen = false;

int noteError(Display *, XErrorEvent *)
{
    errorSeen = true;
    return 0;
}

Pixmap pixmapProperty(Display *display, Window root, Atom property)
{
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char *data = nullptr;
    Pixmap pixmap = None;
    if (XGetWindowProperty(display, root, property, 0, 1, False, AnyPropertyType, &type, &format,
            &items, &after, &data)
            == Success
        && type == XA_PIXMAP && format == 32 && items == 1 && data)
        pixmap = *reinterpret_cast<Pixmap *>(data);
    if (data)
        XFree(data);
    return pixmap;
}

// The position of a channel mask's lowest bit and its width.
void maskShape(unsigned long mask, int *shift, int *bits)
{
    *shift = 0;
    *bits = 0;
    while (mask && !(mask & 1)) {
        mask >>= 1;
        ++*shift;
    }
    while (mask & 1) {
        mask >>= 1;
        ++*bits;
    }
}

unsigned long channel(int value, unsigned long mask)
{
    int shift = 0, bits = 0;
    maskShape(mask, &shift, &bits);
    if (bits == 0)
        return 0;
    return (static_cast<unsigned long>(value) >> (8 - qMin(bits, 8)))
        << (shift + qMax(0, bits - 8));
}

// True when @p image has pixels of 32 bits laid out as RGB32's, with or without alpha.
bool is32Bit(const QImage &image)
{
    return image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32
        || image.format() == QImage::Format_ARGB32_Premultiplied;
}

// True when @p image's rows hold exactly what RGB32 would: opaque pixels of 32 bits.
bool sameBytesAsRgb32(const QImage &image)
{
    return image.format() == QImage::Format_RGB32
        || (is32Bit(image) && VokImage::Png::allOpaque(image, image.rect()));
}

bool isTrueColour(const Visual *visual)
{
    return visual->c_class == TrueColor || visual->c_class == DirectColor;
}

// True when @p image lays pixels out as Qt's RGB32 does.
bool nativeLayout(const XImage *image)
{
    return image->bits_per_pixel == 32 && image->red_mask == 0xff0000 && image->green_mask == 0xff00
        && image->blue_mask == 0xff
        && image->byte_order
        == (QSysInfo::ByteOrder == QSysInfo::LittleEndian ? LSBFirst : MSBFirst);
}

// A segment of shared memory (MIT-SHM) the X server copies rows from: pictures reach the server
// a band of rows at a time without going through the socket. The segment holds two bands, so
// that one is filled while the server copies the other. Not valid when the server cannot attach
// it (another machine, no extension).
class SharedBand
{
public:
    SharedBand(Display *display, Visual *visual, int depth, int width)
        : m_display(display)
    {
        if (width <= 0 || !XShmQueryExtension(display))
            return;
        const int rows = qMax(1, int(BandBytes / (size_t(width) * 4)));
        for (XImage *&image : m_images) {
            image = XShmCreateImage(display, visual, unsigned(depth), ZPixmap, nullptr, &m_info,
                unsigned(width), unsigned(rows));
            if (!image || !nativeLayout(image))
                return;
        }
        const size_t bandSize = size_t(m_images[0]->bytes_per_line) * size_t(rows);
        m_info.shmid = shmget(IPC_PRIVATE, 2 * bandSize, IPC_CREAT | 0600);
        if (m_info.shmid < 0)
            return;
        m_info.shmaddr = static_cast<char *>(shmat(m_info.shmid, nullptr, 0));
        // Removed at once, the segment goes when the server and this process detach it.
        const bool mapped = m_info.shmaddr != reinterpret_cast<char *>(-1);
        if (!mapped) {
            m_info.shmaddr = nullptr;
            shmctl(m_info.shmid, IPC_RMID, nullptr);
            return;
        }
        m_images[0]->data = m_info.shmaddr;
        m_images[1]->data = m_info.shmaddr + bandSize;
        m_info.readOnly = True;
        XSync(display, False);
        errorSeen = false;
        const XErrorHandler handler = XSetErrorHandler(noteError);
        const bool requested = XShmAttach(display, &m_info);
        XSync(display, False);
        m_attached = requested && !errorSeen;
        XSetErrorHandler(handler);
        shmctl(m_info.shmid, IPC_RMID, nullptr);
    }
    ~SharedBand()
    {
        if (m_attached) {
            XShmDetach(m_display, &m_info);
            XSync(m_display, False);
        }
        if (m_info.shmaddr)
            shmdt(m_info.shmaddr);
        for (XImage *image : m_images) {
            if (image) {
                image->data = nullptr;
                XDestroyImage(image);
            }
        }
    }
    SharedBand(const SharedBand &) = delete;
    SharedBand &operator=(const SharedBand &) = delete;

    bool isValid() const { return m_attached; }

    // Puts @p picture (32-bit, at most the band's width) at @p at into @p drawable. Rows are
    // copied as they are; a band with translucent pixels is drawn again as RGB32, as the whole
    // picture would be.
    void put(Drawable drawable, GC gc, const QImage &picture, const QPoint &at) const
    {
        const int rows = m_images[0]->height;
        const int width = picture.width();
        const size_t rowBytes = size_t(width) * 4;
        const bool alpha = picture.format() != QImage::Format_RGB32;
        for (int y = 0, next = 0; y < picture.height(); y += rows, next ^= 1) {
            XImage *image = m_images[size_t(next)];
            // The band's rows as a picture, to judge and convert them where they are.
            QImage band(reinterpret_cast<uchar *>(image->data), width, rows, image->bytes_per_line,
                QImage::Format_RGB32);
            const int count = qMin(rows, picture.height() - y);
            bool opaque = true;
            for (int i = 0; i < count; ++i) {
                std::memcpy(band.scanLine(i), picture.constScanLine(y + i), rowBytes);
                // The row just copied is judged while it is still in the processor's cache.
                opaque
                    = opaque && (!alpha || VokImage::Png::allOpaque(band, QRect(0, i, width, 1)));
            }
            if (!opaque) {
                QPainter painter(&band);
                painter.setCompositionMode(QPainter::CompositionMode_Source);
                painter.drawImage(QPoint(0, 0), picture, QRect(0, y, width, count));
            }
            // Once the round trip returns, the server has copied the band before this one, and
            // its half is free for the band after.
            if (y > 0)
                XSync(m_display, False);
            XShmPutImage(m_display, drawable, gc, image, 0, 0, at.x(), at.y() + y, unsigned(width),
                unsigned(count), False);
            XFlush(m_display);
        }
        XSync(m_display, False);
    }

private:
    static constexpr size_t BandBytes = size_t(1) << 20;

    Display *m_display;
    XShmSegmentInfo m_info {};
    std::array<XImage *, 2> m_images {};
    bool m_attached = false;
};

// Puts @p picture (RGB32, or opaque pixels of 32 bits) at @p at into @p drawable: straight from the
// picture's memory when the visual lays pixels out as Qt does, else converted pixel by pixel into
// an image of its own.
bool putPicture(Display *display, Drawable drawable, GC gc, Visual *visual, int depth,
    const QImage &picture, const QPoint &at)
{
    const unsigned width = unsigned(picture.width());
    const unsigned height = unsigned(picture.height());
    XImage *image = XCreateImage(display, visual, unsigned(depth), ZPixmap, 0, nullptr, width,
        height, 32, picture.bytesPerLine());
    if (!image)
        return false;
    if (nativeLayout(image)) {
        // Xlib only reads the rows; the picture keeps its memory.
        image->data = const_cast<char *>(reinterpret_cast<const char *>(picture.constBits()));
        XPutImage(display, drawable, gc, image, 0, 0, at.x(), at.y(), width, height);
        image->data = nullptr;
        XDestroyImage(image);
        return true;
    }
    XDestroyImage(image);
    image
        = XCreateImage(display, visual, unsigned(depth), ZPixmap, 0, nullptr, width, height, 32, 0);
    if (!image)
        return false;
    image->data = static_cast<char *>(std::malloc(size_t(image->bytes_per_line) * height));
    if (!image->data) {
        XDestroyImage(image);
        return false;
    }
    for (int y = 0; y < picture.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(picture.constScanLine(y));
        for (int x = 0; x < picture.width(); ++x)
            XPutPixel(image, x, y,
                channel(qRed(line[x]), image->red_mask)
                    | channel(qGreen(line[x]), image->green_mask)
                    | channel(qBlue(line[x]), image->blue_mask));
    }
    XPutImage(display, drawable, gc, image, 0, 0, at.x(), at.y(), width, height);
    XDestroyImage(image);
    return true;
}

// Puts @p pictures into @p drawable in order: a later picture lies over an earlier one where
// they overlap. Through shared memory when the server can attach it.
void putPictures(Display *display, Drawable drawable, GC gc, Visual *visual, int depth,
    const QList<Placed> &pictures)
{
    int widest = 0;
    for (const Placed &placed : pictures)
        widest = qMax(widest, placed.picture.width());
    const SharedBand band(display, visual, depth, widest);
    for (const Placed &placed : pictures) {
        QImage rgb = placed.picture;
        // The shared band takes any picture of 32 bits and converts what needs it on its way.
        if (!(band.isValid() && is32Bit(rgb)) && !sameBytesAsRgb32(rgb)) {
            rgb = QImage(placed.picture.size(), QImage::Format_RGB32);
            QPainter painter(&rgb);
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            painter.drawImage(0, 0, placed.picture);
        }
        if (band.isValid())
            band.put(drawable, gc, rgb, placed.position);
        else
            putPicture(display, drawable, gc, visual, depth, rgb, placed.position);
    }
}

} // namespace

namespace {

// True when @p pixmap exists with @p size and @p depth.
bool pixmapFits(Display *display, Pixmap pixmap, const QSize &size, int depth)
{
    Window root;
    int x, y;
    unsigned width = 0, height = 0, border, bits = 0;
    XSync(display, False);
    XErrorHandler handler = XSetErrorHandler(ignoreErrors);
    const Status found
        = XGetGeometry(display, pixmap, &root, &x, &y, &width, &height, &border, &bits);
    XSync(display, False);
    XSetErrorHandler(handler);
    return found && int(width) == size.width() && int(height) == size.height()
        && int(bits) == depth;
}

// Shows @p to fading in over @p from on @p root for @p ms: each frame is composed in the server
// into a pixmap of its own, the root's background meanwhile. False without XRender.
bool crossFade(Display *display, Window root, Visual *visual, int depth, Pixmap from, Pixmap to,
    const QSize &size, int ms)
{
    int eventBase = 0, errorBase = 0;
    XRenderPictFormat *format = XRenderQueryExtension(display, &eventBase, &errorBase)
        ? XRenderFindVisualFormat(display, visual)
        : nullptr;
    if (!format)
        return false;
    const auto width = unsigned(size.width()), height = unsigned(size.height());
    const Pixmap frame = XCreatePixmap(display, root, width, height, unsigned(depth));
    const Picture old = XRenderCreatePicture(display, from, format, 0, nullptr);
    const Picture fresh = XRenderCreatePicture(display, to, format, 0, nullptr);
    const Picture target = XRenderCreatePicture(display, frame, format, 0, nullptr);
    XSetWindowBackgroundPixmap(display, root, frame);
    constexpr int FrameMs = 16;
    QElapsedTimer timer;
    timer.start();
    for (qint64 elapsed = 0;; elapsed = timer.elapsed()) {
        const double share = qMin(1.0, double(elapsed) / ms);
        XRenderComposite(display, PictOpSrc, old, None, target, 0, 0, 0, 0, 0, 0, width, height);
        XRenderColor alpha { 0, 0, 0, quint16(qRound(share * 0xffff)) };
        const Picture mask = XRenderCreateSolidFill(display, &alpha);
        XRenderComposite(display, PictOpOver, fresh, mask, target, 0, 0, 0, 0, 0, 0, width, height);
        XRenderFreePicture(display, mask);
        XClearWindow(display, root);
        XSync(display, False);
        if (share >= 1)
            break;
        const qint64 next = (elapsed / FrameMs + 1) * FrameMs;
        QThread::msleep(qMax<qint64>(1, next - timer.elapsed()));
    }
    XRenderFreePicture(display, target);
    XRenderFreePicture(display, fresh);
    XRenderFreePicture(display, old);
    XSetWindowBackgroundPixmap(display, root, to);
    XFreePixmap(display, frame);
    return true;
}

} // namespace

bool setRootBackground(const QList<Placed> &pictures, QString *error, int fadeMs)
{
    // A connection of its own: closed with RetainPermanent, its pixmap outlives this process.
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        *error = displayError();
        return false;
    }
    const int screen = DefaultScreen(display);
    const Window root = RootWindow(display, screen);
    const int depth = DefaultDepth(display, screen);
    Visual *visual = DefaultVisual(display, screen);
    if (!isTrueColour(visual)) {
        XCloseDisplay(display);
        *error = QStringLiteral("the root window's visual is not a true-colour one");
        return false;
    }
    const QSize size(DisplayWidth(display, screen), DisplayHeight(display, screen));
    const Pixmap pixmap = XCreatePixmap(
        display, root, unsigned(size.width()), unsigned(size.height()), unsigned(depth));
    const GC gc = XCreateGC(display, pixmap, 0, nullptr);
    // What no picture covers is black.
    QRegion uncovered(QRect(QPoint(0, 0), size));
    for (const Placed &placed : pictures)
        uncovered -= QRect(placed.position, placed.picture.size());
    XSetForeground(display, gc, BlackPixel(display, screen));
    for (const QRect &rect : uncovered)
        XFillRectangle(display, pixmap, gc, rect.x(), rect.y(), unsigned(rect.width()),
            unsigned(rect.height()));
    putPictures(display, pixmap, gc, visual, depth, pictures);
    XFreeGC(display, gc);

    const Atom rootPixmap = XInternAtom(display, "_XROOTPMAP_ID", False);
    const Atom setRootPixmap = XInternAtom(display, "ESETROOT_PMAP_ID", False);
    // The picture shown fades into the new one before its client goes.
    if (fadeMs > 0) {
        const Pixmap shown = pixmapProperty(display, root, rootPixmap);
        if (shown != None && pixmapFits(display, shown, size, depth))
            crossFade(display, root, visual, depth, shown, pixmap, size, fadeMs);
    }
    // The previous setter's pixmap: when both properties name it, its client was kept only to
    // hold it, and killing that client frees it.
    XGrabServer(display);
    const Pixmap previous = pixmapProperty(display, root, rootPixmap);
    if (previous != None && previous == pixmapProperty(display, root, setRootPixmap)) {
        XSync(display, False);
        XErrorHandler handler = XSetErrorHandler(ignoreErrors);
        XKillClient(display, previous);
        XSync(display, False);
        XSetErrorHandler(handler);
    }
    XChangeProperty(display, root, rootPixmap, XA_PIXMAP, 32, PropModeReplace,
        reinterpret_cast<const unsigned char *>(&pixmap), 1);
    XChangeProperty(display, root, setRootPixmap, XA_PIXMAP, 32, PropModeReplace,
        reinterpret_cast<const unsigned char *>(&pixmap), 1);
    XSetWindowBackgroundPixmap(display, root, pixmap);
    XClearWindow(display, root);
    XUngrabServer(display);
    XSetCloseDownMode(display, RetainPermanent);
    XSync(display, False);
    XCloseDisplay(display);
    return true;
}

} // namespace X11
} // namespace Tool
