#include "mirroring/PTYReader.h"

#include <cerrno>

#include <unistd.h>

#include "tools/ProcessRunner.h"

namespace tessaly {
namespace {

constexpr std::size_t kChunkSize = 4096;
// Reads per wake-up, so a flooding tool cannot keep the thread from noticing its exit.
constexpr int kReadsPerWakeUp = 64;

std::string_view trimCarriageReturns(std::string_view text)
{
    const auto first = text.find_first_not_of('\r');
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of('\r') - first + 1);
}

} // namespace

PTYReader::PTYReader(
    int fd, std::shared_ptr<OutputBuffer> buffer, LineHandler onLine, std::function<void()> onClosed)
    : m_fd(fd)
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

void PTYReader::readReady()
{
    if (readAvailable() == Verdict::finished)
        close();
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
        std::string_view line(m_pending.data() + start, end - start);
        start = end + 1;
        if (line.size() > kMaxPendingBytes)
            line.remove_prefix(line.size() - kMaxPendingBytes);
        line = trimCarriageReturns(line);
        if (m_onLine)
            m_onLine(ProcessRunner::decodeUtf8Lossy(
                std::span(reinterpret_cast<const std::uint8_t*>(line.data()), line.size())));
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
    ::close(m_fd);
    m_fd = -1;
    if (m_onClosed)
        m_onClosed();
}

} // namespace tessaly
