// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <QtGlobal>

#if defined(VOKIMAGE_BUILDING)
#define VOKIMAGE_EXPORT Q_DECL_EXPORT
#else
#define VOKIMAGE_EXPORT Q_DECL_IMPORT
#endif
