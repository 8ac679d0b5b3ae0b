#pragma once

#include <optional>
#include <string>

#include <QString>

namespace tessaly {

// Whether Tessaly starts when the user logs in. The controller holds this interface so
// that tests can hand in a fake.
class LoginItemService {
public:
    virtual ~LoginItemService() = default;

    virtual bool isEnabled() const = 0;
    // Registers (true) or unregisters (false). Returns a description of what went wrong,
    // none on success.
    virtual std::optional<std::string> setEnabled(bool enabled) = 0;
};

// Launch at login through the desktop's XDG autostart folder: an entry
// tessaly.desktop in $XDG_CONFIG_HOME/autostart (~/.config/autostart when unset).
// An entry marked Hidden=true is one the user switched off, so it counts as disabled.
class LoginItem : public LoginItemService {
public:
    // The standard folder and the running program.
    LoginItem();
    LoginItem(QString autostartFolder, QString executable);

    static QString standardAutostartFolder();

    bool isEnabled() const override;
    std::optional<std::string> setEnabled(bool enabled) override;

    QString entryPath() const;

    // The entry's text for `executable` (an absolute path); none for a path that a desktop
    // entry cannot carry (control characters).
    static std::optional<QString> desktopEntry(const QString& executable);
    // Whether the entry text has Hidden=true in its [Desktop Entry] group.
    static bool isHidden(const QString& entryText);

private:
    std::optional<std::string> writeEntry() const;
    std::optional<std::string> removeEntry() const;

    QString m_folder;
    QString m_executable;
};

} // namespace tessaly
