// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later
// A freedesktop settings portal for the tests, on the session bus it is given: its
// org.freedesktop.appearance color-scheme starts at the number given and becomes each number
// read from standard input, told with the portal's change signal. Prints "ready" once served.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusVariant>
#include <QSocketNotifier>

#include <cstdio>
#include <unistd.h>

class Portal : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")

public:
    explicit Portal(uint scheme)
        : m_scheme(scheme)
    { }

    void set(uint scheme)
    {
        m_scheme = scheme;
        Q_EMIT SettingChanged(QStringLiteral("org.freedesktop.appearance"),
            QStringLiteral("color-scheme"), QDBusVariant(m_scheme));
    }

public Q_SLOTS:
    // As the portal answers: the value in a variant, in a variant.
    QDBusVariant Read(const QString &group, const QString &key)
    {
        if (group == QLatin1String("org.freedesktop.appearance")
            && key == QLatin1String("color-scheme"))
            return QDBusVariant(QVariant::fromValue(QDBusVariant(m_scheme)));
        return QDBusVariant(QString());
    }

Q_SIGNALS:
    void SettingChanged(const QString &group, const QString &key, const QDBusVariant &value);

private:
    uint m_scheme;
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    Portal portal(argc > 1 ? QByteArray(argv[1]).toUInt() : 0);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal,
            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals)
        || !bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")))
        return 1;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&portal, &app] {
        char line[16] = {};
        if (::read(STDIN_FILENO, line, sizeof line - 1) <= 0)
            app.quit();
        else
            portal.set(QByteArray(line).trimmed().toUInt());
    });
    printf("ready\n");
    fflush(stdout);
    return app.exec();
}

#include "portal.moc"
