#include "quickshare/QuickShareStore.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QString>

#include "platform/LocalFiles.h"
#include "quickshare/QuickShareText.h"

namespace tessaly {

namespace {

constexpr std::size_t kMaxExtensionBytes = 20;
constexpr std::size_t kMaxNameBytes = 200;

std::string lower(const std::string& name)
{
    return QString::fromStdString(name).toLower().toStdString();
}

bool writeAll(int fd, const std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace

std::set<std::string> QuickShareStore::namesIn(const std::string& folder)
{
    std::set<std::string> taken;
    const QDir dir(QString::fromStdString(folder));
    for (const QString& entry :
        dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        taken.insert(entry.toLower().toStdString());
    return taken;
}

QuickShareStore::QuickShareStore(std::string saveFolder, CapacitySource capacity)
    : m_saveFolder(std::move(saveFolder))
    , m_capacity(std::move(capacity))
{
}

QuickShareStore::~QuickShareStore()
{
    removeUnfinishedFiles();
}

std::string QuickShareStore::cleanFileName(std::string_view name)
{
    std::string_view last;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= name.size(); ++i) {
        if (i == name.size() || name[i] == '/' || name[i] == '\\') {
            if (i > start)
                last = name.substr(start, i - start);
            start = i + 1;
        }
    }
    std::u32string chars;
    for (char32_t c : QuickShareText::decode(last)) {
        if (QuickShareText::isInvisible(c))
            continue;
        chars += c == U':' ? U'-' : c;
    }
    chars = QuickShareText::trimmed(chars);
    std::size_t lead = 0;
    while (lead < chars.size() && (chars[lead] == U'.' || QuickShareText::isWhitespace(chars[lead])))
        ++lead;
    chars.erase(0, lead);
    if (chars.empty())
        return "file";

    std::u32string stem = chars;
    std::string extension;
    if (const auto dot = chars.rfind(U'.'); dot != std::u32string::npos) {
        std::string candidate = QuickShareText::encode(std::u32string_view(chars).substr(dot));
        if (candidate.size() <= kMaxExtensionBytes) {
            extension = std::move(candidate);
            stem = chars.substr(0, dot);
        }
    }
    std::string encodedStem = QuickShareText::encode(stem);
    while (!stem.empty() && encodedStem.size() + extension.size() > kMaxNameBytes) {
        stem.pop_back();
        encodedStem = QuickShareText::encode(stem);
    }
    return encodedStem + extension;
}

std::string QuickShareStore::freeName(const std::string& name, std::set<std::string>& taken)
{
    std::string candidate = name;
    if (taken.count(lower(candidate))) {
        const auto dot = name.rfind('.');
        const bool split = dot != std::string::npos && dot != 0;
        const std::string stem = split ? name.substr(0, dot) : name;
        const std::string extension = split ? name.substr(dot) : std::string();
        for (int n = 2;; ++n) {
            candidate = stem + " (" + std::to_string(n) + ")" + extension;
            if (!taken.count(lower(candidate)))
                break;
        }
    }
    taken.insert(lower(candidate));
    return candidate;
}

void QuickShareStore::markAsDownloaded(int fd)
{
    LocalFiles::markAsDownloaded(fd, "Received with Quick Share");
}

void QuickShareStore::createFiles(const std::vector<SharingFrame::FileOffer>& offers, std::int64_t totalBytes)
{
    if (offers.empty())
        return;
    try {
        if (const auto capacity = m_capacity ? m_capacity(m_saveFolder) : std::nullopt;
            capacity && totalBytes > *capacity - kSpaceMargin)
            throw QuickShareProblem("there isn’t enough free space on this computer");

        std::set<std::string> taken = namesIn(m_saveFolder);
        for (const auto& offer : offers) {
            const std::string offered = cleanFileName(offer.name);
            std::optional<OpenFile> created;
            for (int attempt = 0; attempt < kNameAttempts && !created; ++attempt) {
                const std::string path = m_saveFolder + "/" + freeName(offered, taken);
                const int fd
                    = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
                if (fd >= 0)
                    created = OpenFile { path, fd, offer.size, 0 };
                else if (errno != EEXIST)
                    throw QuickShareProblem("the system didn’t allow saving into your Downloads folder");
            }
            if (!created)
                throw QuickShareProblem("no free file name was found in your Downloads folder");
            m_open[offer.payloadID] = *created;
        }
    } catch (...) {
        removeUnfinishedFiles();
        throw;
    }
}

void QuickShareStore::write(const OfflineFrame::PayloadPiece& piece)
{
    const auto found = m_open.find(piece.id);
    if (found == m_open.end())
        throw QuickShareProblem("it sent a file that wasn’t offered");
    OpenFile& file = found->second;
    const auto length = static_cast<std::int64_t>(piece.body.size());
    if (piece.offset != file.received || length > file.size - file.received)
        throw QuickShareProblem("it sent more data than it announced");
    if (length > 0) {
        if (!writeAll(file.fd, piece.body.data(), piece.body.size()))
            throw QuickShareProblem("the file couldn’t be written (is the disk full?)");
        file.received += length;
        m_receivedBytes += length;
    }
    if (!piece.isLast)
        return;
    if (file.received != file.size)
        throw QuickShareProblem("a file arrived incomplete");
    // Through the descriptor: the name may point elsewhere by now.
    markAsDownloaded(file.fd);
    ::close(file.fd);
    const std::string path = file.path;
    m_open.erase(found);
    m_saved.push_back(path);
}

std::optional<Bytes> QuickShareStore::collect(const OfflineFrame::PayloadPiece& piece)
{
    const auto found = m_messages.find(piece.id);
    const std::size_t existing = found == m_messages.end() ? 0 : found->second.size();
    // What a message holds is its capacity: growing by doubling can hold nearly twice its size.
    const std::size_t held = found == m_messages.end() ? 0 : found->second.capacity();
    static const char* const outOfOrder = "a message arrived out of order";
    if (piece.offset < 0 || static_cast<std::uint64_t>(piece.offset) != existing)
        throw QuickShareProblem(outOfOrder);
    if (piece.body.size() > kMaxPayload - existing)
        throw QuickShareProblem(outOfOrder);
    if (found == m_messages.end() && m_messages.size() >= kMaxPendingPayloads)
        throw QuickShareProblem(outOfOrder);

    Bytes bytes = found == m_messages.end() ? Bytes() : std::move(found->second);
    bytes.insert(bytes.end(), piece.body.begin(), piece.body.end());
    m_pendingBytes -= held;
    if (!piece.isLast) {
        m_pendingBytes += bytes.capacity();
        m_messages[piece.id] = std::move(bytes);
        return std::nullopt;
    }
    m_messages.erase(piece.id);
    return bytes;
}

void QuickShareStore::removeUnfinishedFiles()
{
    for (const auto& [id, file] : m_open) {
        ::close(file.fd);
        ::unlink(file.path.c_str());
    }
    m_open.clear();
}

} // namespace tessaly
