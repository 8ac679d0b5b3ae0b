#pragma once

#include <memory>

#include <QString>

#include "platform/Defaults.h"

class QSettings;

namespace tessaly {

// The user's settings in $XDG_CONFIG_HOME/Tessaly/Tessaly.conf (~/.config when unset),
// the file QSettings uses for organisation and application "Tessaly". Every write is
// flushed at once, so a setting survives the process being killed.
//
// The INI file keeps no types: a boolean comes back as the text "true" or "false", so
// those two texts are read as booleans, whether written in this run or an earlier one.
class QSettingsDefaults : public Defaults {
public:
    QSettingsDefaults();
    explicit QSettingsDefaults(const QString& fileName);
    ~QSettingsDefaults() override;

    // The settings file for the current environment. The folder is looked up on every
    // call (not cached as QSettings does) so that tests can point XDG_CONFIG_HOME elsewhere.
    static QString standardFileName();

    std::optional<Object> object(const std::string& key) const override;
    void write(const std::string& key, const Object& value) override;
    void remove(const std::string& key) override;

    QString fileName() const;

private:
    std::unique_ptr<QSettings> m_settings;
};

} // namespace tessaly
