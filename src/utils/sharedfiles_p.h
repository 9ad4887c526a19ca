#pragma once

// Files in directories that every local user can write to (the cache under /tmp).

#include <QByteArray>
#include <QString>

#include <sys/types.h>

namespace VokImage {
namespace SharedFiles {

/// True when @p path is a real directory (not a link) owned by root or the effective user.
bool isTrustedDirectory(const QString &path);

/**
 * Makes sure @p path is a trusted directory. A missing one is created with mode 01777 so
 * that every user can add files to it; its parent must exist. False when it cannot be
 * created or is not trusted.
 */
bool ensureSharedDirectory(const QString &path);

/// True when @p path is a regular file (not a link) owned by root or the effective user.
bool isTrustedFile(const QString &path);

/**
 * Writes @p data to a fresh, exclusively created file next to @p path and renames it over
 * @p path, so that readers see the old file or the whole new one, and a link planted at
 * @p path is replaced rather than followed. The file is readable by everyone (0644 less
 * the umask). False, with @p error set and the old file intact, on any failure.
 */
bool writeAtomically(const QString &path, const QByteArray &data, QString *error = nullptr);

/**
 * Reads at most @p maxSize bytes of the regular file @p path without following a link.
 * False when the file cannot be opened, is not regular, or is larger than @p maxSize.
 */
bool readNoFollow(const QString &path, qint64 maxSize, QByteArray *data, uid_t *owner = nullptr);

} // namespace SharedFiles
} // namespace VokImage
