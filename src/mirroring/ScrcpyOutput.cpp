#include "mirroring/ScrcpyOutput.h"

#include <array>
#include <charconv>

#include "tools/Validation.h"

namespace tessaly::ScrcpyOutput {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Digits only; a sign, a gap or a value past int counts as unreadable.
std::optional<int> decimal(std::string_view text)
{
    if (text.empty() || !isDigit(text.front()))
        return std::nullopt;
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

bool contains(std::string_view text, std::string_view phrase)
{
    return text.find(phrase) != std::string_view::npos;
}

constexpr std::size_t kMaxOptionLength = 64;

// The option name at the start of `text`, up to a quote, "=", white space or the end.
std::optional<std::string> optionAt(std::string_view text, std::string_view dashes)
{
    const std::size_t end = std::min(text.find_first_of("'`=\" \t\r\n"), text.size());
    const std::string_view name = text.substr(0, end);
    if (name.empty() || name.size() > kMaxOptionLength || name.front() == '-')
        return std::nullopt;
    for (const char c : name) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!letter && !isDigit(c) && c != '-')
            return std::nullopt;
    }
    return std::string(dashes) + std::string(name);
}

} // namespace

std::optional<FPSReading> fps(std::string_view line)
{
    const std::size_t marker = line.find(" fps");
    if (marker == std::string_view::npos)
        return std::nullopt;
    std::size_t start = marker;
    while (start > 0 && isDigit(line[start - 1]))
        --start;
    const auto rate = decimal(line.substr(start, marker - start));
    if (!rate)
        return std::nullopt;

    // The skipped count may stand anywhere in the line: "... (+3 frames skipped)".
    int skipped = 0;
    const std::size_t open = line.find("(+");
    if (open != std::string_view::npos) {
        const std::size_t countStart = open + 2;
        const std::size_t close = line.find(" frames skipped", countStart);
        if (close != std::string_view::npos)
            skipped = decimal(line.substr(countStart, close - countStart)).value_or(0);
    }
    return FPSReading { *rate, skipped };
}

// An encoder line looks like:
//     --video-codec=h264 --video-encoder=c2.qti.avc.encoder    (hw) [vendor]
std::optional<std::string> hardwareH264Encoder(std::string_view output)
{
    constexpr std::string_view kEncoderFlag = "--video-encoder=";
    std::size_t start = 0;
    while (start < output.size()) {
        std::size_t end = output.find('\n', start);
        if (end == std::string_view::npos)
            end = output.size();
        const std::string_view line = output.substr(start, end - start);
        start = end + 1;
        if (!contains(line, "--video-codec=h264") || !contains(line, "(hw)") || contains(line, "(alias"))
            continue;
        const std::size_t flag = line.find(kEncoderFlag);
        if (flag == std::string_view::npos)
            continue;
        const std::string_view rest = line.substr(flag + kEncoderFlag.size());
        const std::string_view name = rest.substr(0, rest.find_first_of(" \t\r\v\f"));
        if (Validation::isSafeEncoderName(name))
            return std::string(name);
    }
    return std::nullopt;
}

bool looksLikeEncoderError(std::string_view output)
{
    constexpr std::array<std::string_view, 7> kPhrases {
        "Could not create video encoder",
        "Could not create default video encoder",
        "Capture/encoding error",
        "MediaCodec",
        "IllegalArgumentException",
        "IllegalStateException",
        "CodecException",
    };
    for (const std::string_view phrase : kPhrases) {
        if (contains(output, phrase))
            return true;
    }
    return false;
}

std::optional<std::string> rejectedOption(std::string_view output)
{
    // What follows each marker: whether a quote comes first, and whether the dashes are there.
    struct Form {
        std::string_view marker;
        bool quoted, dashed;
    };
    constexpr std::array<Form, 4> kForms { {
        { "unrecognized option ", true, true },
        { "unknown option -- ", false, false },
        { "invalid option -- ", true, false },
        { "ERROR: ", false, true },
    } };
    for (const Form& form : kForms) {
        for (std::size_t at = output.find(form.marker); at != std::string_view::npos;
             at = output.find(form.marker, at + 1)) {
            std::string_view rest = output.substr(at + form.marker.size());
            if (form.quoted && !rest.empty() && (rest.front() == '\'' || rest.front() == '`'))
                rest.remove_prefix(1);
            if (form.marker == "ERROR: ") {
                const std::size_t end = rest.find_first_of(" \n");
                if (rest.substr(0, 2) != "--" || end == std::string_view::npos
                    || rest.substr(end, 17) != " has been removed")
                    continue;
            }
            std::string_view dashes;
            if (form.dashed) {
                if (rest.substr(0, 1) != "-")
                    continue;
                dashes = rest.substr(0, rest.substr(0, 2) == "--" ? 2 : 1);
                rest.remove_prefix(dashes.size());
            } else {
                const std::size_t end = std::min(rest.find_first_of("'`=\" \t\r\n"), rest.size());
                dashes = end == 1 ? "-" : "--";
            }
            if (auto option = optionAt(rest, dashes))
                return option;
        }
    }
    return std::nullopt;
}

} // namespace tessaly::ScrcpyOutput
