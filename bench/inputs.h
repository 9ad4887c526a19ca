// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <QImage>
#include <QString>

namespace Bench {

/// A picture with the statistics of a photograph: soft gradients and blobs, fine texture and
/// sensor grain, the same for the same seed.
QImage photoLike(const QSize &size, quint32 seed);

/// Writes the benchmark's inputs into @p dir unless they are there: photo-6000x4000.jpg,
/// photo-3840x2160.jpg, logo.png and logo.svg. False when a file cannot be written.
bool makeInputs(const QString &dir);

} // namespace Bench
