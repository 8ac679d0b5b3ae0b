#include "platform/LocalFiles.h"

#include <sys/statvfs.h>
#include <sys/xattr.h>

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace tessaly::LocalFiles {

std::optional<std::string> downloadsFolder()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return std::nullopt;
    return QDir(folder).absolutePath().toStdString();
}

std::optional<std::string> picturesFolder()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (folder.isEmpty() || !QDir().mkpath(folder))
        return std::nullopt;
    return QDir(folder).absolutePath().toStdString();
}

std::optional<std::int64_t> availableCapacity(const std::string& folder)
{
    struct statvfs info { };
    if (::statvfs(folder.c_str(), &info) != 0)
        return std::nullopt;
    const auto blocks = static_cast<unsigned long long>(info.f_bavail);
    const auto size = static_cast<unsigned long long>(info.f_frsize);
    if (size != 0 && blocks > static_cast<unsigned long long>(INT64_MAX) / size)
        return INT64_MAX;
    return static_cast<std::int64_t>(blocks * size);
}

void markAsDownloaded(int fd, const std::string& comment)
{
    static const std::string publisher = "Tessaly";
    ::fsetxattr(fd, "user.xdg.publisher", publisher.data(), publisher.size(), 0);
    ::fsetxattr(fd, "user.xdg.comment", comment.data(), comment.size(), 0);
}

} // namespace tessaly::LocalFiles
