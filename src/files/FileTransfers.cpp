#include "files/FileTransfers.h"

#include <filesystem>

#include <QFile>
#include <QThread>

#include "files/TransferRules.h"
#include "tools/Validation.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tessaly {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kStopped = "stopped";

std::string localPath(const QUrl& url)
{
    return QFile::encodeName(url.toLocalFile()).toStdString();
}

// The name the item has on this computer; a folder URL may end in "/".
std::string lastName(const std::string& path)
{
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.pop_back();
    const auto slash = trimmed.rfind('/');
    return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

// A regular file of size 0, such as the placeholder a drop target leaves for a promised file.
bool isEmptyFile(const std::string& path)
{
    struct stat info { };
    return ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size == 0;
}

bool exists(const std::string& path)
{
    struct stat info { };
    return ::lstat(path.c_str(), &info) == 0;
}

// Gives the finished copy its name, never replacing anything but an empty placeholder.
std::optional<std::string> moveIntoPlace(const std::string& partial, const std::string& destination)
{
    if (isEmptyFile(destination))
        ::unlink(destination.c_str()); // a drop target's placeholder
    if (::renameat2(AT_FDCWD, partial.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE) == 0)
        return std::nullopt;
    // Some file systems cannot refuse to replace: check first, then rename.
    if ((errno == EINVAL || errno == ENOSYS) && !exists(destination)
        && ::rename(partial.c_str(), destination.c_str()) == 0)
        return std::nullopt;
    if (errno == EEXIST || exists(destination))
        return "something with that name is already there";
    return "it couldn't be saved (" + std::string(std::strerror(errno)) + ")";
}

} // namespace

FileTransfers::FileTransfers(QObject* parent)
    : QObject(parent)
    , m_thread(new QThread)
    , m_worker(new QObject)
{
    m_thread->setObjectName(QStringLiteral("tessaly.transfers"));
    m_worker->moveToThread(m_thread);
    m_thread->start();
}

FileTransfers::~FileTransfers()
{
    cancel();
    m_thread->quit();
    m_thread->wait();
    delete m_worker;
    delete m_thread;
}

void FileTransfers::enqueue(std::function<void()> job)
{
    {
        const std::lock_guard guard(m_lock);
        ++m_operations;
    }
    QMetaObject::invokeMethod(m_worker, std::move(job), Qt::QueuedConnection);
}

void FileTransfers::announce(const std::string& text)
{
    const int waiting = m_operations.load() - 1;
    const std::string line = waiting >= 1 ? text + " · " + std::to_string(waiting) + " more waiting" : text;
    QMetaObject::invokeMethod(
        this,
        [this, line] {
            if (onActivity)
                onActivity(line);
        },
        Qt::QueuedConnection);
}

void FileTransfers::record(const std::string& name, const std::optional<std::string>& failure)
{
    const std::lock_guard guard(m_lock);
    m_running = {};
    if (!failure)
        ++m_summary.copied;
    else if (*failure != kStopped)
        m_summary.failures.push_back(name + ": " + *failure);
}

void FileTransfers::track(const RunHandle& handle)
{
    bool stop;
    {
        const std::lock_guard guard(m_lock);
        m_running = handle;
        stop = m_cancelRequested;
    }
    if (stop)
        handle.terminate();
}

void FileTransfers::jobEnded()
{
    Summary taken;
    {
        const std::lock_guard guard(m_lock);
        m_running = {};
        if (--m_operations > 0)
            return;
        taken = std::move(m_summary);
        taken.cancelled = m_cancelRequested && !m_abandoned;
        if (m_abandoned)
            taken.failures.push_back(*m_abandoned);
        m_summary = {};
        m_cancelRequested = false;
        m_abandoned.reset();
        m_finished = taken;
        m_idle.notify_all();
    }
    QMetaObject::invokeMethod(
        this,
        [this, taken] {
            if (onFinished)
                onFinished(taken);
        },
        Qt::QueuedConnection);
}

bool FileTransfers::cancelRequested() const
{
    const std::lock_guard guard(m_lock);
    return m_cancelRequested;
}

