#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <QObject>
#include <QUrl>

#include "phone/ADB.h"
#include "phone/PhoneFiles.h"
#include "tools/RunHandle.h"

class QThread;

namespace tessaly {

// One phone entry to copy.
struct PhoneItem {
    std::string name;
    std::string path; // below "/sdcard"
    bool isFolder = false;
    std::int64_t size = 0;
    bool operator==(const PhoneItem&) const = default;
};

// Copies between this computer and the phone with adb push and pull, one item at a time on
// its own "tessaly.transfers" thread. Nothing is ever overwritten; a stop ends the running
// copy and every queued one. Progress and results reach the owner on the GUI thread.
class FileTransfers : public QObject {
    Q_OBJECT

public:
    struct Summary {
        int copied = 0;
        std::vector<std::string> failures; // "NAME: reason"
        bool cancelled = false;
        bool changedPhone = false;
        bool operator==(const Summary&) const = default;
    };
    struct Failure {
        std::string reason;
        bool cancelled = false; // the user stopped it
        bool operator==(const Failure&) const = default;
    };

    explicit FileTransfers(QObject* parent = nullptr);
    ~FileTransfers() override;

    // Progress line; end of a batch of jobs. Both called on the GUI thread.
    std::function<void(const std::string&)> onActivity;
    std::function<void(const Summary&)> onFinished;

    // Copies local files or folders into a phone folder.
    void send(std::vector<QUrl> urls, PhoneFolder folder, ADB adb, std::string serial);
    // Copies phone items into a local folder; `whenDone` gets the paths saved (GUI thread).
    void save(std::vector<PhoneItem> items, std::string folder, ADB adb, std::string serial,
        std::function<void(std::vector<std::string>)> whenDone = {});
    // Copies one item to the exact local `destination`; must run on the transfers thread.
    std::optional<Failure> writePromised(
        const PhoneItem& item, const std::string& destination, const ADB& adb, const std::string& serial);
    // Queues writePromised behind the other jobs (a drop target asking for the file); `done` gets its
    // answer on the GUI thread.
    void promise(PhoneItem item, std::string destination, ADB adb, std::string serial,
        std::function<void(std::optional<Failure>)> done);
    // Stops the running copy and everything queued.
    void cancel();
    // The same when nobody waits for the copies any more: the batch reports `reason` instead of a stop.
    void abandon(std::string reason);
    // The same, and returns once the copies have ended and cleaned up (a few seconds at most):
    // quitting must not leave a partial file behind.
    void stopAndWait();

    // Jobs running or waiting.
    int operationCount() const { return m_operations.load(); }
    // The last summary delivered; cleared when a new job starts.
    std::optional<Summary> finished() const;

private:
    void enqueue(std::function<void()> job);
    void stop(std::optional<std::string> reason);
    void announce(const std::string& text);
    void record(const std::string& name, const std::optional<std::string>& failure);
    void track(const RunHandle& handle);
    void jobEnded();
    bool cancelRequested() const;
    void clearFinished(bool changesPhone);
    std::optional<std::string> pull(
        const PhoneItem& item, const std::string& destination, const ADB& adb, const std::string& serial);
    void sendJob(
        const std::vector<QUrl>& urls, const PhoneFolder& folder, const ADB& adb, const std::string& serial);
    std::optional<std::string> push(const QUrl& url, const std::string& destination,
        std::optional<std::int64_t> size, const ADB& adb, const std::string& serial);
    ProcessResult runAdb(const ADB& adb, const std::vector<std::string>& arguments, double limit);

    QThread* m_thread;
    QObject* m_worker; // lives on m_thread; jobs are queued to it
    std::atomic<int> m_operations = 0;

    mutable std::mutex m_lock; // guards the fields below
    std::condition_variable m_idle; // no job running or waiting
    RunHandle m_running;
    bool m_cancelRequested = false;
    std::optional<std::string> m_abandoned;
    Summary m_summary;
    std::optional<Summary> m_finished;
};

} // namespace tessaly
