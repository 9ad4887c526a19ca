// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// The memory of large pictures, each against its bound: a JPEG scaled as its rows decode, a
// store and a hit of a 3840x2160 record, the huge pages of a large picture. Ratios of at most
// 1 meet the bounds.

#include "memory.h"

#include <vokimage/vokimage.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QJsonDocument>
#include <QJsonObject>

#include <malloc.h>
#include <sys/resource.h>

namespace {

using namespace VokImage;

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The resident memory and its peak, in bytes.
QPair<qint64, qint64> residentMemory()
{
    qint64 rss = -1, peak = -1;
    for (const QByteArray &line : readAll(QStringLiteral("/proc/self/status")).split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 2 && fields[0] == "VmRSS:")
            rss = fields[1].toLongLong() * 1024;
        if (fields.size() >= 2 && fields[0] == "VmHWM:")
            peak = fields[1].toLongLong() * 1024;
    }
    return { rss, peak };
}

bool resetPeakMemory()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}

qint64 minorFaults()
{
    struct rusage usage;
    return getrusage(RUSAGE_SELF, &usage) == 0 ? qint64(usage.ru_minflt) : -1;
}

bool hugePagesOffered()
{
    const QByteArray mode = readAll(QStringLiteral("/sys/kernel/mm/transparent_hugepage/enabled"));
    return mode.contains("[always]") || mode.contains("[madvise]");
}

// How much the peak grew and how many pages were faulted in while @p work ran.
template <typename Work> QPair<qint64, qint64> measured(Work work)
{
    malloc_trim(0);
    resetPeakMemory();
    const qint64 before = residentMemory().first;
    const qint64 faults = minorFaults();
    work();
    return { residentMemory().second - before, minorFaults() - faults };
}

QMap<QString, QVariant> wallpaperMap(const QString &path, const QSize &screen)
{
    QMap<QString, QVariant> map = DefaultWallpaperProperties;
    map[QLatin1String(Keys::ImagePath)] = QVariant::fromValue(File(path));
    map[QLatin1String(Keys::ImageScreen)] = QRect(QPoint(0, 0), screen);
    return map;
}

// The AnonHugePages, in KiB, of the mapping that holds @p address; -1 when none does.
qint64 hugePagesAt(const uchar *address)
{
    const QList<QByteArray> lines = readAll(QStringLiteral("/proc/self/smaps")).split('\n');
    const quintptr at = quintptr(address);
    for (int i = 0; i < lines.size(); ++i) {
        const QList<QByteArray> range = lines[i].split(' ').value(0).split('-');
        bool ok = false, okEnd = false;
        const quintptr begin = range.value(0).toULongLong(&ok, 16);
        const quintptr end = range.value(1).toULongLong(&okEnd, 16);
        if (range.size() != 2 || !ok || !okEnd || at < begin || at >= end)
            continue;
        for (int j = i + 1; j < lines.size() && !lines[j].contains('-'); ++j)
            if (lines[j].startsWith("AnonHugePages:"))
                return lines[j].simplified().split(' ').value(1).toLongLong();
        return 0;
    }
    return -1;
}

} // namespace

int memoryRun(const QString &workDir)
{
    QJsonObject out;
    const bool huge = hugePagesOffered();
    // A JPEG filled to a larger screen, and one cropped from a larger picture: the render grows
    // by the picture, not by the picture and the decoded one; huge pages take its memory.
    struct Case
    {
        const char *name;
        QSize photo, screen, decoded;
    };
    for (const Case &c : { Case { "fill", QSize(1600, 1200), QSize(3200, 2400), QSize(1600, 1200) },
             Case { "crop", QSize(4000, 3000), QSize(1920, 1440), QSize(2000, 1500) } }) {
        QImage photo(c.photo, QImage::Format_RGB32);
        for (int y = 0; y < photo.height(); ++y)
            for (int x = 0; x < photo.width(); ++x)
                photo.setPixel(x, y, qRgb(x * 255 / photo.width(), (x ^ y) & 255, y & 255));
        const QString path = workDir + QStringLiteral("/memory.jpg");
        if (!QImageWriter(path).write(photo))
            return 1;
        photo = QImage();
        const qint64 picture = qint64(c.screen.width()) * c.screen.height() * 4;
        const qint64 decoded = qint64(c.decoded.width()) * c.decoded.height() * 4;
        RenderEngine engine;
        const auto [grown, faults] = measured([&] { engine.render(wallpaperMap(path, c.screen)); });
        out.insert(QStringLiteral("jpeg_%1_grown").arg(QLatin1String(c.name)),
            double(grown) / (picture + decoded / 2));
        if (huge)
            out.insert(QStringLiteral("jpeg_%1_faults").arg(QLatin1String(c.name)),
                double(faults) / (picture / 4096 / 2));
    }
    // A store writes the file as it encodes it; a hit gives up the file's pages behind the
    // decoder. Neither holds the whole file besides the picture.
    const QSize size(3840, 2160);
    QImage noise(size, QImage::Format_RGB32);
    quint32 seed = 12345;
    for (int y = 0; y < noise.height(); ++y)
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, (seed = seed * 1664525u + 1013904223u) >> 8);
    const QMap<QString, QVariant> map = wallpaperMap(workDir + QStringLiteral("/large"), size);
    QDir(QStringLiteral("/tmp/cache")).removeRecursively();
    const auto [stored, storeFaults] = measured([&] {
        Cache::saveImageCache(Image { map, noise });
    });
    const qint64 fileSize
        = QFileInfo(QStringLiteral("/tmp/cache/") + Cache::getFileName(map)).size();
    out.insert(QStringLiteral("store_grown"), double(stored) / (fileSize * 3 / 4));
    out.insert(QStringLiteral("store_faults"), double(storeFaults) / (fileSize / 4096 / 4));
    Image hit;
    for (int round = 0; round < 2; ++round) {
        hit = Image();
        const auto [grown, faults] = measured([&] {
            bool ok = false;
            hit = Cache::loadImageCache(map, &ok);
        });
        // The picture's pages count whole, and huge pages are 2 MiB.
        const qint64 hugePage = qint64(2) << 20;
        const qint64 pictureMemory = (hit.image.sizeInBytes() + hugePage - 1) / hugePage * hugePage;
        out.insert(QStringLiteral("hit_grown"), double(grown) / (pictureMemory + fileSize / 4));
        if (huge)
            out.insert(QStringLiteral("hit_faults"),
                double(faults) / (hit.image.sizeInBytes() / 4096 / 4));
    }
    // The hit's picture lies in a mapping of its own, of huge pages where they are offered.
    if (huge)
        out.insert(QStringLiteral("picture_huge_pages"),
            double(15 * 2048) / qMax<qint64>(1, hugePagesAt(hit.image.constBits())));
    printf("%s\n", QJsonDocument(out).toJson(QJsonDocument::Compact).constData());
    return 0;
}
