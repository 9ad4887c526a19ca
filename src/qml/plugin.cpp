// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// The QML module VokImage 1.0: Background, BackgroundWatcher and image://vokimage/.

#include "backgrounditem.h"
#include "imageprovider.h"

#include <QQmlEngine>
#include <QQmlExtensionPlugin>

class VokImagePlugin : public QQmlExtensionPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QQmlExtensionInterface_iid)

public:
    void registerTypes(const char *uri) override
    {
        qmlRegisterType<VokImage::BackgroundItem>(uri, 1, 0, "Background");
        qmlRegisterType<VokImage::BackgroundWatcher>(uri, 1, 0, "BackgroundWatcher");
    }

    // The engine owns the provider.
    void initializeEngine(QQmlEngine *engine, const char *) override
    {
        engine->addImageProvider(QStringLiteral("vokimage"), new VokImage::ImageProvider);
    }
};

#include "plugin.moc"
