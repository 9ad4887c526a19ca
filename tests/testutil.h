#pragma once
#include <functional>

#include <QColor>
#include <QImage>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>

// Collects the messages that Qt's log receives while it lives.
class MessageLog
{
public:
    MessageLog();
    ~MessageLog();
    MessageLog(const MessageLog &) = delete;
    MessageLog &operator=(const MessageLog &) = delete;

    QStringList messages() const;
    bool contains(const QString &text) const;
    int count(const QString &text) const;
    void clear();
};

// Writes @p image to @p path; fails the test when it cannot.
bool writeTestImage(const QString &path, const QImage &image);
// A solid image of @p size in @p colour.
QImage solidImage(const QSize &size, const QColor &colour);
// True when the sandbox launcher made this process's file system private.
bool insideSandbox();
// Runs @p function in a child process with the uid and gid 65534; returns its exit status,
// or -1 when the child cannot change its identity (then the caller skips).
int runAsOtherUser(const std::function<int()> &function);
