// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "cli.h"

#include "internal/keys_p.h"
#include "internal/limits_p.h"
#include "internal/sharedfiles_p.h"
#include "png/png_p.h"
#include "x11.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFileInfo>
#include <QImageWriter>
#include <QJsonArray>
#include <QJsonDocument>
#include <QThread>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <sys/stat.h>

namespace Tool {

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

namespace {

bool reportToStandardError = false;
Verbosity verbosity = Verbosity::Normal;

std::atomic<bool> holding { true };

struct HeldMessage
{
    QtMsgType type;
    QString text;
};

// The workers' messages are not held: their requests report why they failed.
bool onMainThread()
{
    const QCoreApplication *application = QCoreApplication::instance();
    return !application || QThread::currentThread() == application->thread();
}

QList<HeldMessage> &held()
{
    static thread_local QList<HeldMessage> list;
    return list;
}

void printMessage(const QString &text)
{
    static std::mutex mutex;
    const std::lock_guard<std::mutex> lock(mutex);
    out().flush();
    err() << text << "\n";
    err().flush();
}

void filter(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QString text = qFormatLogMessage(type, context, message);
    if (type == QtFatalMsg) {
        printMessage(text);
        std::abort();
    }
    if (verbosity == Verbosity::Verbose || (!holding && verbosity == Verbosity::Normal))
        printMessage(text);
    else if (verbosity == Verbosity::Normal && onMainThread())
        held().append({ type, text });
}

} // namespace

QTextStream &report()
{
    // -q prints errors only: the result lines go nowhere.
    if (verbosity == Verbosity::Quiet) {
        static QFile null(QStringLiteral("/dev/null"));
        static QTextStream nowhere;
        if (!null.isOpen() && null.open(QIODevice::WriteOnly))
            nowhere.setDevice(&null);
        return nowhere;
    }
    return reportToStandardError ? err() : out();
}

void setReportToStandardError(bool enabled)
{
    reportToStandardError = enabled;
}

void setHoldMessages(bool hold)
{
    holding = hold;
}

void installMessageFilter()
{
    qInstallMessageHandler(filter);
}

void setVerbosity(Verbosity level)
{
    verbosity = level;
}

void releaseMessages(bool failed)
{
    if (failed)
        for (const HeldMessage &message : qAsConst(held()))
            if (message.type != QtDebugMsg && message.type != QtInfoMsg)
                printMessage(message.text);
    held().clear();
}

QStringList heldMessages()
{
    QStringList texts;
    for (const HeldMessage &message : qAsConst(held()))
        texts.append(message.text);
    return texts;
}

CommandLine::CommandLine(const QString &name, const QString &description)
    : m_name(name)
{
    m_parser.setApplicationDescription(description);
    m_parser.addHelpOption();
}

void CommandLine::addPositional(
    const QString &name, const QString &description, const QString &syntax)
{
    m_parser.addPositionalArgument(name, description, syntax);
    m_takesPositional = true;
}

int CommandLine::parse(const QStringList &arguments, const QList<QCommandLineOption> &options)
{
    static const QCommandLineOption verbose({ QStringLiteral("v"), QStringLiteral("verbose") },
        QStringLiteral("Print all of the library's messages."));
    static const QCommandLineOption quiet(
        { QStringLiteral("q"), QStringLiteral("quiet") }, QStringLiteral("Print errors only."));
    m_parser.addOptions(options);
    m_parser.addOption(verbose);
    m_parser.addOption(quiet);
    if (!m_parser.parse(QStringList { QStringLiteral("vokimage") } + arguments.mid(1)))
        return usageError(m_parser.errorText());
    if (m_parser.isSet(QStringLiteral("help")) || m_parser.isSet(QStringLiteral("help-all"))) {
        out() << helpText();
        return Success;
    }
    if (!m_takesPositional && !m_parser.positionalArguments().isEmpty())
        return usageError(
            QStringLiteral("unexpected argument ") + m_parser.positionalArguments().constFirst());
    if (m_parser.isSet(verbose) && m_parser.isSet(quiet))
        return usageError(QStringLiteral("-v and -q exclude each other"));
    setVerbosity(m_parser.isSet(verbose) ? Verbosity::Verbose
            : m_parser.isSet(quiet)      ? Verbosity::Quiet
                                         : Verbosity::Normal);
    return -1;
}

int CommandLine::usageError(const QString &message) const
{
    out().flush();
    err() << "vokimage: " << message << "\nRun 'vokimage " << m_name << " --help' for its usage.\n";
    err().flush();
    return UsageError;
}

QString CommandLine::helpText() const
{
    // Qt names the program by its path and puts "[options]" first; the usage line here names
    // the program and the command.
    QString text = m_parser.helpText();
    const int end = text.indexOf(QLatin1Char('\n'));
    const int options = text.indexOf(QLatin1String(" [options]"));
    if (end > 0 && options > 0 && options < end)
        text.replace(0, options, QStringLiteral("Usage: vokimage ") + m_name);
    return text;
}

const QCommandLineOption &screenOption()
{
    static const QCommandLineOption option(QStringLiteral("screen"),
        QStringLiteral("Screen geometry, such as 1920x1080 or 1280x1024+1920+0; repeatable. "
                       "Default: the monitors of the X display."),
        QStringLiteral("GEOMETRY"));
    return option;
}

const QCommandLineOption &scaleOption()
{
    static const QCommandLineOption option(QStringLiteral("scale"),
        QStringLiteral("Device pixel ratio of the screen (HiDPI): the picture is rendered at "
                       "GEOMETRY x RATIO device pixels."),
        QStringLiteral("RATIO"), QStringLiteral("1"));
    return option;
}

const QCommandLineOption &greeterOption()
{
    static const QCommandLineOption option(QStringLiteral("greeter"),
        QStringLiteral(
            "Use the display manager's greeter configuration instead of the desktop's."));
    return option;
}

const QCommandLineOption &jsonOption()
{
    static const QCommandLineOption option(
        QStringLiteral("json"), QStringLiteral("Print JSON for other programs."));
    return option;
}

const QCommandLineOption &formatOption()
{
    static const QCommandLineOption option(QStringLiteral("format"),
        QStringLiteral("Picture format (png, jpg, bmp, ...). Default: from the file's suffix, "
                       "PNG without one."),
        QStringLiteral("FORMAT"));
    return option;
}

bool parseScale(const CommandLine &line, qreal *scale, int *code)
{
    bool ok = false;
    *scale = line.value(scaleOption()).toDouble(&ok);
    if (!ok || !std::isfinite(*scale) || *scale <= 0 || *scale > VokImage::MaxDevicePixelRatio) {
        *code = line.usageError(QStringLiteral("--scale needs a ratio above 0 and at most %1")
                                    .arg(VokImage::MaxDevicePixelRatio));
        return false;
    }
    return true;
}

QRect parseGeometry(const QString &text)
{
    return X11::parseGeometry(text);
}

QString geometryText(const QRect &rect)
{
    return QStringLiteral("%1x%2%3%4%5%6")
        .arg(rect.width())
        .arg(rect.height())
        .arg(rect.x() < 0 ? QStringLiteral("-") : QStringLiteral("+"))
        .arg(qAbs(rect.x()))
        .arg(rect.y() < 0 ? QStringLiteral("-") : QStringLiteral("+"))
        .arg(qAbs(rect.y()));
}

QString renderLimitError(const QRect &screen, qreal scale)
{
    const qint64 width = qint64(std::ceil(screen.width() * scale));
    const qint64 height = qint64(std::ceil(screen.height() * scale));
    if (VokImage::withinRenderLimits(width, height))
        return QString();
    return QStringLiteral("%1 at scale %2 is %3x%4 pixels, above the limit of %5 per side and "
                          "%6 in all")
        .arg(geometryText(screen))
        .arg(scale)
        .arg(width)
        .arg(height)
        .arg(VokImage::MaxImageDimension)
        .arg(VokImage::MaxImagePixels);
}

bool parseScreens(
    const CommandLine &line, qreal scale, QList<QRect> *screens, int *code, const QRect &fallback)
{
    const QStringList values = line.values(screenOption());
    for (const QString &value : values) {
        const QRect screen = parseGeometry(value);
        if (!screen.isValid()) {
            *code = line.usageError(
                QStringLiteral("not a geometry: %1 (such as 1920x1080 or 1280x1024+1920+0)")
                    .arg(value));
            return false;
        }
        screens->append(screen);
    }
    if (values.isEmpty()) {
        const X11::Connection connection;
        if (connection.isOpen()) {
            for (const X11::Monitor &monitor : connection.monitors())
                screens->append(monitor.rect);
        } else if (fallback.isValid()) {
            screens->append(fallback);
        } else {
            *code = line.usageError(
                QStringLiteral("give --screen GEOMETRY (no X display to ask for its monitors)"));
            return false;
        }
    }
    for (const QRect &screen : qAsConst(*screens)) {
        const QString error = renderLimitError(screen, scale);
        if (!error.isEmpty()) {
            *code = line.usageError(error);
            return false;
        }
    }
    return true;
}

bool pictureFormat(const CommandLine &line, const QString &file, QByteArray *format, int *code)
{
    const QString suffix = file == QLatin1String("-") ? QString() : QFileInfo(file).suffix();
    const QString name = line.isSet(formatOption()) ? line.value(formatOption())
        : suffix.isEmpty()                          ? QStringLiteral("png")
                                                    : suffix;
    *format = name.toLower().toLatin1();
    if (QImageWriter::supportedImageFormats().contains(*format))
        return true;
    QStringList known;
    for (const QByteArray &each : QImageWriter::supportedImageFormats())
        known.append(QString::fromLatin1(each));
    *code = line.usageError(
        QStringLiteral("unknown picture format \"%1\"%2; known: %3")
            .arg(name,
                line.isSet(formatOption())
                    ? QString()
                    : QStringLiteral(" (the suffix of %1; or use --format)").arg(file),
                known.join(QLatin1Char(' '))));
    return false;
}

bool writeImage(const QImage &image, const QString &file, const QByteArray &format)
{
    if (image.isNull()) {
        err() << "vokimage: no picture could be produced for " << file << "\n";
        return false;
    }
    // PNG as the cache writes it (deflated when that pays off, in two threads): Qt's writer
    // takes seconds for a photo at 3840x2160.
    QByteArrayList pieces;
    if (format == "png") {
        if (!VokImage::Png::encodePng(image, &pieces)) {
            err() << "vokimage: cannot write " << file << " as png\n";
            return false;
        }
    } else {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, format);
        if (!writer.write(image)) {
            err() << "vokimage: cannot write " << file << " as " << format << ": "
                  << writer.errorString() << "\n";
            return false;
        }
        pieces.append(bytes);
    }
    if (file == QLatin1String("-")) {
        out().flush();
        bool written = true;
        for (const QByteArray &piece : qAsConst(pieces))
            written = written
                && fwrite(piece.constData(), 1, size_t(piece.size()), stdout)
                    == size_t(piece.size());
        if (!written || fflush(stdout) != 0) {
            err() << "vokimage: cannot write the picture to standard output\n";
            return false;
        }
        return true;
    }
    struct stat st;
    if (::lstat(QFile::encodeName(file).constData(), &st) == 0 && S_ISLNK(st.st_mode)) {
        err() << "vokimage: " << file << " is a symbolic link; not writing through it\n";
        return false;
    }
    QString reason;
    if (VokImage::SharedFiles::writeAtomically(file, pieces, true, &reason)
        != VokImage::SharedFiles::WriteResult::Written) {
        err() << "vokimage: cannot write " << file << ": " << reason << "\n";
        return false;
    }
    return true;
}

