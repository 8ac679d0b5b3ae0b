#pragma once

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace tessaly::test {

// A private session bus (dbus-daemon) in a temporary folder, for one test. Its address is
// empty when dbus-daemon is missing or did not start.
class PrivateBus {
public:
    PrivateBus()
    {
        if (!QFile::exists(QStringLiteral("/usr/bin/dbus-daemon")))
            return;
        m_daemon.start(QStringLiteral("/usr/bin/dbus-daemon"),
            { QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address"),
                QStringLiteral("--address=unix:path=") + m_folder.path() + QStringLiteral("/bus") });
        if (m_daemon.waitForStarted(5000) && m_daemon.waitForReadyRead(5000))
            m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    }
    ~PrivateBus()
    {
        m_daemon.kill();
        m_daemon.waitForFinished(5000);
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    const QString& address() const { return m_address; }

private:
    QTemporaryDir m_folder;
    QProcess m_daemon;
    QString m_address;
};

} // namespace tessaly::test
