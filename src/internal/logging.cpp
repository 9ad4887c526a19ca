// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "logging_p.h"

namespace VokImage {
namespace Log {

Q_LOGGING_CATEGORY(notes, "vokimage")
Q_LOGGING_CATEGORY(render, "vokimage.render")
Q_LOGGING_CATEGORY(cache, "vokimage.cache")
Q_LOGGING_CATEGORY(config, "vokimage.config")

namespace {

thread_local Capture *innermost = nullptr;

} // namespace

Line::Line(const QLoggingCategory &room, QtMsgType type, bool write)
    : m_stream(&m_text)
    , m_room(room.categoryName())
    , m_type(type)
    , m_write(write)
{ }

Line::~Line()
{
    // As Qt's own message: without the space after the last item.
    const bool spaced = m_stream->autoInsertSpaces();
    m_stream.reset();
    if (spaced && m_text.endsWith(QLatin1Char(' ')))
        m_text.chop(1);
    if (m_write) {
        QMessageLogger logger;
        (m_type == QtCriticalMsg ? logger.critical() : logger.warning()).noquote() << m_text;
    }
    keep({ { m_room, m_text } });
}

Capture::Capture()
    : m_outer(innermost)
{
    innermost = this;
}

Capture::~Capture()
{
    innermost = m_outer;
}

bool capturing()
{
    return innermost != nullptr;
}

QString Capture::firstOf(const QLoggingCategory &room) const
{
    for (const Message &message : m_messages)
        if (qstrcmp(message.room, room.categoryName()) == 0)
            return message.text;
    return m_messages.isEmpty() ? QString() : m_messages.first().text;
}

void keep(const QList<Message> &messages)
{
    for (Capture *capture = innermost; capture; capture = capture->m_outer)
        capture->m_messages += messages;
}

} // namespace Log
} // namespace VokImage
