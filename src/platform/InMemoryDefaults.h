#pragma once

#include <map>

#include "platform/Defaults.h"

namespace tessaly {

// Settings that live only as long as the object: for tests, and a store to fall back on.
class InMemoryDefaults : public Defaults {
public:
    InMemoryDefaults() = default;
    explicit InMemoryDefaults(std::map<std::string, Object> objects);

    std::optional<Object> object(const std::string& key) const override;
    void write(const std::string& key, const Object& value) override;
    void remove(const std::string& key) override;

    const std::map<std::string, Object>& objects() const { return m_objects; }
    // How many writes and removals happened, for tests that check a setter stored its value.
    int changeCount() const { return m_changeCount; }

private:
    std::map<std::string, Object> m_objects;
    int m_changeCount = 0;
};

} // namespace tessaly
