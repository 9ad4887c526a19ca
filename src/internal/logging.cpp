// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "logging_p.h"

namespace VokImage {
namespace Log {

Q_LOGGING_CATEGORY(notes, "vokimage")
Q_LOGGING_CATEGORY(render, "vokimage.render")
Q_LOGGING_CATEGORY(cache, "vokimage.cache")
Q_LOGGING_CATEGORY(config, "vokimage.config")

} // namespace Log
} // namespace VokImage
