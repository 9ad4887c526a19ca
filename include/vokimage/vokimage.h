// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

// The whole public interface of libvokimage.

#include <vokimage/api.h>
#include <vokimage/cache.h>
#include <vokimage/config.h>
#include <vokimage/export.h>
#include <vokimage/image.h>
#include <vokimage/logo.h>
#include <vokimage/lookup.h>
#include <vokimage/render.h>
#include <vokimage/utils.h>
#include <vokimage/version.h>
#include <vokimage/vocabulary.h>
#include <vokimage/watcher.h>