void FileTransfers::clearFinished(bool changesPhone)
{
    const std::lock_guard guard(m_lock);
    m_finished.reset();
    if (changesPhone)
        m_summary.changedPhone = true;
}

std::optional<FileTransfers::Summary> FileTransfers::finished() const
{
    const std::lock_guard guard(m_lock);
    return m_finished;
}

void FileTransfers::stopAndWait()
{
    cancel();
    std::unique_lock guard(m_lock);
    // A tool that ignores SIGTERM gets SIGKILL; the clean-up after it takes no time.
    if (!m_idle.wait_for(guard, std::chrono::seconds(3), [this] { return m_operations == 0; })) {
        m_running.signal(SIGKILL);
        m_idle.wait_for(guard, std::chrono::seconds(2), [this] { return m_operations == 0; });
    }
}

void FileTransfers::cancel()
{
    stop(std::nullopt);
}

void FileTransfers::abandon(std::string reason)
{
    stop(std::move(reason));
}

void FileTransfers::stop(std::optional<std::string> reason)
{
    RunHandle running;
    {
        const std::lock_guard guard(m_lock);
        if (m_operations == 0)
            return;
        m_cancelRequested = true;
        if (reason)
            m_abandoned = std::move(reason);
        running = m_running;
    }
    running.terminate();
}

ProcessResult FileTransfers::runAdb(const ADB& adb, const std::vector<std::string>& arguments, double limit)
{
    return ProcessRunner::runBlocking(adb.executable, arguments,
        ProcessRunner::safeEnvironment(adb.executable), limit, ProcessRunner::kDefaultOutputLimit,
        [this](const RunHandle& handle) { track(handle); });
}

void FileTransfers::send(std::vector<QUrl> urls, PhoneFolder folder, ADB adb, std::string serial)
{
    enqueue([this, urls = std::move(urls), folder = std::move(folder), adb = std::move(adb),
                serial = std::move(serial)] { sendJob(urls, folder, adb, serial); });
}

void FileTransfers::sendJob(
    const std::vector<QUrl>& urls, const PhoneFolder& folder, const ADB& adb, const std::string& serial)
{
    clearFinished(true);
    // A stopped batch skips its queued jobs whole, without asking the phone anything.
    if (cancelRequested()) {
        jobEnded();
        return;
    }
    announce("Checking the folder on your phone…");
    const FolderListing listing
        = adb.listBlocking(folder, serial, [this](const RunHandle& handle) { track(handle); });
    if (cancelRequested()) {
        jobEnded();
        return;
    }
    if (!listing.files() || listing.files()->truncated) {
        record(folder.title(), "couldn't look inside that folder on the phone, so nothing was copied");
        jobEnded();
        return;
    }
    std::set<std::string> taken;
    for (const PhoneFile& file : listing.files()->files)
        taken.insert(TransferRules::foldCase(file.name));
    for (std::size_t i = 0; i < urls.size(); ++i) {
        if (cancelRequested())
            break;
        const QUrl& url = urls[i];
        const std::string name = lastName(localPath(url));
        if (!Validation::isSafeFileName(name)) {
            record(name, "its name has characters the phone can't use");
            continue;
        }
        std::error_code error;
        const fs::file_status status = fs::status(localPath(url), error);
        std::optional<std::int64_t> size;
        if (!error && fs::is_regular_file(status)) {
            const auto bytes = fs::file_size(localPath(url), error);
            if (!error)
                size = static_cast<std::int64_t>(bytes);
        }
        if (error || !fs::exists(status) || (!fs::is_directory(status) && !size)) {
            record(name, "it can't be read on this computer");
            continue;
        }
        const std::string target = TransferRules::freeName(name, taken);
        announce("Copying to your phone: " + name + TransferRules::counter(i, urls.size()));
        record(target, push(url, folder.path() + "/" + target, size, adb, serial));
    }
    jobEnded();
}

