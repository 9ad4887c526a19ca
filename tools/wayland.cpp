// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "wayland.h"

#include "cli.h"

#include "internal/limits_p.h"

#ifdef VOKIMAGE_WITH_WAYLAND
#include <LayerShellQt/Shell>
#include <LayerShellQt/Window>

#include <QBackingStore>
#include <QPainter>
#include <QScreen>

#include <cstring>
#include <wayland-client.h>
#endif

namespace Tool {
namespace Wayland {

bool chosen(const QStringList &arguments)
{
    if (arguments.contains(QLatin1String("--x11")))
        return false;
    if (arguments.contains(QLatin1String("--wayland")))
        return true;
    return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        || qgetenv("XDG_SESSION_TYPE") == QByteArrayLiteral("wayland");
}

#ifdef VOKIMAGE_WITH_WAYLAND

namespace {

constexpr const char *LayerShell = "zwlr_layer_shell_v1";

void announced(void *data, wl_registry *, uint32_t, const char *interface, uint32_t)
{
    if (std::strcmp(interface, LayerShell) == 0)
        *static_cast<bool *>(data) = true;
}

void withdrawn(void *, wl_registry *, uint32_t)
{ }

const wl_registry_listener registryListener = { announced, withdrawn };

} // namespace

QString compositorProblem()
{
    const QString name = qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        ? QStringLiteral("wayland-0")
        : qEnvironmentVariable("WAYLAND_DISPLAY");
    wl_display *display = wl_display_connect(nullptr);
    if (!display)
        return QStringLiteral("cannot connect to the Wayland compositor %1").arg(name);
    bool layerShell = false;
    wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &layerShell);
    const bool answered = wl_display_roundtrip(display) >= 0;
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    if (!answered)
        return QStringLiteral("the Wayland compositor %1 does not answer").arg(name);
    if (!layerShell)
        return QStringLiteral("the Wayland compositor %1 offers no layer-shell (%2), so no client "
                              "can show a background there; use the compositor's own setting, "
                              "or --x11 for an X server")
            .arg(name, QLatin1String(LayerShell));
    return QString();
}

void prepare()
{
    qputenv("QT_QPA_PLATFORM", "wayland");
    qputenv("QT_WAYLAND_DISABLE_WINDOWDECORATION", "1");
    LayerShellQt::Shell::useLayerShell();
}

Surface::Surface(QScreen *screen)
{
    QObject::connect(
        &m_fade, &QVariantAnimation::valueChanged, this, [this](const QVariant &share) {
            m_share = share.toReal();
            present();
        });
    QObject::connect(&m_fade, &QVariantAnimation::finished, this, [this] {
        m_previous = QImage();
        m_share = 1;
        present();
    });
    setSurfaceType(QSurface::RasterSurface);
    setFlags(Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus);
    setScreen(screen);
    setGeometry(screen->geometry());
    LayerShellQt::Window *layer = LayerShellQt::Window::get(this);
    layer->setLayer(LayerShellQt::Window::LayerBackground);
    layer->setAnchors(LayerShellQt::Window::Anchors(LayerShellQt::Window::AnchorTop
        | LayerShellQt::Window::AnchorBottom | LayerShellQt::Window::AnchorLeft
        | LayerShellQt::Window::AnchorRight));
    layer->setExclusiveZone(-1);
    layer->setKeyboardInteractivity(LayerShellQt::Window::KeyboardInteractivityNone);
    layer->setScope(QStringLiteral("wallpaper"));
    layer->setDesiredOutput(screen);
}

Surface::~Surface() = default;

void Surface::showPicture(const VokImage::Screen &output, const VokImage::Image &record, int fadeMs)
{
    m_fade.stop();
    m_fadeStore.reset();
    // A picture of the same size fades in over the one shown, read back from the cache.
    const bool fadable = fadeMs > 0 && isVisible() && m_output == output;
    QImage previous = fadable ? m_picture : QImage();
    if (fadable && previous.isNull() && !m_shownProperties.isEmpty()) {
        // The library's lines of that read are not the new picture's: they are dropped.
        setHoldMessages(true);
        previous = VokImage::Cache::getImageCache(m_shownProperties, false).image;
        releaseMessages(false);
        setHoldMessages(false);
    }
    const bool fade = !previous.isNull() && previous.size() == record.image.size();
    m_previous = fade ? previous : QImage();
    m_output = output;
    m_shownProperties = record.properties;
    m_picture = record.image;
    m_picture.setDevicePixelRatio(output.devicePixelRatio());
    m_share = fade ? 0 : 1;
    if (!isVisible())
        show();
    if (fade) {
        m_fade.setStartValue(0.0);
        m_fade.setEndValue(1.0);
        m_fade.setDuration(fadeMs);
        m_fade.start();
    } else {
        present();
    }
}

bool Surface::event(QEvent *event)
{
    const QEvent::Type type = event->type();
    if ((type == QEvent::Resize || type == QEvent::Expose || type == QEvent::UpdateRequest)
        && !VokImage::withinRenderLimits(
            qRound64(width() * devicePixelRatio()), qRound64(height() * devicePixelRatio()))) {
        if (isVisible())
            hide();
        return true;
    }
    return QWindow::event(event);
}

void Surface::exposeEvent(QExposeEvent *)
{
    // The compositor keeps the last frame it was given: only a picture not yet handed over is
    // drawn.
    if (!m_picture.isNull() && m_fade.state() != QAbstractAnimation::Running)
        present();
}

void Surface::present()
{
    // A buffer is attached only to a configured surface.
    if (m_picture.isNull() || !isExposed())
        return;
    // A fade keeps its backing store until its last frame; a picture shown at once has one
    // for its frame alone.
    if (!m_previous.isNull() && !m_fadeStore)
        m_fadeStore = std::make_unique<QBackingStore>(this);
    std::unique_ptr<QBackingStore> frameStore
        = m_fadeStore ? nullptr : std::make_unique<QBackingStore>(this);
    QBackingStore *store = m_fadeStore ? m_fadeStore.get() : frameStore.get();
    const QRect rect(QPoint(0, 0), size());
    store->resize(size());
    store->beginPaint(rect);
    QPainter painter(store->paintDevice());
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect, Qt::black);
    // The pictures have the output's ratio: drawn at the origin, one picture pixel per buffer
    // pixel; during a fade the new one over the old at its share.
    if (!m_previous.isNull()) {
        painter.drawImage(QPoint(0, 0), m_previous);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.setOpacity(m_share);
    }
    painter.drawImage(QPoint(0, 0), m_picture);
    painter.end();
    store->endPaint();
    store->flush(rect);
    if (!m_previous.isNull())
        return;
    // The compositor has the frame: the picture and the buffers go.
    m_fadeStore.reset();
    m_picture = QImage();
}

#else

QString compositorProblem()
{
    return QStringLiteral("this vokimage is built without its Wayland side; use --x11 for an X "
                          "server");
}

void prepare()
{ }

#endif

} // namespace Wayland
} // namespace Tool
