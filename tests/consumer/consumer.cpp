// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// An outside program: renders a desktop background through the installed library.
#include <vokimage/vokimage.h>

#include <QGuiApplication>

#include <cstdio>

#if !defined(VOKIMAGE_VERSION) || VOKIMAGE_VERSION < VOKIMAGE_VERSION_CHECK(1, 0, 0)
#error "the version header is missing or too old"
#endif

// A configuration source of the consumer's own: deriving needs the library's type information.
class FixedSource : public VokImage::PathFactory
{
public:
    QVariant getProperty(const QString &) override { return QStringLiteral("fixed"); }
};

int main(int argc, char **argv)
{
    FixedSource source;
    VokImage::PathFactory *base = &source;
    if (!dynamic_cast<FixedSource *>(base)
        || base->getProperty(QString()) != QStringLiteral("fixed")) {
        std::fprintf(stderr, "consumer: cannot derive from PathFactory\n");
        return 1;
    }

    QGuiApplication app(argc, argv);
    const QRect screen(0, 0, 640, 360);
    const VokImage::Image background = VokImage::getBackground(screen);
    if (background.image.size() != screen.size()) {
        std::fprintf(stderr, "consumer: no background\n");
        return 1;
    }
    const bool cached = VokImage::Cache::isCacheExists(background.properties);
    std::printf("consumer %s: %dx%d background, %s\n", VOKIMAGE_VERSION_STRING,
        background.image.width(), background.image.height(),
        cached ? "stored in the cache" : "not stored");
    return cached ? 0 : 1;
}
