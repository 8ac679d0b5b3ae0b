#include "platform/Defaults.h"

#include <algorithm>
#include <charconv>
#include <string_view>

namespace tessaly {

namespace {

std::string lowerCased(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
        [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return lower;
}

std::optional<std::int64_t> parseInteger(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

} // namespace

bool Defaults::isBool(const std::string& key) const
{
    const auto stored = object(key);
    return stored && std::holds_alternative<bool>(*stored);
}

bool Defaults::readBool(const std::string& key) const
{
    const auto stored = object(key);
    if (!stored)
        return false;
    if (const auto* flag = std::get_if<bool>(&*stored))
        return *flag;
    if (const auto* number = std::get_if<std::int64_t>(&*stored))
        return *number != 0;
    if (const auto* text = std::get_if<std::string>(&*stored)) {
        const std::string lower = lowerCased(*text);
        if (lower == "true" || lower == "yes")
            return true;
        const auto number = parseInteger(lower);
        return number && *number != 0;
    }
    return false;
}

std::int64_t Defaults::readInt(const std::string& key) const
{
    const auto stored = object(key);
    if (!stored)
        return 0;
    if (const auto* flag = std::get_if<bool>(&*stored))
        return *flag ? 1 : 0;
    if (const auto* number = std::get_if<std::int64_t>(&*stored))
        return *number;
    if (const auto* text = std::get_if<std::string>(&*stored))
        return parseInteger(*text).value_or(0);
    return 0;
}

std::optional<std::string> Defaults::readString(const std::string& key) const
{
    const auto stored = object(key);
    if (!stored)
        return std::nullopt;
    if (const auto* text = std::get_if<std::string>(&*stored))
        return *text;
    if (const auto* flag = std::get_if<bool>(&*stored))
        return std::string(*flag ? "true" : "false");
    if (const auto* number = std::get_if<std::int64_t>(&*stored))
        return std::to_string(*number);
    return std::nullopt;
}

} // namespace tessaly
