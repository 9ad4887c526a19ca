#pragma once

// Files in directories that every local user can write to (the cache under /tmp).

#include <QByteArray>
#include <QString>

#include <sys/types.h>

namespace VokImage {
namespace SharedFiles {

enum class DirectoryState { Missing, Trusted, Untrusted };

/**
 * Whether @p path may be used: a real directory (not a link) owned by root or the effective
 * user, and not writable by others unless sticky. A directory of ours that only lacks the
 * sticky bit gets it.
 */
DirectoryState directoryState(const QString &path);

/// True when directoryState() is Trusted.
bool isTrustedDirectory(const QString &path);

/**
 * Makes sure @p path is a trusted directory. A missing one is created with mode 01777 so
 * that every user can add files to it; its parent must exist. False when it cannot be
 * created or is not trusted.
 */
bool ensureSharedDirectory(const QString &path);

/// True when @p path is a regular file (not a link) owned by root or the effective user.
bool isTrustedFile(const QString &path);

enum class WriteResult { Written, OpenFailed, WriteFailed, RenameFailed };

/**
 * Writes @p data to a fresh, exclusively created file next to @p path and renames it over
 * @p path, so that readers see the old file or the whole new one, and a link planted at
 * @p path is replaced rather than followed. The file is readable by everyone (0644 less
 * the umask). On failure @p error
 * holds the reason and the old file is intact.
 */
WriteResult writeAtomically(const QString &path, const QByteArray &data, QString *error = nullptr);

/**
 * Reads at most @p maxSize bytes of the regular file @p path without following a link.
 * False when the file cannot be opened, is not regular, or is larger than @p maxSize.
 */
bool readNoFollow(const QString &path, qint64 maxSize, QByteArray *data, uid_t *owner = nullptr);

} // namespace SharedFiles
} // namespace VokImage
