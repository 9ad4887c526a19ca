// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <vokimage/api.h>
#include <vokimage/watcher.h>

#include <QFutureWatcher>
#include <QPointer>
#include <QQuickItem>
#include <QSGImageNode>
#include <QSGOpacityNode>
#include <QVariantAnimation>

class QScreen;

namespace VokImage {

// Background { greeter: false }: the background of the screen its window is on, at that
// screen's device pixel ratio, requested off the interface thread. It follows its window's
// screen, the screen's geometry and ratio, and the watcher's signal. Its implicit size is the
// screen's.
class BackgroundItem : public QQuickItem
{
    Q_OBJECT
    Q_PROPERTY(bool greeter READ isGreeter WRITE setGreeter NOTIFY greeterChanged)
    Q_PROPERTY(Status status READ status NOTIFY statusChanged)
    Q_PROPERTY(QRect screenGeometry READ screenGeometry NOTIFY statusChanged)
    Q_PROPERTY(qreal devicePixelRatio READ devicePixelRatio NOTIFY statusChanged)
    Q_PROPERTY(int fadeDuration READ fadeDuration WRITE setFadeDuration NOTIFY fadeDurationChanged)

public:
    enum Status { Null, Loading, Ready, Error };
    Q_ENUM(Status)

    explicit BackgroundItem(QQuickItem *parent = nullptr);

    bool isGreeter() const { return m_watcher.isGreeter(); }
    void setGreeter(bool greeter);
    Status status() const { return m_status; }
    QRect screenGeometry() const { return m_screen; }
    qreal devicePixelRatio() const { return m_ratio; }
    /// Milliseconds a new picture takes to fade in over the old one; 0 for a cut.
    int fadeDuration() const { return m_fadeDuration; }
    void setFadeDuration(int milliseconds);

Q_SIGNALS:
    void greeterChanged();
    void statusChanged();
    void fadeDurationChanged();

protected:
    QSGNode *updatePaintNode(QSGNode *node, UpdatePaintNodeData *) override;
    void itemChange(ItemChange change, const ItemChangeData &value) override;

private:
    void followScreen();
    void reload();
    void setStatus(Status status);
    void show(const QImage &image);

    BackgroundWatcher m_watcher;
    QFutureWatcher<Lookup> m_request;
    QPointer<QScreen> m_followed;
    QRect m_screen;
    qreal m_ratio = 1;
    QImage m_image;
    bool m_imageChanged = false;
    Status m_status = Null;
    int m_fadeDuration = 400;
    // How far the new picture has faded in, 0 to 1; the old one is drawn under it until 1.
    QVariantAnimation m_fade;
    qreal m_progress = 1;
    bool m_fading = false;
    // The scene graph's nodes, used on the render thread while the item is synchronised.
    QSGImageNode *m_oldNode = nullptr;
    QSGImageNode *m_newNode = nullptr;
    QSGOpacityNode *m_newOpacity = nullptr;
};

} // namespace VokImage
