#pragma once

#include <QTemporaryDir>

namespace tessaly::test {

// Points XDG_CONFIG_HOME at a fresh folder while it lives, as a new user account would have.
struct TemporaryConfigHome {
    QTemporaryDir folder;
    const bool wasSet = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    const QByteArray previous = qgetenv("XDG_CONFIG_HOME");

    TemporaryConfigHome() { qputenv("XDG_CONFIG_HOME", folder.path().toUtf8()); }
    ~TemporaryConfigHome() { wasSet ? qputenv("XDG_CONFIG_HOME", previous) : qunsetenv("XDG_CONFIG_HOME"); }
    QString path() const { return folder.path(); }
};

} // namespace tessaly::test
