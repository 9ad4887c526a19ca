// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <vokimage/api.h>
#include <vokimage/watcher.h>

#include <QFutureWatcher>
#include <QPointer>
#include <QQuickItem>

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

public:
    enum Status { Null, Loading, Ready, Error };
    Q_ENUM(Status)

    explicit BackgroundItem(QQuickItem *parent = nullptr);

    bool isGreeter() const { return m_watcher.isGreeter(); }
    void setGreeter(bool greeter);
    Status status() const { return m_status; }
    QRect screenGeometry() const { return m_screen; }
    qreal devicePixelRatio() const { return m_ratio; }

Q_SIGNALS:
    void greeterChanged();
    void statusChanged();

protected:
    QSGNode *updatePaintNode(QSGNode *node, UpdatePaintNodeData *) override;
    void itemChange(ItemChange change, const ItemChangeData &value) override;

private:
    void followScreen();
    void reload();
    void setStatus(Status status);

    BackgroundWatcher m_watcher;
    QFutureWatcher<Lookup> m_request;
    QPointer<QScreen> m_followed;
    QRect m_screen;
    qreal m_ratio = 1;
    QImage m_image;
    bool m_imageChanged = false;
    Status m_status = Null;
};

} // namespace VokImage
