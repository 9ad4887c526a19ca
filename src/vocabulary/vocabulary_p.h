// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

namespace VokImage {

/// Registers VokImage::File with the meta-type system once per process.
void ensureFileTypeRegistered();

} // namespace VokImage
