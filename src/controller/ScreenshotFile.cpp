#include "controller/ScreenshotFile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <set>
#include <system_error>
#include <unistd.h>

#include <QDir>

#include "quickshare/QuickShareStore.h"

namespace tessaly::ScreenshotFile {

namespace {

constexpr int kNameAttempts = 1000;

std::string reason(int error)
{
    return std::error_code(error, std::generic_category()).message();
}

bool writeAll(int fd, std::span<const std::uint8_t> bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written == 0)
            errno = ENOSPC;
        if (written <= 0)
            return false;
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return true;
}

// Moves `from` to `to` only when nothing is at `to`. File systems without that kind of
// rename get a hard link and an unlink, which refuses an existing name just the same.
int moveToFreeName(const std::string& from, const std::string& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    if (::link(from.c_str(), to.c_str()) != 0)
        return errno;
    ::unlink(from.c_str());
    return 0;
}

} // namespace

std::string name(const QDateTime& taken)
{
    return taken.toString(QStringLiteral("'Screenshot 'yyyy-MM-dd' at 'HH.mm.ss'.png'")).toStdString();
}

Saved save(const std::string& folder, const std::string& name, std::span<const std::uint8_t> bytes)
{
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < kNameAttempts && fd < 0; ++attempt) {
        temporary = folder + "/." + name + "." + std::to_string(::getpid()) + "-" + std::to_string(attempt)
            + ".part";
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST)
            return { std::nullopt, reason(errno) };
    }
    if (fd < 0)
        return { std::nullopt, reason(EEXIST) };

    // A full disk may only show at fsync or close.
    const bool written = writeAll(fd, bytes);
    int error = written ? 0 : errno;
    if (written && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.c_str());
        return { std::nullopt, reason(error) };
    }

    std::set<std::string> taken = QuickShareStore::namesIn(folder);
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::string path = folder + "/" + QuickShareStore::freeName(name, taken);
        error = moveToFreeName(temporary, path);
        if (error == 0)
            return { path, {} };
        if (error != EEXIST)
            break;
    }
    ::unlink(temporary.c_str());
    return { std::nullopt, reason(error) };
}

} // namespace tessaly::ScreenshotFile
