#include <vokimage/api.h>
#include <vokimage/config.h>
#include <vokimage/utils.h>

namespace VokImage {

namespace {

using PropertyMap = QMap<QString, QVariant>;

const QString GreeterDefaultColour = QStringLiteral("#5682a3");

template <typename Enum>
int lookup(const QMap<QString, Enum> &table, const QString &name, int fallback)
{
    const auto it = table.constFind(name);
    return it == table.constEnd() ? fallback : int(*it);
}

QString key(const char *name)
{
    return QString::fromLatin1(name);
}

QColor toColour(QVariant value)
{
    if (value.userType() == QMetaType::QColor)
        return value.value<QColor>();
    return value.convert(QMetaType::QColor) ? value.value<QColor>() : QColor();
}

// @p base with every entry of @p over inserted: an entry of @p over wins.
PropertyMap merged(PropertyMap base, const PropertyMap &over)
{
    for (auto it = over.constBegin(); it != over.constEnd(); ++it)
        base.insert(it.key(), it.value());
    return base;
}

} // namespace

PropertyMap getWallpaperProperties(const QRect &screen)
{
    FileSystemEngine engine(FileSystemEngine::DesktopSession);
    QString path = engine.getProperty(QStringLiteral("Options.Wallpaper.Path")).toString();
    const int position = lookup(WallPaperPositionNames,
        engine.getProperty(QStringLiteral("Options.Wallpaper.Position")).toString(),
        int(WallPaperPosition::Crop));
    PropertyMap result = DefaultWallpaperProperties;
    if (path == DefaultWallpaper) {
        const QColor colour = toColour(engine.getProperty(QStringLiteral("PrimaryColor")));
        result[QStringLiteral("ImageProperty") + QLatin1Char('.') + QStringLiteral("PrimaryColor")]
            = colour;
        path = Utils::getVokDefaultWallpaper(screen, colour);
    }
    result[key(Keys::ImagePath)] = QVariant::fromValue(File(path));
    result[key(Keys::ImagePosition)] = position;
    result[key(Keys::ImageScreen)] = screen;
    return result;
}

PropertyMap getLogoProperties(const QRect &screen)
{
    FileSystemEngine engine(FileSystemEngine::DesktopSession);
    const QString logoPath = engine.getProperty(QStringLiteral("Options.Logo.Path")).toString();
    const int logoPosition = lookup(LogoPositionNames,
        engine.getProperty(QStringLiteral("Options.Logo.Position")).toString(),
        int(LogoPosition::NotShow));
    PropertyMap result = DefaultLogoProperties;
    result[key(Keys::LogoPath)] = logoPath;
    result[key(Keys::LogoPosition)] = logoPosition;
    result[key(Keys::LogoScreen)] = screen;
    const QString taskbarName
        = engine.getProperty(QStringLiteral("Options.Taskbar.Position")).toString();
    const int taskbarHeight = engine.getProperty(QStringLiteral("Options.Taskbar.Height")).toInt();
    result[key(Keys::TaskbarPosition)] = lookup(TaskbarPositionNames, taskbarName, -1);
    result[key(Keys::TaskbarHeight)] = taskbarHeight;
    return result;
}

Image getWallpaper(const QRect &screen)
{
    return getWallpaper(screen, nullptr);
}

Image getWallpaper(const QRect &screen, Cache::Origin *origin)
{
    return Cache::getImageCache(getWallpaperProperties(screen), false, origin);
}

Image getLogo(const QRect &screen)
{
    return getLogo(screen, nullptr);
}

Image getLogo(const QRect &screen, Cache::Origin *origin)
{
    return Cache::getImageCache(getLogoProperties(screen), false, origin);
}

Image getBackground(const QRect &screen)
{
    return getBackground(screen, nullptr);
}

Image getBackground(const QRect &screen, Cache::Origin *origin)
{
    const PropertyMap wallpaper = getWallpaperProperties(screen);
    return Cache::getImageCache(merged(getLogoProperties(screen), wallpaper), true, origin);
}

PropertyMap getWallpaperOrvProperties(const QRect &screen)
{
    FileSystemEngine engine(FileSystemEngine::DisplayManager);
    const QString wallpaperKey = QStringLiteral("Options.Wallpaper");
    QString path = engine.getProperty(wallpaperKey + QLatin1String(".Path")).toString();
    const int position = lookup(WallPaperPositionNames,
        engine.getProperty(wallpaperKey + QLatin1String(".Position")).toString(),
        int(WallPaperPosition::Crop));
    const QColor overlay = Utils::getColor(
        engine.getProperty(wallpaperKey + QLatin1String(".ColorOverlay")).toString());
    const bool blurEnabled
        = engine.getProperty(wallpaperKey + QLatin1String(".Blur.Enable")).toBool();
    PropertyMap result = DefaultWallpaperProperties;
    if (blurEnabled) {
        const double radius
            = engine.getProperty(wallpaperKey + QLatin1String(".Blur.Radius")).toReal();
        if (radius > 0)
            result[key(Keys::ImageBlur)] = radius;
    }
    if (path == DefaultWallpaper) {
        QColor colour;
        colour.setNamedColor(GreeterDefaultColour);
        path = Utils::getVokDefaultWallpaper(screen, colour);
    }
    result[key(Keys::ImagePath)] = QVariant::fromValue(File(path));
    result[key(Keys::ImagePosition)] = position;
    result[key(Keys::ImageScreen)] = screen;
    result[key(Keys::ImageColorOverlay)] = overlay;
    return result;
}

PropertyMap getLogoOrvProperties(const QRect &screen)
{
    FileSystemEngine engine(FileSystemEngine::DisplayManager);
    const QString logoKey = QStringLiteral("Options.Logo");
    const QString logoPath = engine.getProperty(logoKey + QLatin1String(".Path")).toString();
    const int position = lookup(LogoPositionNames,
        engine.getProperty(logoKey + QLatin1String(".Position")).toString(),
        int(LogoPosition::BottomRight));
    const bool blur = engine.getProperty(logoKey + QLatin1String(".Blur")).toBool();
    PropertyMap result = DefaultLogoProperties;
    if (blur)
        result[key(Keys::LogoBlur)] = 5;
    result[key(Keys::LogoPath)] = logoPath;
    result[key(Keys::LogoPosition)] = position;
    result[key(Keys::LogoScreen)] = screen;
    return result;
}

Image getOrvWallpaper(const QRect &screen)
{
    return getOrvWallpaper(screen, nullptr);
}

Image getOrvWallpaper(const QRect &screen, Cache::Origin *origin)
{
    return Cache::getImageCache(getWallpaperOrvProperties(screen), false, origin);
}

Image getOrvLogo(const QRect &screen)
{
    return getOrvLogo(screen, nullptr);
}

Image getOrvLogo(const QRect &screen, Cache::Origin *origin)
{
    return Cache::getImageCache(getLogoOrvProperties(screen), false, origin);
}

Image getOrvBackground(const QRect &screen)
{
    return getOrvBackground(screen, nullptr);
}

Image getOrvBackground(const QRect &screen, Cache::Origin *origin)
{
    const PropertyMap wallpaper = getWallpaperOrvProperties(screen);
    return Cache::getImageCache(merged(wallpaper, getLogoOrvProperties(screen)), false, origin);
}

} // namespace VokImage
