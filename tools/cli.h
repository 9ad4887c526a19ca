// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// The command-line helpers every command of the vokimage tool shares: streams, exit codes,
// option parsing with clean usage texts, message filtering, screens, pictures and JSON.
#pragma once

#include <vokimage/vokimage.h>

#include "internal/sharedfiles_p.h"

#include <QCommandLineParser>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QRect>
#include <QTextStream>

namespace Tool {

enum ExitCode { Success = 0, Failure = 1, UsageError = 2 };

QTextStream &out();
QTextStream &err();
/// The stream of progress lines: standard error while a picture goes to standard output.
QTextStream &report();
void setReportToStandardError(bool enabled);

/// How much of the library's own messages reaches standard error.
enum class Verbosity { Quiet, Normal, Verbose };

/**
 * Holds the library's messages: with Verbose they are printed at once; otherwise they are kept
 * until the result they belong to is known, and releaseMessages(true) prints the warnings that
 * explain a failure (Normal). Quiet prints none.
 */
void installMessageFilter();
void setVerbosity(Verbosity verbosity);
void releaseMessages(bool failed);
/// Whether messages are held (the default); when not, Normal prints them at once.
void setHoldMessages(bool hold);
/// The held messages, without printing them.
QStringList heldMessages();

/// Messages are held on the main thread; those of the library's workers are dropped while held:
/// a request's result tells why it failed.

/// One command's command line: its options, its help and its usage errors.
class CommandLine
{
public:
    CommandLine(const QString &name, const QString &description);

    void addPositional(const QString &name, const QString &description, const QString &syntax);
    /// Parses @p arguments (the command's name first). -1 to go on, otherwise the exit code
    /// (help printed, or a usage error, such as an argument a command without positional
    /// arguments does not take).
    int parse(const QStringList &arguments, const QList<QCommandLineOption> &options);
    /// Prints "vokimage: MESSAGE" and a pointer to --help; returns UsageError.
    int usageError(const QString &message) const;

    bool isSet(const QCommandLineOption &option) const { return m_parser.isSet(option); }
    QString value(const QCommandLineOption &option) const { return m_parser.value(option); }
    QStringList values(const QCommandLineOption &option) const { return m_parser.values(option); }
    /// The positional arguments after the command's name.
    QStringList positional() const { return m_parser.positionalArguments(); }

private:
    QString helpText() const;

    QString m_name;
    QCommandLineParser m_parser;
    bool m_takesPositional = false;
};

// Options shared by several commands.
const QCommandLineOption &screenOption();
const QCommandLineOption &scaleOption();
const QCommandLineOption &greeterOption();
const QCommandLineOption &jsonOption();
const QCommandLineOption &formatOption();

/// The --scale ratio; false, with *code set, when it is not one.
bool parseScale(const CommandLine &line, qreal *scale, int *code);

/// "WIDTHxHEIGHT[{+-}X{+-}Y]" read by libX11's geometry parser; null when it is not one.
QRect parseGeometry(const QString &text);
/// The geometry text of @p rect, "1920x1080+0+0".
QString geometryText(const QRect &rect);

/// Why @p screen at @p scale is above the render limits; null when it is within them.
QString renderLimitError(const QRect &screen, qreal scale);

/**
 * The screens of the --screen options or, without any, the monitors of the X display (the only
 * display connection the rendering commands make). Each is checked against the render limits at
 * @p scale before anything is allocated. Without either, @p fallback when it is valid (else a
 * usage error). False, with *code set, on a usage error.
 */
bool parseScreens(const CommandLine &line, qreal scale, QList<QRect> *screens, int *code,
    const QRect &fallback = QRect());

/// The picture format for @p file: --format, else the suffix (PNG without one or for "-").
/// False, with *code set, for a format no image writer knows.
bool pictureFormat(const CommandLine &line, const QString &file, QByteArray *format, int *code);

/**
 * Writes @p image to @p file in @p format ("-": standard output). The file is written whole or
 * not at all, through a new file renamed over the name: a link at the name is refused, never
 * followed, and no directory is made.
 */
bool writeImage(const QImage &image, const QString &file, const QByteArray &format);

/// Property values for other programs: colours as "#rrggbbaa", positions as number and word,
/// times in ISO 8601 with their offset, rectangles as geometry.
QJsonValue toJson(const QString &key, const QVariant &value);
QJsonObject toJson(const QMap<QString, QVariant> &map);
QString isoTime(const QDateTime &time);
QString colourText(const QColor &colour);
void printJson(const QJsonValue &value);

/// What a cache directory's state means for the user: "in use", "not created yet", or why it
/// is not trusted.
QString stateText(VokImage::SharedFiles::DirectoryState state);

/// The word of a position number for the key @p key (wallpaper, logo or taskbar); null when
/// the key holds no position or the number has no word.
QString positionWord(const QString &key, int number);
/// The wallpaper placement words: the specified ones and those added beside them ("Fit").
const QMap<QString, VokImage::WallPaperPosition> &placementNames();

} // namespace Tool
