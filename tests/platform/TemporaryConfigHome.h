#pragma once

#include <cstdlib>
#include <optional>
#include <string>

#include <QTemporaryDir>

namespace tessaly::test {

// Points XDG_CONFIG_HOME at a fresh folder while it lives, as a new user account would have.
class TemporaryConfigHome {
public:
    TemporaryConfigHome()
    {
        if (const char* previous = std::getenv("XDG_CONFIG_HOME"))
            m_previous = previous;
        setenv("XDG_CONFIG_HOME", m_folder.path().toUtf8().constData(), 1);
    }
    ~TemporaryConfigHome()
    {
        if (m_previous)
            setenv("XDG_CONFIG_HOME", m_previous->c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
    }
    QString path() const { return m_folder.path(); }

private:
    QTemporaryDir m_folder;
    std::optional<std::string> m_previous;
};

} // namespace tessaly::test
