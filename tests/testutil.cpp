// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "testutil.h"

#include <vokimage/vokimage.h>

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
QMutex logMutex;
QStringList *logged = nullptr;
QtMessageHandler previous = nullptr;

void collect(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    {
        QMutexLocker locker(&logMutex);
        if (logged)
            logged->append(message);
    }
    if (previous)
        previous(type, context, message);
}
} // namespace

MessageLog::MessageLog()
{
    QMutexLocker locker(&logMutex);
    logged = new QStringList;
    previous = qInstallMessageHandler(collect);
}

MessageLog::~MessageLog()
{
    qInstallMessageHandler(previous);
    QMutexLocker locker(&logMutex);
    delete logged;
    logged = nullptr;
}

QStringList MessageLog::messages() const
{
    QMutexLocker locker(&logMutex);
    return *logged;
}

bool MessageLog::contains(const QString &text) const
{
    return count(text) > 0;
}

int MessageLog::count(const QString &text) const
{
    int n = 0;
    for (const QString &message : messages())
        n += message.contains(text) ? 1 : 0;
    return n;
}

void MessageLog::clear()
{
    QMutexLocker locker(&logMutex);
    logged->clear();
}

bool writeTestImage(const QString &path, const QImage &image)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    return image.save(path);
}

QImage solidImage(const QSize &size, const QColor &colour)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

QImage coordinateImage(const QSize &size)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, qRgb(x & 255, y & 255, ((x >> 8) & 15) | ((y >> 8) << 4)));
    return image;
}

QImage gradientImage(const QSize &size)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            line[x] = qRgb(
                x * 255 / qMax(1, size.width() - 1), y * 255 / qMax(1, size.height() - 1), 128);
    }
    return image;
}

PropertyMap wallpaperMap(const QString &path, const QRect &screen, int position)
{
    PropertyMap map = VokImage::DefaultWallpaperProperties;
    map[QLatin1String(VokImage::Keys::ImagePath)] = QVariant::fromValue(VokImage::File(path));
    map[QLatin1String(VokImage::Keys::ImageScreen)] = screen;
    map[QLatin1String(VokImage::Keys::ImagePosition)] = position;
    return map;
}

QImage rendered(const PropertyMap &map, bool *ok)
{
    VokImage::RenderEngine engine;
    const QImage image = engine.render(map).toImage();
    if (ok)
        *ok = engine.getStatus() == VokImage::RenderEngine::Ok;
    return image;
}

QString cachePath(const PropertyMap &map)
{
    return VokImage::CacheDir + QLatin1Char('/') + VokImage::Cache::getFileName(map);
}

int largestDifference(const QImage &a, const QImage &b, double *mean)
{
    const QImage x = a.convertToFormat(QImage::Format_ARGB32);
    const QImage y = b.convertToFormat(QImage::Format_ARGB32);
    if (x.size() != y.size())
        return 256;
    qint64 total = 0;
    int largest = 0;
    for (int row = 0; row < x.height(); ++row) {
        const auto *p = reinterpret_cast<const QRgb *>(x.constScanLine(row));
        const auto *q = reinterpret_cast<const QRgb *>(y.constScanLine(row));
        for (int col = 0; col < x.width(); ++col)
            for (int shift = 0; shift < 32; shift += 8) {
                const int d = qAbs(int((p[col] >> shift) & 255) - int((q[col] >> shift) & 255));
                total += d;
                largest = qMax(largest, d);
            }
    }
    if (mean)
        *mean = double(total) / (4.0 * qMax(1, x.width() * x.height()));
    return largest;
}

QImage photoImage(const QSize &size, quint32 seed)
{
    QImage photo(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int grain = int(seed >> 28) - 8;
            const int stripes = (x / 3 + y / 5) % 2 ? 40 : 0;
            const int edge = x > size.width() * 4 / 7 && y > size.height() / 3 ? 90 : 0;
            photo.setPixel(x, y,
                qRgb(qBound(0, x * 200 / size.width() + grain + edge, 255),
                    qBound(0, y * 200 / size.height() + stripes + grain, 255),
                    qBound(0, 120 + grain - edge, 255)));
        }
    return photo;
}

