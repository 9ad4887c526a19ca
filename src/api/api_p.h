// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <QRect>

namespace VokImage {

/// The union of the running application's screens and @p screen, looked up on the
/// application's thread only; elsewhere @p screen.
QRect applicationDesktop(const QRect &screen);

} // namespace VokImage
