// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include <vokimage/config.h>

#include <vokdesktopentry.h>

#include "internal/defaults_p.h"
#include "internal/keys_p.h"
#include "internal/logging_p.h"
#include "internal/sharedfiles_p.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace VokImage {

namespace {

const QString DefaultWallpaperPath = QStringLiteral("/usr/share/wallpapers/vok-default-light.jpg");
const QString DefaultPrimaryColor = Defaults::PrimaryColor;
const QString SystemWmDir = QStringLiteral("/usr/share/vok-wm");
constexpr int DefaultTaskbarHeight = Defaults::TaskbarHeight;

// Names (user, session) are read in the locale's 8-bit encoding, paths and the session list
// of the kiosk check in UTF-8, as the shell that sets them does; the two differ only for
// non-ASCII values, and what the shell wrote must read back the same.
QString localEnv(const char *name)
{
    return QString::fromLocal8Bit(qgetenv(name));
}

QString utf8Env(const char *name)
{
    return QString::fromUtf8(qgetenv(name));
}

} // namespace

PathFactory::~PathFactory() = default;

VokPathFactory::VokPathFactory()
{
    m_themeSettings = std::make_unique<VokSettings>(getVokThemeFile());
    m_themeSettings->sync(true);
    m_paletteSettings = std::make_unique<VokSettings>(getVokPalette());
    m_paletteSettings->sync(true);
}

VokPathFactory::~VokPathFactory()
{
    m_themeSettings.reset();
    m_paletteSettings.reset();
}

QVariant VokPathFactory::getProperty(const QString &key)
{
    // The constructor always makes the settings; the check stays for its documented message.
    if (!m_themeSettings) {
        vokWarning(config) << "getProperty"
                           << ": m_themeSettings is nullptr";
        return QVariant();
    }
    auto is = [&key](QLatin1String name) { return key.compare(name, Qt::CaseInsensitive) == 0; };
    if (is(ConfigKey::WallpaperPath))
        return getCurrentWallpaperPath();
    if (is(ConfigKey::WallpaperPosition))
        return getWallPaperPosition();
    if (is(ConfigKey::LogoPath))
        return getCurrenLogo();
    if (is(ConfigKey::LogoPosition))
        return getLogoPosition();
    if (is(ConfigKey::TaskbarHeight)) {
        const int height
            = m_themeSettings->value(QStringLiteral("TaskbarHeight"), DefaultTaskbarHeight).toInt();
        return height > 0 ? height : DefaultTaskbarHeight;
    }
    if (is(ConfigKey::TaskbarPosition))
        return m_themeSettings->value(QStringLiteral("TaskbarPosition"), QStringLiteral("Bottom"));
    if (is(ConfigKey::PrimaryColor))
        return getCurrentPrimaryColor();
    return m_themeSettings->value(key, QVariant());
}

QString VokPathFactory::getWallPaperPosition()
{
    return m_themeSettings->value(QStringLiteral("WallPaperPos"), QStringLiteral("Crop"))
        .toString();
}

// The public name keeps its historical spelling; callers link against it.
QString VokPathFactory::getCurrenLogo()
{
    return m_themeSettings->value(QStringLiteral("LogoPixmap"), QString(Defaults::LogoWord))
        .toString();
}

QString VokPathFactory::getLogoPosition()
{
    return m_themeSettings->value(QStringLiteral("LogoPosition"), QStringLiteral("BottomRight"))
        .toString();
}

QColor VokPathFactory::getCurrentPrimaryColor()
{
    QColor colour;
    colour.setNamedColor(
        m_paletteSettings->value(QStringLiteral("PrimaryColor"), DefaultPrimaryColor).toString());
    return colour.isValid() ? colour : QColor(DefaultPrimaryColor);
}

QString VokPathFactory::getCurrentWallpaperPath()
{
    if (!m_themeSettings) {
        vokWarning(config) << "VokPathFactory::getProperty: m_themeSettings is nullptr";
        return QString();
    }
    const QString base
        = m_themeSettings->value(QStringLiteral("WallPaper"), DefaultWallpaperPath).toString();
    const QString entryPath = getVokDesktopDir() + QLatin1String("/.directory");
    if (!SharedFiles::settingsFileReadable(entryPath))
        return base;
    VokDesktopEntry entry(entryPath.toStdString());
    if (!entry.load())
        return base;
    const QString named = QString::fromStdString(entry.getUnknownValue("X-VOK-WallPaper"));
    if (!named.isEmpty() && QFile::exists(named))
        return QFileInfo(named).canonicalFilePath();
    return base;
}

VokPathFactory::WhatVokSession VokPathFactory::whatVokSession()
{
    const QString name = localEnv("DESKTOP_SESSION");
    if (name.isEmpty())
        return SessionOther;
    if (name.startsWith(QLatin1String("vok"), Qt::CaseInsensitive)) {
        static const struct
        {
            const char *name;
            WhatVokSession session;
        } sessions[] = {
            { "vok", SessionVok },
            { "vok-tablet", SessionTablet },
            { "vok-mini", SessionMini },
            { "vok-mobile", SessionMobile },
            { "vok-weston", SessionWeston },
            { "vok-kiosk", SessionKiosk },
            { "vok-tablet-kiosk", SessionTabletKiosk },
        };
        for (const auto &entry : sessions)
            if (name.compare(QLatin1String(entry.name), Qt::CaseInsensitive) == 0)
                return entry.session;
        return SessionOther;
    }
    return name.compare(QLatin1String("failsafe"), Qt::CaseInsensitive) == 0 ? SessionFailsafe
                                                                             : SessionOther;
}