QByteArray taggedJpeg(const QImage &image, int orientation)
{
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 95);
    // "Exif", a big-endian TIFF header and IFD0 with the one SHORT entry 0x0112.
    QByteArray exif("Exif\0\0MM\0\x2a\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0", 25);
    exif += char(orientation) + QByteArray(6, '\0');
    const int length = exif.size() + 2;
    return jpeg.left(2) + "\xff\xe1" + char(length >> 8) + char(length & 255) + exif + jpeg.mid(2);
}

bool insideSandbox()
{
    return qgetenv("VOK_SANDBOX") == "1";
}

int runAsOtherUser(const std::function<int()> &function)
{
    const pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(200);
        _exit(function());
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -2;
    const int code = WEXITSTATUS(status);
    return code == 200 ? -1 : code;
}

struct stat statOf(const QString &path)
{
    struct stat st = {};
    st.st_uid = uid_t(-1);
    ::lstat(QFile::encodeName(path).constData(), &st);
    return st;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

bool setMtime(const QString &path, time_t seconds)
{
    const struct timeval times[2] = { { seconds, 0 }, { seconds, 0 } };
    return ::utimes(QFile::encodeName(path).constData(), times) == 0;
}

bool writeConfig(const QString &path, const QByteArray &data)
{
    static time_t stamp = 1500000000;
    return writeAll(path, data) && setMtime(path, ++stamp);
}

long peakResidentMiB()
{
    const QList<QByteArray> lines = readAll(QStringLiteral("/proc/self/status")).split('\n');
    for (const QByteArray &line : lines)
        if (line.startsWith("VmHWM:"))
            return long(line.mid(6).trimmed().split(' ').first().toLongLong() / 1024);
    return -1;
}

bool writeTheme(const QByteArray &lines)
{
    return writeConfig(TestPaths::Theme, lines);
}

bool freshSession()
{
    QDir(TestPaths::Home).removeRecursively();
    if (!QDir().mkpath(TestPaths::Home))
        return false;
    qputenv("HOME", TestPaths::Home.toLocal8Bit());
    for (const char *name :
        { "XDG_CONFIG_HOME", "DESKTOP_SESSION", "VOK_RC_FILE", "VOK_KIOSK_DESKTOP_DIR" })
        qunsetenv(name);
    QFile::remove(TestPaths::DmSettings);
    return true;
}

bool waitForLine(QProcess &process, const QByteArray &line)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 20000) {
        while (process.canReadLine())
            if (process.readLine().startsWith(line))
                return true;
        if (!process.waitForReadyRead(1000) && process.state() != QProcess::Running)
            return false;
    }
    return false;
}

SettingsPortal::SettingsPortal() = default;

SettingsPortal::~SettingsPortal()
{
    m_portal.closeWriteChannel();
    if (!m_portal.waitForFinished(5000))
        m_portal.kill();
    m_bus.terminate();
    if (!m_bus.waitForFinished(5000))
        m_bus.kill();
    m_portal.waitForFinished(1000);
    m_bus.waitForFinished(1000);
}

bool SettingsPortal::start(uint scheme)
{
    m_bus.start(QStringLiteral("dbus-daemon"), words("--session --nofork --print-address"));
    if (!m_bus.waitForReadyRead(10000))
        return false;
    m_address = QString::fromLatin1(m_bus.readLine().trimmed());
    if (m_address.isEmpty())
        return false;
    m_portal.setProcessEnvironment(environment());
    m_portal.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_portal.start(QStringLiteral(VOK_TEST_PORTAL), { QString::number(scheme) });
    return waitForLine(m_portal, "ready");
}

bool SettingsPortal::set(uint scheme)
{
    m_portal.write(QByteArray::number(scheme) + '\n');
    return m_portal.waitForBytesWritten(10000);
}

QProcessEnvironment SettingsPortal::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
    return environment;
}
