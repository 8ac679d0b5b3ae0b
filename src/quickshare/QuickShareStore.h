#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "quickshare/QuickShareOfflineFrame.h"
#include "quickshare/QuickShareSharingFrame.h"

namespace tessaly {

// A share cannot go on; `what()` is a lower-case reason that completes a sentence.
struct QuickShareProblem : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Where one accepted share lands: the files it creates in the save folder and the byte payloads
// it assembles in memory. Every limit here guards against a phone that sends more, or other,
// than it offered.
class QuickShareStore {
public:
    // Free bytes on the volume of a folder; none when they cannot be read.
    using CapacitySource = std::function<std::optional<std::int64_t>(const std::string& folder)>;

    static constexpr std::int64_t kSpaceMargin = 50'000'000;
    static constexpr std::size_t kMaxPayload = 5'242'880;
    static constexpr std::size_t kMaxPendingPayloads = 16;
    static constexpr int kNameAttempts = 20;

    QuickShareStore(std::string saveFolder, CapacitySource capacity);
    ~QuickShareStore();
    QuickShareStore(const QuickShareStore&) = delete;
    QuickShareStore& operator=(const QuickShareStore&) = delete;

    // Creates every offered file, empty, before the phone is told to send. On failure nothing
    // of this share is left behind.
    void createFiles(const std::vector<SharingFrame::FileOffer>& offers, std::int64_t totalBytes);
    // Appends one file piece.
    void write(const OfflineFrame::PayloadPiece& piece);
    // Adds one byte piece; the whole payload once its last piece arrived.
    std::optional<Bytes> collect(const OfflineFrame::PayloadPiece& piece);
    // Closes and deletes every file not yet complete; completed files stay.
    void removeUnfinishedFiles();

    bool hasOpenFiles() const { return !m_open.empty(); }
    bool isOpen(std::int64_t payloadID) const { return m_open.count(payloadID) != 0; }
    const std::vector<std::string>& saved() const { return m_saved; }
    std::int64_t receivedBytes() const { return m_receivedBytes; }
    // Bytes of byte payloads still waiting for their last piece.
    std::size_t pendingBytes() const { return m_pendingBytes; }

    static std::string cleanFileName(std::string_view name);
    // `name`, or with " (n)" before its extension, n from 2, so that its lower-case form is not
    // in `taken`; the result's lower-case form is added to `taken`.
    static std::string freeName(const std::string& name, std::set<std::string>& taken);
    // The lower-case names of everything in `folder`, as freeName compares them.
    static std::set<std::string> namesIn(const std::string& folder);
    static void markAsDownloaded(int fd);

private:
    struct OpenFile {
        std::string path;
        int fd = -1;
        std::int64_t size = 0;
        std::int64_t received = 0;
    };

    std::string m_saveFolder;
    CapacitySource m_capacity;
    std::map<std::int64_t, OpenFile> m_open;
    std::map<std::int64_t, Bytes> m_messages;
    std::vector<std::string> m_saved;
    std::int64_t m_receivedBytes = 0;
    std::size_t m_pendingBytes = 0;
};

} // namespace tessaly
