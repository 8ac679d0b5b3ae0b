#include "mirroring/PTYReader.h"

#include <cerrno>

#include <unistd.h>

#include <QSocketNotifier>

#include "tools/ProcessRunner.h"

namespace tessaly {
namespace {

constexpr std::size_t kChunkSize = 4096;
// Reads per wake-up, so a flooding tool cannot keep the thread from noticing its exit.
constexpr int kReadsPerWakeUp = 64;

} // namespace

PTYReader::PTYReader(int fd, std::shared_ptr<OutputBuffer> buffer, LineHandler onLine,
    std::function<void()> onClosed, QObject* parent)
    : QObject(parent)
    , m_fd(fd)
    , m_buffer(std::move(buffer))
    , m_onLine(std::move(onLine))
    , m_onClosed(std::move(onClosed))
{
}

PTYReader::~PTYReader()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void PTYReader::start()
{
    if (m_closed || m_source)
        return;
    m_source = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_source, &QSocketNotifier::activated, this, [this] {
        if (readAvailable() == Verdict::finished)
            close();
    });
}

void PTYReader::processExited()
{
    readAvailable();
    close();
}

PTYReader::Verdict PTYReader::readAvailable()
{
    if (m_closed)
        return Verdict::finished;
    std::uint8_t chunk[kChunkSize];
    for (int reads = 0; reads < kReadsPerWakeUp;) {
        const ssize_t count = ::read(m_fd, chunk, sizeof chunk);
        if (count > 0) {
            handle(std::span(chunk, std::size_t(count)));
            ++reads;
            continue;
        }
        if (count == 0)
            return Verdict::finished;
        if (errno == EINTR)
            continue;
        // EIO once no process holds the terminal any more.
        return errno == EAGAIN || errno == EWOULDBLOCK ? Verdict::open : Verdict::finished;
    }
    return Verdict::open;
}

void PTYReader::handle(std::span<const std::uint8_t> chunk)
{
    m_buffer->append(chunk);
    m_pending.append(reinterpret_cast<const char*>(chunk.data()), chunk.size());
    std::size_t start = 0;
    for (auto end = m_pending.find('\n'); end != std::string::npos; end = m_pending.find('\n', start)) {
        std::string_view raw(m_pending.data() + start, end - start);
        start = end + 1;
        if (raw.size() > kMaxPendingBytes)
            raw.remove_prefix(raw.size() - kMaxPendingBytes);
        const auto first = raw.find_first_not_of('\r');
        raw = first == std::string_view::npos ? std::string_view()
                                              : raw.substr(first, raw.find_last_not_of('\r') - first + 1);
        if (m_onLine)
            m_onLine(ProcessRunner::decodeUtf8Lossy(
                std::span(reinterpret_cast<const std::uint8_t*>(raw.data()), raw.size())));
    }
    m_pending.erase(0, start);
    if (m_pending.size() > kMaxPendingBytes)
        m_pending.erase(0, m_pending.size() - kMaxPendingBytes);
}

void PTYReader::close()
{
    if (m_closed)
        return;
    m_closed = true;
    if (m_source) {
        // Often called from the notifier's own signal, so it may not be deleted right here.
        m_source->setEnabled(false);
        m_source->deleteLater();
        m_source = nullptr;
    }
    ::close(m_fd);
    m_fd = -1;
    if (m_onClosed)
        m_onClosed();
}

} // namespace tessaly
