// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <QDebug>
#include <QList>
#include <QLoggingCategory>
#include <QString>

#include <optional>

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

/**
 * A message of the library: formatted as qDebug() formats, written as a warning or critical
 * message of Qt's default category when @p write, and kept by the calling thread's captures.
 */
class Line
{
public:
    Line(const QLoggingCategory &room, QtMsgType type, bool write);
    ~Line();
    QDebug &stream() { return *m_stream; }

private:
    QString m_text;
    std::optional<QDebug> m_stream;
    const char *m_room;
    QtMsgType m_type;
    bool m_write;
};

/// A message kept by a capture, with the category of its room.
struct Message
{
    const char *room;
    QString text;
};

/// Adds @p messages to the calling thread's captures without writing them.
void keep(const QList<Message> &messages);

/// Keeps the messages of the calling thread while it lives (those of nested captures too).
class Capture
{
public:
    Capture();
    ~Capture();
    Capture(const Capture &) = delete;
    Capture &operator=(const Capture &) = delete;
    const QList<Message> &messages() const { return m_messages; }
    /// The first message of @p room, else the first one; empty when there is none.
    QString firstOf(const QLoggingCategory &room) const;

private:
    friend void keep(const QList<Message> &messages);
    QList<Message> m_messages;
    Capture *m_outer;
};

/// True while a capture lives on the calling thread.
bool capturing();

} // namespace Log
} // namespace VokImage

#define VOK_LOG_IF(condition, stream)                                                              \
    for (bool vokLogOn = (condition); vokLogOn; vokLogOn = false)                                  \
    stream

// A note: written as a warning, as always, while "vokimage" debug is on.
#define vokNote() VOK_LOG_IF(VokImage::Log::notes().isDebugEnabled(), qWarning())
// A failure of @p room ("render", "cache", "config").
#define vokWarning(room) vokLine(room, QtWarningMsg, isWarningEnabled)
#define vokCritical(room) vokLine(room, QtCriticalMsg, isCriticalEnabled)
#define vokLine(room, type, enabled)                                                               \
    for (bool vokWrite = VokImage::Log::room().enabled(), vokOn = true;                            \
         vokOn && (vokWrite || VokImage::Log::capturing()); vokOn = false)                         \
    VokImage::Log::Line(VokImage::Log::room(), type, vokWrite).stream()
