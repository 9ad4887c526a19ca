// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

// The one spelling of keys inside the library and the tool: property keys and configuration
// keys as Latin-1 string constants, usable wherever a QString or a QLatin1String is taken.

#include <vokimage/vocabulary.h>

#include <QLatin1String>

#include <array>

namespace VokImage {

template <std::size_t N> constexpr QLatin1String latin1(const char (&text)[N])
{
    return QLatin1String(text, int(N - 1));
}

/// The keys of a property map (the public char arrays of Keys, as Latin-1 strings).
namespace PropertyKey {
inline constexpr QLatin1String ImagePath = latin1(Keys::ImagePath);
inline constexpr QLatin1String ImageScreen = latin1(Keys::ImageScreen);
inline constexpr QLatin1String ImagePosition = latin1(Keys::ImagePosition);
inline constexpr QLatin1String ImageBlur = latin1(Keys::ImageBlur);
inline constexpr QLatin1String ImageColorOverlay = latin1(Keys::ImageColorOverlay);
inline constexpr QLatin1String ImagePrimaryColor = latin1(Keys::ImagePrimaryColor);
inline constexpr QLatin1String ImageDevicePixelRatio = latin1(Keys::ImageDevicePixelRatio);
inline constexpr QLatin1String ImageDesktop = latin1(Keys::ImageDesktop);
inline constexpr QLatin1String ImageColorScheme = latin1(Keys::ImageColorScheme);
inline constexpr QLatin1String LogoPath = latin1(Keys::LogoPath);
inline constexpr QLatin1String LogoScreen = latin1(Keys::LogoScreen);
inline constexpr QLatin1String LogoPosition = latin1(Keys::LogoPosition);
inline constexpr QLatin1String LogoBlur = latin1(Keys::LogoBlur);
inline constexpr QLatin1String LogoDevicePixelRatio = latin1(Keys::LogoDevicePixelRatio);
inline constexpr QLatin1String LogoHighResolutionFile = latin1(Keys::LogoHighResolutionFile);
inline constexpr QLatin1String TaskbarPosition = latin1(Keys::TaskbarPosition);
inline constexpr QLatin1String TaskbarHeight = latin1(Keys::TaskbarHeight);
} // namespace PropertyKey

/// The keys a configuration (FileSystemEngine) answers.
namespace ConfigKey {
inline constexpr QLatin1String WallpaperPath = latin1("Options.Wallpaper.Path");
inline constexpr QLatin1String WallpaperPosition = latin1("Options.Wallpaper.Position");
inline constexpr QLatin1String WallpaperColorOverlay = latin1("Options.Wallpaper.ColorOverlay");
inline constexpr QLatin1String WallpaperBlur = latin1("Options.Wallpaper.Blur");
inline constexpr QLatin1String WallpaperBlurEnable = latin1("Options.Wallpaper.Blur.Enable");
inline constexpr QLatin1String WallpaperBlurRadius = latin1("Options.Wallpaper.Blur.Radius");
inline constexpr QLatin1String LogoPath = latin1("Options.Logo.Path");
inline constexpr QLatin1String LogoPosition = latin1("Options.Logo.Position");
inline constexpr QLatin1String LogoEnable = latin1("Options.Logo.Enable");
inline constexpr QLatin1String LogoBlur = latin1("Options.Logo.Blur");
inline constexpr QLatin1String TaskbarHeight = latin1("Options.Taskbar.Height");
inline constexpr QLatin1String TaskbarPosition = latin1("Options.Taskbar.Position");
inline constexpr QLatin1String PrimaryColor = latin1("PrimaryColor");

/// The keys the desktop session's configuration answers, in the order they are shown.
inline constexpr std::array<QLatin1String, 7> Desktop = { WallpaperPath, WallpaperPosition,
    LogoPath, LogoPosition, TaskbarHeight, TaskbarPosition, PrimaryColor };
/// The keys the greeter's configuration answers, in the order they are shown.
inline constexpr std::array<QLatin1String, 8> Greeter
    = { WallpaperPath, WallpaperPosition, WallpaperColorOverlay, WallpaperBlurEnable,
          WallpaperBlurRadius, LogoPath, LogoPosition, LogoBlur };
} // namespace ConfigKey

} // namespace VokImage
