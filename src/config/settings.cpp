// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include <vokimage/config.h>

#include "config_p.h"
#include "internal/logging_p.h"
#include "internal/sharedfiles_p.h"

#include <QFileInfo>
#include <QRegExp>
#include <QSettings>
#include <QTextCodec>

#include <cstdio>
#include <mutex>
#include <utime.h>

namespace {

std::mutex formatMutex;
QSettings::Format themercFormat = QSettings::InvalidFormat;

// The format identifier, registered by the first caller (once, whatever the threads).
QSettings::Format registeredFormat()
{
    const std::lock_guard<std::mutex> locker(formatMutex);
    if (themercFormat == QSettings::InvalidFormat) {
        themercFormat = QSettings::registerFormat(QStringLiteral("themerc"),
            VokImage::Config::readSettingsFile, VokImage::Config::writeSettingsFile,
            Qt::CaseSensitive);
        if (themercFormat == QSettings::InvalidFormat && VokImage::Log::config().isWarningEnabled())
            fprintf(stderr, "VokSettings: custom format %d NOT registered\n",
                int(QSettings::InvalidFormat));
    }
    return themercFormat;
}

// The format's own lines go straight to standard error.
void formatNote(const char *line)
{
    if (VokImage::Log::config().isWarningEnabled())
        fputs(line, stderr);
}

const QString SectionKey = QStringLiteral("SectionName");

QVariant typedValue(const QString &text)
{
    static const QRegExp capitalBool(QStringLiteral("^(True|False)$"));
    static const QRegExp lowerBool(QStringLiteral("^(true|false)$"));
    static const QRegExp digits(QStringLiteral("^[0-9]+$"));
    if (QRegExp(capitalBool).exactMatch(text))
        return text == QLatin1String("True");
    if (QRegExp(lowerBool).exactMatch(text))
        return text == QLatin1String("true");
    if (QRegExp(digits).exactMatch(text))
        return QVariant(text).toInt();
    if (text.startsWith(QLatin1Char('"')) && text.endsWith(QLatin1Char('"')))
        return text.mid(1, text.size() - 2);
    return text;
}

} // namespace

namespace VokImage {
namespace Config {

bool readSettingsFile(QIODevice &device, QSettings::SettingsMap &map)
{
    if (!device.isOpen()) {
        formatNote("VokSettings: file isn't open - can't read from\n");
        return false;
    }
    map.clear();
    while (!device.atEnd()) {
        const QString line = QString::fromLocal8Bit(device.readLine().trimmed());
        const int equals = line.indexOf(QLatin1Char('='));
        if (!line.startsWith(QLatin1Char('#')) && !line.startsWith(QLatin1Char(';'))
            && equals >= 0) {
            const QString key = line.left(equals).trimmed();
            const QString value = line.mid(equals + 1).trimmed();
            if (!key.isEmpty() && !value.isEmpty())
                map.insert(key, typedValue(value));
        } else if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            QString name = line;
            name.remove(QLatin1Char('[')).remove(QLatin1Char(']'));
            map.insert(SectionKey, name.trimmed());
        }
    }
    return true;
}

bool writeSettingsFile(QIODevice &device, const QSettings::SettingsMap &map)
{
    if (!device.isOpen() || map.isEmpty()) {
        formatNote("VokSettings: file isn't open or settings are empty\n");
        return false;
    }
    if (!device.isWritable()) {
        formatNote("VokSettings: file isn't writable\n");
        return false;
    }
    if (map.contains(SectionKey))
        device.write(
            QString(QLatin1Char('[') + map.value(SectionKey).toString() + QLatin1String("]\n"))
                .toLocal8Bit());
    for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
        if (it.key() == SectionKey)
            continue;
        QString text = it.value().toString();
        QString line;
        if (text == QLatin1String("true")) {
            line = QStringLiteral("%1=true\n").arg(it.key());
        } else if (text == QLatin1String("false")) {
            line = QStringLiteral("%1=false\n").arg(it.key());
        } else {
            const bool quoted
                = text.startsWith(QLatin1Char('"')) && text.endsWith(QLatin1Char('"'));
            if (!quoted && (text.contains(QLatin1Char(' ')) || text.contains(QLatin1Char('\t'))))
                text = QLatin1Char('"') + text + QLatin1Char('"');
            line = QStringLiteral("%1=%2\n").arg(it.key(), text);
        }
        device.write(line.toLocal8Bit());
    }
    return true;
}

} // namespace Config
} // namespace VokImage

VokSettings::VokSettings(const QString &path)
{
    m_parsed = ParseConfigFile(path);
}

VokSettings::~VokSettings() = default;

bool VokSettings::isParsed()
{
    return m_parsed;
}

bool VokSettings::ParseConfigFile(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return false;
    if (!info.isReadable()) {
        vokCritical(config).noquote() << QStringLiteral("Permission Denied for '%1'!").arg(path);
        return false;
    }
    // A pipe, a device or a huge file reads as missing: the defaults apply.
    if (!VokImage::SharedFiles::settingsFileReadable(path))
        return false;
    const QSettings::Format format = registeredFormat();
    m_settings = std::make_unique<QSettings>(info.absoluteFilePath(), format, nullptr);
    m_settings->setIniCodec(QTextCodec::codecForLocale());
    if (m_settings->status() != QSettings::NoError) {
        vokCritical(config) << "Cant register format!";
        return false;
    }
    m_path = info.absoluteFilePath();
    return true;
}

QVariant VokSettings::value(const QString &key, const QVariant &defaultValue)
{
    if (m_parsed && m_settings)
        return m_settings->value(key, defaultValue);
    return defaultValue;
}

void VokSettings::setValue(const QString &key, const QVariant &value)
{
    if (m_settings)
        m_settings->setValue(key, value);
}

void VokSettings::remove(const QString &key)
{
    if (m_settings)
        m_settings->remove(key);
}

void VokSettings::sync(bool touch)
{
    if (!m_settings || m_path.isEmpty())
        return;
    if (touch)
        (void)::utime(m_path.toLocal8Bit().constData(), nullptr);
    m_settings->sync();
}
