// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// The colour scheme the user prefers, from the freedesktop settings portal.

#include "config_p.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QFileInfo>
#include <QPointer>

#include <atomic>
#include <mutex>

namespace VokImage {
namespace Config {

namespace {

const QString PortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString PortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString SettingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString AppearanceNamespace = QStringLiteral("org.freedesktop.appearance");
const QString SchemeKey = QStringLiteral("color-scheme");
// Longest wait for the portal's answer (it may be started on demand).
constexpr int PortalTimeoutMs = 1000;

// The value inside any number of D-Bus variants.
QVariant unwrapped(QVariant value)
{
    while (value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    return value;
}

// True when a session bus is named, so that connecting starts nothing (no autolaunch).
bool sessionBusNamed()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QLatin1String("/bus"));
}

// The portal's answer, kept and followed: 1 prefers dark, 2 prefers light, 0 no preference.
class Scheme : public QObject
{
    Q_OBJECT

public:
    // The application's scheme, made on first use and deleted as the application object goes
    // (on its thread, by a post routine); null without one (the bus wants it).
    static Scheme *instance()
    {
        const std::lock_guard<std::mutex> lock(s_mutex);
        QCoreApplication *application = QCoreApplication::instance();
        if (!s_scheme && application && !QCoreApplication::closingDown()) {
            s_scheme = new Scheme;
            // Its signals are told on the application's thread, which runs an event loop.
            s_scheme->moveToThread(application->thread());
            qAddPostRoutine([] {
                const std::lock_guard<std::mutex> lock(s_mutex);
                delete s_scheme.data();
            });
        }
        return s_scheme;
    }

    bool prefersDark() const { return m_value == 1; }

Q_SIGNALS:
    void changed();

private Q_SLOTS:
    void settingChanged(const QString &group, const QString &key, const QDBusVariant &value)
    {
        if (group != AppearanceNamespace || key != SchemeKey)
            return;
        const int now = unwrapped(value.variant()).toInt();
        if (m_value.exchange(now) != now)
            Q_EMIT changed();
    }

private:
    Scheme()
    {
        if (!sessionBusNamed())
            return;
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected())
            return;
        bus.connect(PortalService, PortalPath, SettingsInterface, QStringLiteral("SettingChanged"),
            this, SLOT(settingChanged(QString, QString, QDBusVariant)));
        QDBusMessage read = QDBusMessage::createMethodCall(
            PortalService, PortalPath, SettingsInterface, QStringLiteral("Read"));
        read << AppearanceNamespace << SchemeKey;
        const QDBusMessage reply = bus.call(read, QDBus::Block, PortalTimeoutMs);
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
            m_value = unwrapped(reply.arguments().first()).toInt();
    }

    std::atomic<int> m_value { 0 };
    static std::mutex s_mutex;
    static QPointer<Scheme> s_scheme;
};

std::mutex Scheme::s_mutex;
QPointer<Scheme> Scheme::s_scheme;

} // namespace

bool prefersDark()
{
    const Scheme *scheme = Scheme::instance();
    return scheme && scheme->prefersDark();
}

QMetaObject::Connection followColourScheme(QObject *context, std::function<void()> changed)
{
    Scheme *scheme = Scheme::instance();
    return scheme ? QObject::connect(scheme, &Scheme::changed, context, std::move(changed))
                  : QMetaObject::Connection();
}

} // namespace Config
} // namespace VokImage

#include "colourscheme.moc"
