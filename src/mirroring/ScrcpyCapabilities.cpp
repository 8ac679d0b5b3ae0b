#include "mirroring/ScrcpyCapabilities.h"

#include <vector>

namespace tessaly {

namespace {

// Real versions read like "2.4" or "2.4-rc1"; anything longer is no version.
constexpr std::size_t kMaxVersionLength = 32;
// Long option names are lower-case words joined by hyphens; a longer one is not an option.
constexpr std::size_t kMaxOptionLength = 64;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isVersion(std::string_view word)
{
    if (word.empty() || word.size() > kMaxVersionLength || !isDigit(word.front()))
        return false;
    for (const char c : word) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!letter && !isDigit(c) && std::string_view(".+-~_").find(c) == std::string_view::npos)
            return false;
    }
    return true;
}

bool isOptionName(std::string_view name)
{
    if (name.empty() || name.size() > kMaxOptionLength || name.front() == '-')
        return false;
    for (const char c : name) {
        if (!(c >= 'a' && c <= 'z') && !isDigit(c) && c != '-')
            return false;
    }
    return true;
}

std::vector<std::string_view> lines(std::string_view text)
{
    std::vector<std::string_view> result;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        result.push_back(line);
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return result;
}

// An option line of the help is indented by exactly four spaces: "    -b, --video-bit-rate=value",
// "    --no-audio", "    -K". Descriptions are indented further.
bool isOptionLine(std::string_view line)
{
    return line.size() > 5 && line.substr(0, 4) == "    " && line[4] == '-';
}

// The long option names of one option line.
std::vector<std::string> longOptions(std::string_view line)
{
    std::vector<std::string> names;
    std::size_t at = 0;
    while ((at = line.find("--", at)) != std::string_view::npos) {
        at += 2;
        const std::size_t end = std::min(line.find_first_of("=[ ,", at), line.size());
        const std::string_view name = line.substr(at, end - at);
        if (isOptionName(name))
            names.emplace_back(name);
        at = end;
    }
    return names;
}

// The quoted words of the first "Possible values are …." sentence of a description.
ScrcpyCapabilities::Names possibleValues(std::string_view description)
{
    ScrcpyCapabilities::Names values;
    constexpr std::string_view kLead = "Possible values are";
    const std::size_t lead = description.find(kLead);
    if (lead == std::string_view::npos)
        return values;
    std::string_view sentence = description.substr(lead + kLead.size());
    sentence = sentence.substr(0, std::min(sentence.find('.'), sentence.size()));
    for (std::size_t open = sentence.find('"'); open != std::string_view::npos;) {
        const std::size_t close = sentence.find('"', open + 1);
        if (close == std::string_view::npos)
            break;
        const std::string_view value = sentence.substr(open + 1, close - open - 1);
        if (isOptionName(value))
            values.emplace(value);
        open = sentence.find('"', close + 1);
    }
    return values;
}

} // namespace

ScrcpyCapabilities ScrcpyCapabilities::fromHelp(std::string_view help)
{
    ScrcpyCapabilities result;
    result.newest = false;
    bool inKeyboard = false;
    std::string keyboardText;
    for (const std::string_view line : lines(help)) {
        if (isOptionLine(line)) {
            const std::vector<std::string> names = longOptions(line);
            inKeyboard = false;
            for (const std::string& name : names) {
                inKeyboard = inKeyboard || name == "keyboard";
                result.options.insert(name);
            }
        } else if (inKeyboard) {
            // The sentence may wrap onto the next description line.
            keyboardText.append(line).push_back(' ');
        }
    }
    if (result.options.empty())
        return {};
    result.keyboardModes = possibleValues(keyboardText);
    result.version = versionIn(help).value_or("");
    return result;
}

std::optional<std::string> ScrcpyCapabilities::versionIn(std::string_view output)
{
    for (std::string_view line : lines(output)) {
        const std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string_view::npos)
            continue;
        line.remove_prefix(start);
        constexpr std::string_view kName = "scrcpy ";
        if (line.substr(0, kName.size()) != kName)
            continue;
        line.remove_prefix(kName.size());
        line.remove_prefix(std::min(line.find_first_not_of(' '), line.size()));
        const std::string_view word = line.substr(0, std::min(line.find_first_of(" \t"), line.size()));
        if (isVersion(word))
            return std::string(word);
    }
    return std::nullopt;
}

} // namespace tessaly
