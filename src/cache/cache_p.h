// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <vokimage/cache.h>

#include <functional>

namespace VokImage {

class StagedRender;

namespace Cache {

/// A map's byte form and the file name made from it, computed once per lookup.
struct Key
{
    QByteArray bytes;
    QString name;
};

Key keyOf(const QMap<QString, QVariant> &properties);
/// True when something exists at the key's name (links included) in either cache directory.
bool exists(const Key &key);
/**
 * The record stored for @p properties, from the shared directory or else the private one;
 * @p origin (may be null) tells which.
 */
Image load(
    const QMap<QString, QVariant> &properties, const Key &key, bool *ok, Origin *origin = nullptr);
/**
 * Stores the record in the shared directory, or in the private one when that cannot be used.
 * With @p keep a record stored in the shared directory is also kept in the private cache's
 * "kept" folder, which outlives the temporary directory.
 */
bool save(const Image &image, const Key &key, bool keep = false);
/**
 * The kept copy of the record for @p properties, for a lookup that found no file under the key
 * in the shared or the private directory (after a reboot the temporary directory is empty).
 * Not used while the shared directory is untrusted; silent when there is none.
 */
bool loadKept(
    const QMap<QString, QVariant> &properties, const Key &key, Image *record, Origin *origin);
/**
 * The stored record of @p properties into @p record: the file under the key in either cache
 * directory, else the kept copy (loadKept()). False when neither serves.
 */
bool loadStored(
    const QMap<QString, QVariant> &properties, const Key &key, Image *record, Origin *origin);
/**
 * Renders @p properties and stores the record; the empty record, with "Error render image",
 * when rendering fails. @p staged, when given, has painted the map's wallpaper entries already.
 */
Image renderAndStore(const QMap<QString, QVariant> &properties, const Key &key,
    Origin *origin = nullptr, StagedRender *staged = nullptr);

/**
 * The stored record of @p properties, else the logo-choosing lookup (@p overloadLogo) or the plain
 * one, run by coordinatedLookup() so that concurrent lookups share one render.
 */
Image sharedLookup(const QMap<QString, QVariant> &properties, bool overloadLogo, Origin *origin);

/// The logo-choosing lookup of a whole background; @p origin (may be null) tells the source.
Image overloadedLookup(const QMap<QString, QVariant> &properties, Origin *origin);

/// A cache file's contents, in pieces to be written one after another: the key's byte form,
/// then the image in QDataStream's form.
bool encodeRecord(const Key &key, const QImage &image, QByteArrayList *record);
/// As encodeRecord() above, handing the bytes to @p write in order as they are made.
bool encodeRecord(
    const Key &key, const QImage &image, const std::function<bool(const QByteArray &)> &write);
/**
 * The image of a cache file's contents @p data when they begin with the key's byte form and
 * hold a PNG of exactly @p expected size; otherwise null, with @p why telling the failure in
 * the words of the cache's warnings. @p done (may be empty) is told which bytes of @p data
 * are no longer read, as decoding goes on.
 */
QImage decodeRecord(const QByteArray &data, const Key &key,
    const QMap<QString, QVariant> &properties, const QSize &expected, QString *why,
    const std::function<void(qint64, qint64)> &done = std::function<void(qint64, qint64)>());
/// The largest cache file that can hold a picture of @p surface for @p key.
qint64 largestRecord(const Key &key, const QSize &surface);

/// The weights of the regular files directly in a directory (see evictableSize()).
struct Weights
{
    quint64 all = 0; ///< every file's
    quint64 evictable = 0; ///< the files the caller may remove
};

/*
 * In the functions below, @p writing (may be empty) names the file being written for the store
 * the room is made for: it is neither weighed nor removed.
 */

/**
 * The bytes the caller could free in the directory open on @p dirFd: its own regular files
 * (every one for root), each counted by what it occupies on disk but never above its size, so
 * that a sparse file weighs nothing.
 */
quint64 evictableSize(int dirFd, const QByteArray &writing = QByteArray());
/// The weights of every file and of the caller's files in the directory open on @p dirFd.
Weights weigh(int dirFd, const QByteArray &writing = QByteArray());
/// Removes the oldest regular file of the directory that the caller may remove.
void removeOldest(int dirFd, const QByteArray &writing = QByteArray());
/**
 * Before a store of @p incoming bytes into the directory open on @p dirFd: when all its files
 * weigh more than the limit, warns and removes the oldest file the caller may remove. False
 * when there are files of others, and they and the new one together would be above the limit.
 */
bool makeRoom(int dirFd, quint64 incoming, const QByteArray &writing = QByteArray());
/// Removes the oldest files of the directory, silently, until @p incoming more bytes fit the
/// limit.
void makeRoomQuietly(int dirFd, quint64 incoming, const QByteArray &writing = QByteArray());

} // namespace Cache
} // namespace VokImage
