// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "backgrounditem.h"

#include <QQuickWindow>
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
        show(m_request.result().image().image);
    });
    m_fade.setStartValue(0.0);
    m_fade.setEndValue(1.0);
    connect(&m_fade, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_progress = value.toReal();
        update();
    });
    connect(&m_fade, &QVariantAnimation::finished, this, [this] {
        m_progress = 1;
        update();
    });
}

void BackgroundItem::show(const QImage &image)
{
    // A first picture, or none, comes at once; a new one fades in over the old.
    m_fading = m_fadeDuration > 0 && !m_image.isNull() && !image.isNull() && image != m_image;
    m_image = image;
    m_imageChanged = true;
    m_fade.stop();
    m_progress = m_fading ? 0 : 1;
    if (m_fading) {
        m_fade.setDuration(m_fadeDuration);
        m_fade.start();
    }
    update();
    setStatus(m_image.isNull() ? Error : Ready);
}

void BackgroundItem::setFadeDuration(int milliseconds)
{
    milliseconds = qMax(0, milliseconds);
    if (milliseconds == m_fadeDuration)
        return;
    m_fadeDuration = milliseconds;
    Q_EMIT fadeDurationChanged();
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
    // The root holds the old picture's node while a fade runs, then the new one's under an
    // opacity node. A new picture gets a new node, which owns its texture.
    if (m_image.isNull()) {
        delete old;
        m_oldNode = m_newNode = nullptr;
        m_newOpacity = nullptr;
        return nullptr;
    }
    QSGNode *root = old;
    if (!root) {
        root = new QSGNode;
        m_newOpacity = new QSGOpacityNode;
        root->appendChildNode(m_newOpacity);
        m_oldNode = m_newNode = nullptr;
        m_imageChanged = true;
    }
    if (m_imageChanged) {
        delete m_oldNode;
        m_oldNode = nullptr;
        if (m_newNode) {
            m_newOpacity->removeChildNode(m_newNode);
            if (m_fading) {
                m_oldNode = m_newNode;
                root->prependChildNode(m_oldNode);
            } else {
                delete m_newNode;
            }
        }
        m_newNode = window()->createImageNode();
        m_newNode->setTexture(window()->createTextureFromImage(m_image));
        m_newNode->setOwnsTexture(true);
        m_newNode->setFiltering(QSGTexture::Linear);
        m_newOpacity->appendChildNode(m_newNode);
        m_imageChanged = false;
    }
    // Once faded in, the new picture is drawn alone, exactly as without a fade.
    if (m_progress >= 1 && m_oldNode) {
        delete m_oldNode;
        m_oldNode = nullptr;
    }
    m_newOpacity->setOpacity(m_progress);
    if (m_oldNode)
        m_oldNode->setRect(boundingRect());
    m_newNode->setRect(boundingRect());
    return root;
}

} // namespace VokImage
