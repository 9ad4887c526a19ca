// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <vokimage/lookup.h>

#include <ctime>
#include <functional>
#include <sys/stat.h>

#include <QColor>
#include <QImage>
#include <QMap>
#include <QPair>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVariant>

// The paths the tests use inside the sandbox.
namespace TestPaths {
inline const QString Home = QStringLiteral("/tmp/home");
inline const QString Theme = Home + QStringLiteral("/.vok/theme/current.themerc");
inline const QString Palette = Home + QStringLiteral("/.vok/paletterc");
inline const QString DmSettings = QStringLiteral("/etc/X11/vok-dm/vok-modern/settings.ini");
inline const QString DarkLogo = QStringLiteral("/usr/share/wallpapers/logo/selka_logo_dark.svg");
inline const QString WhiteLogo = QStringLiteral("/usr/share/wallpapers/logo/selka_logo_white.svg");
} // namespace TestPaths

// An empty home at TestPaths::Home, no greeter settings, and none of the environment that
// redirects the configuration; false when the home cannot be made.
bool freshSession();

// Writes the desktop theme file with @p lines (as writeConfig); false when it cannot.
bool writeTheme(const QByteArray &lines);

// Collects the messages that Qt's log receives while it lives.
class MessageLog
{
public:
    MessageLog();
    ~MessageLog();
    MessageLog(const MessageLog &) = delete;
    MessageLog &operator=(const MessageLog &) = delete;

    QStringList messages() const;
    bool contains(const QString &text) const;
    int count(const QString &text) const;
    void clear();
};

// Writes @p image to @p path; false when it cannot.
bool writeTestImage(const QString &path, const QImage &image);
// A solid image of @p size in @p colour.
QImage solidImage(const QSize &size, const QColor &colour);
// Each pixel tells its own coordinates, so a drawn offset can be read back exactly.
QImage coordinateImage(const QSize &size);
// Red rises from 0 to 255 across, green from top to bottom, blue is 128: a smooth picture whose
// scaled parts can be checked by their place.
QImage gradientImage(const QSize &size);
// True when the sandbox launcher made this process's file system private.
bool insideSandbox();
// Runs @p function in a child process with the uid and gid 65534; returns its exit status,
// or -1 when the child cannot change its identity (then the caller skips).
int runAsOtherUser(const std::function<int()> &function);

// The words of @p line, split at spaces: an argument list written as one string.
inline QStringList words(const char *line)
{
    return QString::fromUtf8(line).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

using PropertyMap = QMap<QString, QVariant>;
// The default wallpaper map with @p path drawn on @p screen at @p position (Crop by default).
PropertyMap wallpaperMap(const QString &path, const QRect &screen, int position = 3);
// What the render engine draws for @p map; @p ok tells whether its status stayed Ok.
QImage rendered(const PropertyMap &map, bool *ok = nullptr);
// The path in the cache of the picture of @p map.
QString cachePath(const PropertyMap &map);
// The largest difference of one channel between two pictures; @p mean gets the mean one.
int largestDifference(const QImage &a, const QImage &b, double *mean = nullptr);
// A photo-like picture: smooth gradients, fine stripes, hard edges and grain from @p seed.
QImage photoImage(const QSize &size, quint32 seed = 1);
// @p image as a JPEG with an EXIF segment holding the orientation tag @p orientation alone.
QByteArray taggedJpeg(const QImage &image, int orientation);

// The status of @p path itself (lstat); its owner -1 when it does not exist.
struct stat statOf(const QString &path);

// The contents of @p path; empty when it cannot be read.
QByteArray readAll(const QString &path);
// Writes @p data to @p path (its folder made first); true when all of it was written.
bool writeAll(const QString &path, const QByteArray &data);
// Sets the access and modification times of @p path to @p seconds since the epoch.
bool setMtime(const QString &path, time_t seconds);
// As writeAll, then gives the file a modification time of its own: QSettings keeps a file it
// has read while its size and time stay the same, and two writes can fall in one millisecond.
bool writeConfig(const QString &path, const QByteArray &data);

// The peak resident memory of this process in MiB (VmHWM, which a new program starts afresh;
// the rusage of a spawned child also counts what its parent held when it was spawned).
long peakResidentMiB();
// AddressSanitizer holds freed memory in quarantine, and ThreadSanitizer shadows what is used:
// peaks are not measured under them.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool MeasuresMemory = false;
#else
constexpr bool MeasuresMemory = true;
#endif

// The record of @p layer of @p screen read on this thread, and where it came from.
inline VokImage::Image readLookup(const VokImage::Screen &screen,
    VokImage::Lookup::Layer layer = VokImage::Lookup::Background,
    VokImage::Lookup::Side side = VokImage::Lookup::Desktop,
    VokImage::Cache::Origin *origin = nullptr)
{
    VokImage::Lookup lookup(screen, layer, side);
    const VokImage::Image record = lookup.read();
    if (origin)
        *origin = lookup.origin();
    return record;
}

// A screen with its union and the output's name.
inline VokImage::Screen namedScreen(
    const QRect &geometry, qreal ratio, const QRect &desktop, const QString &name)
{
    VokImage::Screen screen(geometry, ratio);
    screen.setDesktop(desktop);
    screen.setName(name);
    return screen;
}

// Reads lines of @p process until one begins with @p line; false after 20 s or at its end.
bool waitForLine(QProcess &process, const QByteArray &line);

// A private session bus (dbus-daemon) with the tests' settings portal on it, both ended with
// the object.
class SettingsPortal
{
public:
    SettingsPortal();
    ~SettingsPortal();
    SettingsPortal(const SettingsPortal &) = delete;
    SettingsPortal &operator=(const SettingsPortal &) = delete;

    // Starts the bus and the portal, its color-scheme at @p scheme; false when either fails.
    bool start(uint scheme);
    // Sets the color-scheme, with the portal's change signal.
    bool set(uint scheme);
    // The environment of a process on the bus.
    QProcessEnvironment environment() const;

private:
    QProcess m_bus;
    QProcess m_portal;
    QString m_address;
};
