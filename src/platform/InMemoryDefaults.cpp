#include "platform/InMemoryDefaults.h"

#include <utility>

namespace tessaly {

InMemoryDefaults::InMemoryDefaults(std::map<std::string, Object> objects)
    : m_objects(std::move(objects))
{
}

std::optional<Defaults::Object> InMemoryDefaults::object(const std::string& key) const
{
    const auto found = m_objects.find(key);
    if (found == m_objects.end())
        return std::nullopt;
    return found->second;
}

void InMemoryDefaults::write(const std::string& key, const Object& value)
{
    m_objects[key] = value;
    ++m_changeCount;
}

void InMemoryDefaults::remove(const std::string& key)
{
    m_objects.erase(key);
    ++m_changeCount;
}

} // namespace tessaly
