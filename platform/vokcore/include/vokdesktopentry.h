// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <memory>
#include <string>

class KDesktopFile;

/**
 * A desktop-entry file (such as a folder's ".directory"), read on demand. Values are looked
 * up in its "Desktop Entry" group.
 */
class VokDesktopEntry
{
public:
    /// Remembers the UTF-8 @p path; nothing is read until load().
    explicit VokDesktopEntry(std::string path);
    ~VokDesktopEntry();
    VokDesktopEntry(const VokDesktopEntry &) = delete;
    VokDesktopEntry &operator=(const VokDesktopEntry &) = delete;

    /// Reads the file; false when it is not a readable regular file.
    bool load();

    /// The UTF-8 value of a non-standard @p key such as "X-VOK-WallPaper"; empty when absent
    /// or before a successful load().
    std::string getUnknownValue(const char *key) const;

private:
    std::string m_path;
    std::unique_ptr<KDesktopFile> m_file;
};
