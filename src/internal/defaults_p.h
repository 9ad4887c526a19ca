// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

// The built-in defaults of the configuration, in one place for the library and the tool.

#include "keys_p.h"

namespace VokImage {
namespace Defaults {

/// Taskbar thickness in pixels when the theme names none (or a map has none).
inline constexpr int TaskbarHeight = 48;
/// The desktop's primary colour when the palette names none.
inline constexpr QLatin1String PrimaryColor = latin1("#5a91bd");
/// The theme's logo when it names none: a word that names no file, so no logo is drawn.
inline constexpr QLatin1String LogoWord = latin1("fictive");
/// The colour of the greeter's generated wallpaper.
inline constexpr QLatin1String GreeterColour = latin1("#5682a3");

} // namespace Defaults
} // namespace VokImage
