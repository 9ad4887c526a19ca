// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <vokimage/export.h>

#include <QObject>
#include <QStringList>

#include <memory>

namespace VokImage {

/**
 * Tells when the desktop's (or the greeter's) background changes.
 *
 * It watches what decides the background: the theme, palette and desktop-folder entry files
 * (the greeter's settings file with @c greeter), the wallpaper and logo files they name and
 * the generated wallpaper's templates; files that appear later and folders that are replaced
 * included, and a wallpaper folder's pictures. Other entries of the folders it watches are no
 * change. After a quiet period (300 ms) without further changes, and at most 1 s after the
 * first change however long changes go on, it emits changed() once, when
 * the property maps of the screens (those of the running QGuiApplication, and 1920x1080) differ
 * from what they were: a change that changes no map (the library's own touch of the theme
 * file, an edit that leaves every value as it was) is not signalled.
 *
 * Lives on the thread that made it, which must run an event loop.
 */
class VOKIMAGE_EXPORT BackgroundWatcher : public QObject
{
    Q_OBJECT
    /// The greeter's background instead of the desktop's.
    Q_PROPERTY(bool greeter READ isGreeter WRITE setGreeter NOTIFY greeterChanged)
    /// Counts the changes signalled so far; a binding on it follows the background.
    Q_PROPERTY(int revision READ revision NOTIFY changed)

public:
    explicit BackgroundWatcher(QObject *parent = nullptr);
    explicit BackgroundWatcher(bool greeter, QObject *parent = nullptr);
    ~BackgroundWatcher() override;

    bool isGreeter() const;
    void setGreeter(bool greeter);
    int revision() const;
    /// The files watched now (existing or not).
    QStringList watchedFiles() const;

Q_SIGNALS:
    /// The background changed: request it again.
    void changed();
    void greeterChanged();

private:
    class Private;
    std::unique_ptr<Private> d;
};

} // namespace VokImage
