// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <QRect>

namespace VokImage {

/// The union of the running application's screens and @p screen, looked up on the
/// application's thread only; elsewhere @p screen.
QRect applicationDesktop(const QRect &screen);

/// Seconds since the epoch, from the clock setClock() set (the system clock by default).
qint64 clockSeconds();

/// The picture of the folder @p folder for now (as documented in api.h), at the desktop's or,
/// with @p greeter, the greeter's interval; @p folder itself when it is not a folder, an empty
/// string when it holds no picture.
QString pictureOfFolder(const QString &folder, bool greeter);

/// Milliseconds until the picture of a folder may change, for @p interval seconds.
qint64 untilNextPicture(int interval);

} // namespace VokImage