std::optional<std::string> FileTransfers::push(const QUrl& url, const std::string& destination,
    std::optional<std::int64_t> size, const ADB& adb, const std::string& serial)
{
    if (!Validation::isSafeSerial(serial) || !Validation::isSafePhonePath(destination)
        || destination == "/sdcard")
        return "Refused: that is not a place in the phone's shared storage.";
    const std::string local = localPath(url);
    if (!url.isLocalFile() || !local.starts_with("/"))
        return "Refused: not a file on this computer.";
    const ProcessResult result
        = runAdb(adb, { "-s", serial, "push", local, destination }, TransferRules::timeLimit(size));
    if (result.exitCode == 0 && !result.timedOut)
        return std::nullopt;
    return cancelRequested() ? std::string(kStopped) : TransferRules::reason(result);
}

void FileTransfers::save(std::vector<PhoneItem> items, std::string folder, ADB adb, std::string serial,
    std::function<void(std::vector<std::string>)> whenDone)
{
    enqueue([this, items = std::move(items), folder = std::move(folder), adb = std::move(adb),
                serial = std::move(serial), whenDone = std::move(whenDone)] {
        clearFinished(false);
        std::set<std::string> taken;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(folder, error)) {
            const std::string name = entry.path().filename().string();
            if (!TransferRules::isPartialName(name))
                taken.insert(TransferRules::foldCase(name));
        }
        std::vector<std::string> saved;
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (cancelRequested())
                break;
            const PhoneItem& item = items[i];
            const std::string destination = folder + "/" + TransferRules::freeName(item.name, taken);
            announce("Copying to your computer: " + item.name + TransferRules::counter(i, items.size()));
            const auto failure = pull(item, destination, adb, serial);
            record(item.name, failure);
            if (!failure)
                saved.push_back(destination);
        }
        jobEnded();
        QMetaObject::invokeMethod(
            this,
            [whenDone, saved] {
                if (whenDone)
                    whenDone(saved);
            },
            Qt::QueuedConnection);
    });
}

std::optional<std::string> FileTransfers::pull(
    const PhoneItem& item, const std::string& destination, const ADB& adb, const std::string& serial)
{
    if (cancelRequested())
        return std::string(kStopped);
    if (exists(destination) && !isEmptyFile(destination))
        return "something with that name is already there";
    if (!Validation::isSafeSerial(serial) || !Validation::isSafePhonePath(item.path)
        || item.path == "/sdcard")
        return "Refused: that is not a file in the phone's shared storage.";
    if (!destination.starts_with("/"))
        return "Refused: not a place on this computer.";
    const auto slash = destination.rfind('/');
    const std::string partial
        = destination.substr(0, slash + 1) + TransferRules::partialName(destination.substr(slash + 1));
    std::error_code ignored;
    fs::remove_all(partial, ignored); // left by a crash
    const auto size = item.isFolder ? std::nullopt : std::optional(item.size);
    const ProcessResult result
        = runAdb(adb, { "-s", serial, "pull", "-a", item.path, partial }, TransferRules::timeLimit(size));
    std::optional<std::string> failure;
    if (result.exitCode == 0 && !result.timedOut)
        failure = moveIntoPlace(partial, destination);
    else
        failure = cancelRequested() ? std::string(kStopped) : TransferRules::reason(result);
    if (failure)
        fs::remove_all(partial, ignored);
    return failure;
}

std::optional<FileTransfers::Failure> FileTransfers::writePromised(
    const PhoneItem& item, const std::string& destination, const ADB& adb, const std::string& serial)
{
    clearFinished(false);
    announce("Copying to your computer: " + item.name);
    const auto failure = pull(item, destination, adb, serial);
    record(item.name, failure);
    jobEnded();
    if (!failure)
        return std::nullopt;
    if (*failure == kStopped)
        return Failure { std::string(kStopped), true };
    return Failure { item.name + ": " + *failure, false };
}

void FileTransfers::promise(PhoneItem item, std::string destination, ADB adb, std::string serial,
    std::function<void(std::optional<Failure>)> done)
{
    enqueue([this, item = std::move(item), destination = std::move(destination), adb = std::move(adb),
                serial = std::move(serial), done = std::move(done)] {
        const auto failure = writePromised(item, destination, adb, serial);
        QMetaObject::invokeMethod(
            this, [done, failure] { done(failure); }, Qt::QueuedConnection);
    });
}

} // namespace tessaly
