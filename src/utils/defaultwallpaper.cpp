#include <vokimage/utils.h>
#include <vokimage/vocabulary.h>

#include "sharedfiles_p.h"

#include <QDebug>
#include <QFile>

namespace {

// Portrait classes as (width part, height part), narrowest first.
constexpr QPair<int, int> Ratios[] = { { 9, 21 }, { 9, 16 }, { 10, 16 }, { 3, 4 } };

// Largest template that is read; the shipped ones are a few kilobytes.
constexpr qint64 MaxTemplateSize = 16 * 1024 * 1024;

} // namespace

QPair<int, int> wallpaperSizeRatio(QSize size)
{
    const double r = double(size.width()) / double(size.height()) - 0.01;
    if (r < 1.0) {
        for (const auto &ratio : Ratios) {
            if (double(ratio.first) / double(ratio.second) >= r)
                return ratio;
        }
        return { 3, 4 };
    }
    for (auto it = std::rbegin(Ratios); it != std::rend(Ratios); ++it) {
        if (double(it->second) / double(it->first) >= r)
            return { it->second, it->first };
    }
    return { 21, 9 };
}

namespace VokImage {
namespace Utils {

static QByteArray recoloured(const QString &templatePath, const QColor &color, bool *ok)
{
    QByteArray bytes;
    *ok = SharedFiles::readNoFollow(templatePath, MaxTemplateSize, &bytes);
    if (!*ok)
        return {};
    QString text = QString::fromUtf8(bytes);
    const QList<QPair<QString, QColor>> palette = CreateShadeColors(color);
    for (const auto &shade : palette)
        text.replace(
            QStringLiteral("#%1").arg(shade.first), shade.second.name(), Qt::CaseSensitive);
    return text.toUtf8();
}

QString getVokDefaultWallpaper(QRect screen, const QColor &color)
{
    const QPair<int, int> ratio = wallpaperSizeRatio(screen.size());
    const QString ratioText
        = QString::number(ratio.first) + QLatin1Char(':') + QString::number(ratio.second);
    const QString templatePath = QLatin1String("/usr/share/wallpapers/") + ratioText
        + QLatin1Char('/') + DefaultWallpaper + QLatin1String(".svg.in");
    const QString cacheDir = CacheDir;
    const QString outputDir = cacheDir + QLatin1Char('/') + ratioText;
    const QString outputPath
        = outputDir + QLatin1Char('/') + DefaultWallpaper + color.name() + QLatin1String(".svg");

    if (SharedFiles::isTrustedFile(outputPath) && SharedFiles::isTrustedDirectory(outputDir)
        && SharedFiles::isTrustedDirectory(cacheDir))
        return outputPath;

    if (!SharedFiles::ensureSharedDirectory(cacheDir)
        || !SharedFiles::ensureSharedDirectory(outputDir)) {
        qWarning() << "Can't create cache dir: " << outputDir;
        return QString();
    }

    bool ok = false;
    const QByteArray text = recoloured(templatePath, color, &ok);
    if (!ok) {
        qWarning() << "Can't open default wallpaper: " << templatePath;
        return QString();
    }

    // Something that is not ours lies at the name: keep it only when it is exactly what
    // would be written now.
    QByteArray existing;
    if (SharedFiles::readNoFollow(outputPath, text.size(), &existing) && existing == text)
        return outputPath;

    if (SharedFiles::writeAtomically(outputPath, text) != SharedFiles::WriteResult::Written) {
        qWarning() << "Can't open default wallpaper for writing: " << outputPath;
        return QString();
    }
    return outputPath;
}

} // namespace Utils
} // namespace VokImage
