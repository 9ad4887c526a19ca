// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "backgrounditem.h"

#include <QQuickWindow>
#include <QSGImageNode>
#include <QScreen>

namespace VokImage {

BackgroundItem::BackgroundItem(QQuickItem *parent)
    : QQuickItem(parent)
{
    setFlag(ItemHasContents);
    connect(&m_watcher, &BackgroundWatcher::changed, this, &BackgroundItem::reload);
    connect(&m_request, &QFutureWatcher<Lookup>::finished, this, [this] {
        if (m_request.future().resultCount() == 0)
            return;
        m_image = m_request.result().image().image;
        m_imageChanged = true;
        update();
        setStatus(m_image.isNull() ? Error : Ready);
    });
}

void BackgroundItem::setGreeter(bool greeter)
{
    if (greeter == isGreeter())
        return;
    m_watcher.setGreeter(greeter);
    Q_EMIT greeterChanged();
    reload();
}

void BackgroundItem::itemChange(ItemChange change, const ItemChangeData &value)
{
    if (change == ItemSceneChange) {
        if (value.window)
            connect(value.window, &QWindow::screenChanged, this, &BackgroundItem::followScreen,
                Qt::UniqueConnection);
        followScreen();
    }
    QQuickItem::itemChange(change, value);
}

void BackgroundItem::followScreen()
{
    QScreen *screen = window() ? window()->screen() : nullptr;
    if (m_followed != screen) {
        if (m_followed)
            disconnect(m_followed, nullptr, this, nullptr);
        m_followed = screen;
        if (screen) {
            connect(screen, &QScreen::geometryChanged, this, &BackgroundItem::reload);
            connect(screen, &QScreen::physicalDotsPerInchChanged, this, &BackgroundItem::reload);
        }
    }
    reload();
}

void BackgroundItem::reload()
{
    if (!window() || !window()->screen())
        return;
    m_screen = window()->screen()->geometry();
    m_ratio = window()->effectiveDevicePixelRatio();
    setImplicitSize(m_screen.width(), m_screen.height());
    if (m_request.isRunning())
        m_request.future().cancel();
    m_request.setFuture(Lookup(Screen(m_screen, m_ratio), Lookup::Background,
        isGreeter() ? Lookup::Greeter : Lookup::Desktop)
                            .request());
    setStatus(Loading);
}

void BackgroundItem::setStatus(Status status)
{
    m_status = status;
    Q_EMIT statusChanged();
}

QSGNode *BackgroundItem::updatePaintNode(QSGNode *old, UpdatePaintNodeData *)
{
    // A new picture gets a new node, which owns its texture.
    auto *node = static_cast<QSGImageNode *>(old);
    if (m_image.isNull() || m_imageChanged) {
        delete node;
        node = nullptr;
    }
    if (m_image.isNull())
        return nullptr;
    if (!node) {
        node = window()->createImageNode();
        node->setTexture(window()->createTextureFromImage(m_image));
        node->setOwnsTexture(true);
        node->setFiltering(QSGTexture::Linear);
        m_imageChanged = false;
    }
    node->setRect(boundingRect());
    return node;
}

} // namespace VokImage
