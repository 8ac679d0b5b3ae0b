#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace tessaly {

// The application's small store of user settings. Implementations only hold objects;
// the reading rules (what counts as a boolean, what a wrongly typed value reads as) live
// here so that the real store and the in-memory one used by tests answer alike.
class Defaults {
public:
    // An object whose type none of the readers understands (a list, for example).
    struct Other {
        bool operator==(const Other&) const = default;
    };
    using Object = std::variant<bool, std::int64_t, std::string, Other>;

    virtual ~Defaults() = default;

    // The object stored under `key`, none when there is none.
    virtual std::optional<Object> object(const std::string& key) const = 0;
    virtual void write(const std::string& key, const Object& value) = 0;
    virtual void remove(const std::string& key) = 0;

    bool contains(const std::string& key) const { return object(key).has_value(); }
    bool isBool(const std::string& key) const;

    // False when absent; a boolean as stored; a number is true unless 0; a text is true
    // when it reads "true", "yes" or a number other than 0 (in any letter case).
    bool readBool(const std::string& key) const;
    // 0 when absent or unreadable; a boolean reads 1 or 0; a text must be a decimal integer.
    std::int64_t readInt(const std::string& key) const;
    // None when absent or a list; numbers and booleans read as their text.
    std::optional<std::string> readString(const std::string& key) const;

    void writeBool(const std::string& key, bool value) { write(key, Object(value)); }
    void writeInt(const std::string& key, std::int64_t value) { write(key, Object(value)); }
    void writeString(const std::string& key, const std::string& value) { write(key, Object(value)); }
};

} // namespace tessaly
