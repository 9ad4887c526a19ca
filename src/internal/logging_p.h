// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <QDebug>
#include <QLoggingCategory>

// The library's messages keep Qt's default category and form, so a log reads as it always has;
// the categories below only decide whether a message is written. Every level of them is on
// unless QT_LOGGING_RULES (or a qtlogging.ini) turns it off:
//   vokimage          debug: notes of ordinary operation ("Overloaded logo: ", ...)
//   vokimage.render   warning: pictures, layers and the default wallpaper
//   vokimage.cache    warning: the on-disk cache
//   vokimage.config   warning and critical: settings files and their readers
namespace VokImage {
namespace Log {

const QLoggingCategory &notes();
const QLoggingCategory &render();
const QLoggingCategory &cache();
const QLoggingCategory &config();

} // namespace Log
} // namespace VokImage

#define VOK_LOG_IF(condition, stream)                                                              \
    for (bool vokLogOn = (condition); vokLogOn; vokLogOn = false)                                  \
    stream

// A note: written as a warning, as always, while "vokimage" debug is on.
#define vokNote() VOK_LOG_IF(VokImage::Log::notes().isDebugEnabled(), qWarning())
// A failure of @p room ("render", "cache", "config").
#define vokWarning(room) VOK_LOG_IF(VokImage::Log::room().isWarningEnabled(), qWarning())
#define vokCritical(room, ...)                                                                     \
    VOK_LOG_IF(VokImage::Log::room().isCriticalEnabled(), qCritical(__VA_ARGS__))