bool VokPathFactory::isVokKioskSession()
{
    const WhatVokSession session = whatVokSession();
    return session == SessionKiosk || session == SessionTabletKiosk;
}

QString VokPathFactory::xdgUserDirLookup(const QString &type)
{
    const bool desktop = type.compare(QLatin1String("DESKTOP"), Qt::CaseInsensitive) == 0;
    const QString session = utf8Env("DESKTOP_SESSION");
    if (desktop && !session.isEmpty()
        && (session.contains(QLatin1String("vok-kiosk"), Qt::CaseInsensitive)
            || session.contains(QLatin1String("vok-tablet-kiosk"), Qt::CaseInsensitive))) {
        const QString kiosk = utf8Env("VOK_KIOSK_DESKTOP_DIR");
        if (!kiosk.isEmpty() && QFileInfo::exists(kiosk))
            return kiosk;
    }
    const QString location = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (!location.isEmpty())
        return location;
    const QString home = utf8Env("HOME");
    if (home.isEmpty())
        return QStringLiteral("/tmp");
    return desktop ? home + QLatin1String("/Desktop") : home;
}

QString VokPathFactory::getCurrentUserSysConf()
{
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    if (size <= 0)
        size = 1024;
    std::vector<char> buffer(static_cast<size_t>(size));
    struct passwd entry;
    struct passwd *result = nullptr;
    int error = 0;
    // A buffer too small for this entry is grown rather than taken as "no user".
    while ((error = getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &result)) == ERANGE
        && buffer.size() < (size_t(1) << 20))
        buffer.resize(buffer.size() * 2);
    if (error != 0 || !result)
        return QString();
    return QString::fromLocal8Bit(result->pw_name);
}

QString VokPathFactory::getCurrentUser()
{
    const QString system = getCurrentUserSysConf();
    if (!system.isEmpty())
        return system;
    const QString user = localEnv("USER");
    return user.isEmpty() ? localEnv("LOGNAME") : user;
}

QString VokPathFactory::getVokHomeDir()
{
    const QString home = localEnv("HOME");
    if (!home.isEmpty())
        return home;
    const QString user = getCurrentUser();
    return user.isEmpty() ? QString() : QLatin1String("/home/") + user;
}

QString VokPathFactory::getVokDir()
{
    return getVokHomeDir() + QLatin1Char('/') + QLatin1String(".vok");
}

QString VokPathFactory::getVokPalette()
{
    return getVokDir() + QLatin1Char('/') + QLatin1String("paletterc");
}

QString VokPathFactory::getVokDesktopDir()
{
    const QString folder = xdgUserDirLookup(QStringLiteral("DESKTOP"));
    const QString home = getVokHomeDir();
    if (folder.isEmpty() && !home.isEmpty())
        return home + QLatin1Char('/') + QLatin1String("Desktop");
    return folder;
}

QString VokPathFactory::getVokThemeDir()
{
    // Deliberately not getVokDir(): with no home known the theme directory is "/theme", where
    // getVokDir() would give "/.vok"; that is the documented answer callers expect.
    const QString home = getVokHomeDir();
    const QString base
        = home.isEmpty() ? QString() : home + QLatin1Char('/') + QLatin1String(".vok");
    const QString rcFile = utf8Env("VOK_RC_FILE");
    if (isVokKioskSession() && !rcFile.isEmpty() && rcFile.contains(SystemWmDir))
        return SystemWmDir + QLatin1Char('/') + QLatin1String("theme");
    return base + QLatin1Char('/') + QLatin1String("theme");
}

QString VokPathFactory::getVokThemeFile()
{
    return getVokThemeDir() + QLatin1Char('/') + QLatin1String("current.themerc")
        + getVokSessionConfigSuffix(SessionOther);
}

QString VokPathFactory::getVokSessionConfigSuffix(WhatVokSession session)
{
    switch (session) {
    case SessionFailsafe:
    case SessionVok:
    case SessionWeston:
        return QString();
    case SessionTablet:
        return QStringLiteral(".vok-tablet");
    case SessionMini:
        return QStringLiteral(".vok-mini");
    case SessionMobile:
        return QStringLiteral(".vok-mobile");
    case SessionKiosk:
        return QStringLiteral(".vok-kiosk");
    case SessionTabletKiosk:
        return QStringLiteral(".vok-tablet-kiosk");
    case SessionOther:
        break;
    }
    const QString name = localEnv("DESKTOP_SESSION");
    if (!name.isEmpty() && name.compare(QLatin1String("vok"), Qt::CaseInsensitive) != 0)
        return QLatin1Char('.') + name;
    return QString();
}

} // namespace VokImage
