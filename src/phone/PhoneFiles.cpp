#include "phone/PhoneFiles.h"

#include <array>
#include <limits>

#include <QCoroFuture>
#include <QtConcurrent/QtConcurrentRun>

#include "phone/ADB.h"
#include "tools/Validation.h"

namespace tessaly {

std::string PhoneFolder::path() const
{
    std::string path = "/sdcard";
    for (const std::string& name : names)
        path += "/" + name;
    return path;
}

std::string PhoneFolder::title() const
{
    return names.empty() ? std::string("Internal storage") : names.back();
}

PhoneFolder PhoneFolder::parent() const
{
    PhoneFolder up = *this;
    if (!up.names.empty())
        up.names.pop_back();
    return up;
}

PhoneFolder PhoneFolder::child(const std::string& name) const
{
    PhoneFolder down = *this;
    down.names.push_back(name);
    return down;
}

const std::vector<PhoneFolder::Place>& PhoneFolder::places()
{
    static const std::vector<Place> list = {
        { "Downloads", { { "Download" } } },
        { "Camera", { { "DCIM", "Camera" } } },
        { "Screenshots", { { "DCIM", "Screenshots" } } },
        { "Pictures", { { "Pictures" } } },
        { "Movies", { { "Movies" } } },
        { "Documents", { { "Documents" } } },
        { "Internal storage", { {} } },
    };
    return list;
}

namespace PhoneFiles {

namespace {

constexpr std::array<std::int8_t, 256> hexDigits = [] {
    std::array<std::int8_t, 256> digits {};
    digits.fill(-1);
    for (int c = '0'; c <= '9'; ++c)
        digits[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - '0');
    for (int c = 'a'; c <= 'f'; ++c) {
        digits[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - 'a' + 10);
        digits[static_cast<std::size_t>(c - 'a' + 'A')] = static_cast<std::int8_t>(c - 'a' + 10);
    }
    return digits;
}();

// A non-empty hexadecimal number of at most `digits` significant digits.
std::optional<std::uint64_t> hexField(std::string_view text, std::size_t digits)
{
    while (text.size() > 1 && text.front() == '0')
        text.remove_prefix(1);
    if (text.empty() || text.size() > digits)
        return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        const int digit = hexDigits[static_cast<unsigned char>(c)];
        if (digit < 0)
            return std::nullopt;
        value = (value << 4) | static_cast<unsigned>(digit);
    }
    return value;
}

std::int64_t capped(std::uint64_t value)
{
    constexpr auto largest = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    return static_cast<std::int64_t>(value > largest ? largest : value);
}

std::string_view cutField(std::string_view& rest, bool& ok)
{
    const auto space = rest.find(' ');
    if (space == std::string_view::npos) {
        ok = false;
        return {};
    }
    const std::string_view field = rest.substr(0, space);
    rest.remove_prefix(space + 1);
    return field;
}

} // namespace

FolderListing::Files parseListing(std::string_view output)
{
    FolderListing::Files parsed;
    while (!output.empty()) {
        const auto end = output.find('\n');
        std::string_view line = output.substr(0, end);
        output.remove_prefix(end == std::string_view::npos ? output.size() : end + 1);
        if (line.empty())
            continue;
        bool ok = true;
        const std::string_view modeText = cutField(line, ok);
        const std::string_view sizeText = cutField(line, ok);
        const std::string_view timeText = cutField(line, ok);
        if (!ok)
            continue;
        const auto mode = hexField(modeText, 8);
        const auto size = hexField(sizeText, 16);
        const auto time = hexField(timeText, 16);
        if (!mode || !size || !time)
            continue;
        const std::string_view name = line;
        if (name == "." || name == "..") {
            parsed.folderSeen = true;
            continue;
        }
        // Also refuses names that are not UTF-8. The runner hands over such bytes as U+FFFD, and
        // a name carrying one no longer names the phone's file, so it is skipped too.
        if (!Validation::isSafeFileName(name) || name.find("\xEF\xBF\xBD") != std::string_view::npos)
            continue;
        PhoneFile::Kind kind = PhoneFile::Kind::other;
        if ((*mode & 0xF000) == 0x4000)
            kind = PhoneFile::Kind::folder;
        else if ((*mode & 0xF000) == 0x8000)
            kind = PhoneFile::Kind::file;
        parsed.files.push_back({ std::string(name), kind, capped(*size), capped(*time) });
    }
    return parsed;
}

std::optional<std::vector<std::string>> listArguments(const PhoneFolder& folder, const std::string& serial)
{
    const std::string path = folder.path();
    if (!Validation::isSafeSerial(serial) || !Validation::isSafePhonePath(path))
        return std::nullopt;
    return std::vector<std::string> { "-s", serial, "ls", path };
}

FolderListing listingFrom(const ProcessResult& result)
{
    if (result.exitCode == 0 && !result.timedOut) {
        FolderListing::Files files = parseListing(result.stdOut);
        // The runner keeps the last bytes of a longer answer; decoding may change the count a little.
        files.truncated = result.stdOut.size() + 1024 >= ProcessRunner::kListingOutputLimit;
        return { std::move(files) };
    }
    return { FolderListing::Failed { ProcessRunner::trimWhitespace(result.combinedOutput()) } };
}

} // namespace PhoneFiles

FolderListing ADB::listBlocking(const PhoneFolder& folder, const std::string& serial,
    const std::function<void(const RunHandle&)>& onStart) const
{
    const auto arguments = PhoneFiles::listArguments(folder, serial);
    if (!arguments)
        return { FolderListing::Failed { std::string(PhoneFiles::kRefusedFolder) } };
    return PhoneFiles::listingFrom(
        ProcessRunner::runBlocking(executable, *arguments, ProcessRunner::safeEnvironment(executable),
            PhoneFiles::kListTimeout, ProcessRunner::kListingOutputLimit, onStart,
            ProcessRunner::kGraceSeconds, ProcessRunner::Trim::none));
}

QCoro::Task<FolderListing> ADB::list(PhoneFolder folder, std::string serial) const
{
    // A large folder takes a while to parse: not on the GUI thread.
    QFuture<FolderListing> future = QtConcurrent::run(
        &ProcessRunner::toolPool(), [self = *this, folder = std::move(folder), serial = std::move(serial)] {
            return self.listBlocking(folder, serial);
        });
    co_return co_await future;
}

} // namespace tessaly
