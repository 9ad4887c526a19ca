// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

// Files in directories that other local users can write to (the cache under /tmp), the private
// per-user cache, and bounded reads of files the library is handed.

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

#include <dirent.h>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

struct ucred;

namespace VokImage {
namespace SharedFiles {

/// Largest wallpaper or logo file that is read.
constexpr qint64 MaxImageFileSize = qint64(128) << 20;
/// Largest SVG document, after gzip inflation, that is decoded.
constexpr qint64 MaxSvgSize = qint64(16) << 20;
/// Largest theme, palette, desktop-entry or greeter settings file that is read.
constexpr qint64 MaxSettingsFileSize = qint64(1) << 20;

/// A file descriptor, closed when it goes out of scope.
class FileDescriptor
{
public:
    explicit FileDescriptor(int fd = -1)
        : m_fd(fd)
    { }
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    FileDescriptor(FileDescriptor &&other) noexcept
        : m_fd(other.release())
    { }
    FileDescriptor &operator=(FileDescriptor &&other) noexcept
    {
        if (this != &other) {
            FileDescriptor old(m_fd);
            m_fd = other.release();
        }
        return *this;
    }

    int get() const { return m_fd; }
    bool isValid() const { return m_fd >= 0; }
    /// Gives the descriptor up to a new owner.
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

struct DirectoryCloser
{
    void operator()(DIR *directory) const { ::closedir(directory); }
};

/// The entries of the directory open on @p directoryFd (which stays open); null on failure.
std::unique_ptr<DIR, DirectoryCloser> listEntries(int directoryFd);

enum class DirectoryState { Missing, Trusted, Untrusted };

/**
 * Whether the shared directory @p path may be used, without changing it: a real directory (not
 * a link) owned by root or the effective user, and not writable by others unless sticky or the
 * caller's own (secureSharedDirectory() then makes it sticky).
 */
DirectoryState inspectSharedDirectory(const QString &path);

/**
 * As inspectSharedDirectory(), and a directory of the caller's that others can write to but
 * that lacks the sticky bit gets it.
 */
DirectoryState secureSharedDirectory(const QString &path);

/**
 * Makes sure @p path is a trusted directory. A missing one is created with mode 01777 so
 * that every user can add files to it; its parent must exist. False when it cannot be
 * created or is not trusted.
 */
bool ensureSharedDirectory(const QString &path);

/**
 * True when @p path is a regular file (not a link) owned by root or the effective user and
 * writable by nobody else.
 */
bool isTrustedFile(const QString &path);

/// As isTrustedFile(), for the file @p name in the directory open on @p dirFd.
bool isTrustedFileAt(int dirFd, const QString &name);

/**
 * True when a user other than root and the caller could replace @p path: one of the folders on
 * its way (as written or resolved) is writable by group or others, sticky or not, or belongs
 * to another user.
 */
bool inSharedLocation(const QString &path);

/**
 * The caller's private cache directory: "$XDG_CACHE_HOME/vokimage", or "vokimage" in the
 * ".cache" folder of the home directory. Null when no home directory is known. Root uses the
 * home directory of its password entry when the folders of that path are not all root's.
 */
QString privateCacheDir();

/**
 * Opens the directory @p path by a walk from "/" that follows no link: every folder on the way
 * belongs to root or the caller and is closed to writing by others (a sticky one, as /tmp, is
 * not replaceable and passes), and the last one is the caller's own; it loses any write access
 * of others. With @p create, missing folders are made with mode 0700. Invalid when the path
 * cannot be trusted or is missing; @p state (may be null) tells which.
 */
FileDescriptor openPrivateDirectory(
    const QString &path, bool create, DirectoryState *state = nullptr);

/**
 * The folder @p name inside the directory open on @p parentFd, opened without following a link,
 * as openPrivateDirectory() judges the last folder.
 */
FileDescriptor openPrivateSubdirectory(
    int parentFd, const QString &name, bool create, DirectoryState *state = nullptr);

/// The caller's private cache directory (privateCacheDir()) opened by openPrivateDirectory().
FileDescriptor openPrivateCache(bool create, DirectoryState *state = nullptr);

/**
 * Opens the shared directory @p path without following a link: invalid, with @p state
 * Untrusted, unless secureSharedDirectory() trusts it; with @p create a missing one is made as
 * ensureSharedDirectory() makes it.
 */
FileDescriptor openSharedDirectory(
    const QString &path, bool create, DirectoryState *state = nullptr);

/// True when the file @p path can be read by every user: readable by others, and every folder
/// on its resolved path searchable by others. False for a file that cannot be found.
bool readableByEveryone(const QString &path);

enum class WriteResult { Written, OpenFailed, WriteFailed, RenameFailed };

/// Mode of a file every user may read (less the umask).
constexpr mode_t PublicFileMode = 0644;
/// Mode of a file only its owner may read.
constexpr mode_t PrivateFileMode = 0600;

/**
 * Writes @p data to a fresh, exclusively created file next to @p path and renames it over
 * @p path, so that readers see the old file or the whole new one, and a link planted at
 * @p path is replaced rather than followed. The file is readable by everyone (0644 less
 * the umask). On failure @p error holds the reason and the old file is intact.
 */
WriteResult writeAtomically(const QString &path, const QByteArray &data, QString *error = nullptr);

/**
 * As writeAtomically(), for a file made of @p pieces written one after another, with @p mode
 * (less the umask). Without @p sync the data is not forced to the disk before the rename: for
 * cache files, whose damage after a crash is found when they are read.
 */
WriteResult writeAtomically(const QString &path, const QByteArrayList &pieces, bool sync,
    QString *error = nullptr, mode_t mode = PublicFileMode);

/// As writeAtomically(), for the file @p name in the directory open on @p dirFd.
WriteResult writeAtomicallyAt(int dirFd, const QString &name, const QByteArrayList &pieces,
    bool sync, mode_t mode, QString *error = nullptr);

/**
 * A file written under a fresh, exclusively created name beside @p name in the directory open
 * on @p dirFd, with @p mode (less the umask), and renamed over @p name by commit(): what
 * writeAtomicallyAt() does, for bytes that come a piece at a time. Removed again when it goes
 * out of scope uncommitted.
 */
class AtomicFile
{
public:
    AtomicFile(int dirFd, const QString &name, mode_t mode);
    /**
     * A second name for the file @p same is writing, made in the directory open on @p dirFd and
     * renamed over @p name by commit(): the bytes written to @p same are this file's too, without
     * being written twice. Not open when the file system cannot link it (another file system, no
     * /proc); nothing is written to it.
     */
    AtomicFile(int dirFd, const QString &name, const AtomicFile &same);
    ~AtomicFile();
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    /// False when the file could not be made; error() tells why.
    bool isOpen() const { return m_file.isValid(); }
    /// Appends @p data; false, for good, once a write failed.
    bool write(const QByteArray &data);
    /// The bytes written so far.
    qint64 size() const { return m_size; }
    /// The name the file has until it is committed.
    QByteArray temporaryName() const { return m_temporary; }
    /// Puts the file in place, forced to the disk first with @p sync.
    WriteResult commit(bool sync);
    /// The reason of the last failure.
    QString error() const;

private:
    // Makes a fresh name beside the target with @p make (false and errno EEXIST when it exists).
    template <typename Make> void makeTemporary(Make make);