QString isoTime(const QDateTime &time)
{
    if (!time.isValid())
        return QString();
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QString colourText(const QColor &colour)
{
    if (!colour.isValid())
        return QString();
    return QString::asprintf(
        "#%02x%02x%02x%02x", colour.red(), colour.green(), colour.blue(), colour.alpha());
}

QString stateText(VokImage::SharedFiles::DirectoryState state)
{
    switch (state) {
    case VokImage::SharedFiles::DirectoryState::Trusted:
        return QStringLiteral("in use");
    case VokImage::SharedFiles::DirectoryState::Missing:
        return QStringLiteral("not created yet");
    default:
        return QStringLiteral("not trusted: owned by another user, open to others or a link");
    }
}

const QMap<QString, VokImage::WallPaperPosition> &placementNames()
{
    static const QMap<QString, VokImage::WallPaperPosition> names = [] {
        QMap<QString, VokImage::WallPaperPosition> all = VokImage::WallPaperPositionNames;
        all.insert(VokImage::MoreWallPaperPositionNames);
        return all;
    }();
    return names;
}

QString positionWord(const QString &key, int number)
{
    using namespace VokImage;
    auto word = [number](const auto &names) {
        for (auto it = names.constBegin(); it != names.constEnd(); ++it)
            if (int(it.value()) == number)
                return it.key();
        return QString();
    };
    if (key == PropertyKey::ImagePosition || key == ConfigKey::WallpaperPosition)
        return word(placementNames());
    if (key == PropertyKey::LogoPosition || key == ConfigKey::LogoPosition)
        return word(LogoPositionNames);
    if (key == PropertyKey::TaskbarPosition || key == ConfigKey::TaskbarPosition)
        return word(TaskbarPositionNames);
    return QString();
}

QJsonValue toJson(const QString &key, const QVariant &value)
{
    switch (value.userType()) {
    case QMetaType::QRect:
        return geometryText(value.toRect());
    case QMetaType::QColor: {
        const QColor colour = value.value<QColor>();
        return colour.isValid() ? QJsonValue(colourText(colour)) : QJsonValue();
    }
    case QMetaType::QDateTime:
        return isoTime(value.toDateTime());
    case QMetaType::Int: {
        const QString word = positionWord(key, value.toInt());
        if (!word.isNull())
            return QJsonObject { { QStringLiteral("number"), value.toInt() },
                { QStringLiteral("word"), word } };
        return value.toInt();
    }
    default:
        break;
    }
    if (value.userType() == qMetaTypeId<VokImage::File>()) {
        const VokImage::File file = value.value<VokImage::File>();
        return QJsonObject { { QStringLiteral("path"), file.path },
            { QStringLiteral("lastModified"),
                file.lastModified.isValid() ? QJsonValue(isoTime(file.lastModified))
                                            : QJsonValue() } };
    }
    if (!value.isValid())
        return QJsonValue();
    return QJsonValue::fromVariant(value);
}

QJsonObject toJson(const QMap<QString, QVariant> &map)
{
    QJsonObject object;
    for (auto it = map.constBegin(); it != map.constEnd(); ++it)
        object.insert(it.key(), toJson(it.key(), it.value()));
    return object;
}

void printJson(const QJsonValue &value)
{
    const QJsonDocument document
        = value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
    out() << document.toJson(QJsonDocument::Indented);
}

} // namespace Tool