    int m_dirFd;
    QByteArray m_final;
    QByteArray m_temporary;
    FileDescriptor m_file;
    qint64 m_size = 0;
    bool m_failed = false;
    bool m_committed = false;
    bool m_linked = false;
    int m_errno = 0;
};

/// A file's contents mapped read-only into memory; unmapped when it goes out of scope.
class MappedFile
{
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(MappedFile &&other) noexcept;
    MappedFile &operator=(MappedFile &&other) noexcept;
    MappedFile(const MappedFile &) = delete;
    MappedFile &operator=(const MappedFile &) = delete;

    /// The contents, without a copy: valid while this mapping lives.
    QByteArray bytes() const;
    /// Gives up the memory of the whole pages among the bytes from @p from to @p to; they are
    /// read from the file again when touched.
    void release(qint64 from, qint64 to);

private:
    friend bool mapNoFollowAt(int, const QString &, qint64, MappedFile *, uid_t *);
    void *m_data = nullptr;
    size_t m_size = 0;
    size_t m_released = 0;
};

/**
 * As readNoFollow(), for the file @p name in the directory open on @p dirFd, but maps the file
 * instead of copying it: for the cache's own files, which are replaced by renaming and never
 * changed in place.
 */
bool mapNoFollowAt(
    int dirFd, const QString &name, qint64 maxSize, MappedFile *file, uid_t *owner = nullptr);

/// True when something (a link included) is named @p name in the directory open on @p dirFd.
bool existsAt(int dirFd, const QString &name);

/**
 * Reads at most @p maxSize bytes of the regular file @p path without following a link.
 * False when the file cannot be opened, is not regular, or is larger than @p maxSize.
 */
bool readNoFollow(const QString &path, qint64 maxSize, QByteArray *data, uid_t *owner = nullptr);

/**
 * Reads the file @p path once, opened without blocking: it must be a regular file of at most
 * @p maxSize bytes. In a shared location (inSharedLocation()) a link is not followed and the
 * file must belong to root or the caller and be writable by nobody else. On refusal
 * @p error (may be null) says why.
 */
bool readFile(const QString &path, qint64 maxSize, QByteArray *data, QString *error = nullptr);

/**
 * True when readFile() would take the file @p name in the directory open on @p dirFd, judged by
 * its status without opening it: a regular file the caller may read, of at most @p maxSize
 * bytes; with @p shared (the directory is a shared location) not a link, and root's or the
 * caller's and writable by nobody else.
 */
bool acceptableFileAt(int dirFd, const char *name, bool shared, qint64 maxSize);

/**
 * True when the settings file @p path may be read: it opens without blocking as a regular file
 * of at most MaxSettingsFileSize bytes; in a shared location (inSharedLocation()) it is not a
 * link, and root's or the caller's and writable by nobody else. Otherwise false, with a warning;
 * the caller then treats the file as missing. A missing file gives false without a warning.
 */
bool settingsFileReadable(const QString &path);

/// As settingsFileReadable(), silently: @p reason says why a present file is refused.
bool settingsFileState(const QString &path, QString *reason);

/**
 * A stream socket holding @p name in the abstract socket namespace and listening with
 * @p backlog: no file, and the kernel frees the name when the socket closes, however the
 * process ends. Invalid when the name is held already.
 */
FileDescriptor holdAbstractName(const QByteArray &name, int backlog);

/**
 * A stream socket connected to the holder of @p name in the abstract socket namespace, with the
 * holder's credentials in @p peer. Invalid, with errno telling why, when nobody listens under
 * the name or its queue is full (EAGAIN).
 */
FileDescriptor connectAbstractName(const QByteArray &name, struct ucred *peer);

/// What removeOwnFilesAt() did.
struct RemoveCount
{
    int removed = 0;
    int kept = 0;
};

/**
 * Removes the regular files directly in the directory open on @p dirFd that the caller may
 * remove (its own; all for root), and with @p subdirectories also those of its subdirectories,
 * found without following links. The directory must be trusted (owned by root or the caller);
 * otherwise false and nothing is removed.
 */
bool removeOwnFilesAt(int dirFd, bool subdirectories, RemoveCount *count);

/**
 * Calls @p visit with each regular file directly in the directory open on @p dirFd (@p folder
 * empty) and in its subdirectories of root or the caller (@p folder their name), found without
 * following links; @p folderFd is the directory that holds the file.
 */
void visitFiles(int dirFd,
    const std::function<void(
        int folderFd, const QString &folder, const char *name, const struct stat &)> &visit);

} // namespace SharedFiles
} // namespace VokImage
