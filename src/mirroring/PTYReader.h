#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace tessaly {

class OutputBuffer;

// Reads the master side of the mirroring tool's terminal and hands on whole lines.
// Used only on the output thread, which polls `fd()` while the reader is open.
class PTYReader {
public:
    using LineHandler = std::function<void(const std::string& line)>;

    // Takes ownership of `fd` (non-blocking). `onClosed` is called once, after `fd` is closed.
    PTYReader(
        int fd, std::shared_ptr<OutputBuffer> buffer, LineHandler onLine, std::function<void()> onClosed);
    ~PTYReader();
    PTYReader(const PTYReader&) = delete;
    PTYReader& operator=(const PTYReader&) = delete;

    int fd() const { return m_fd; }
    bool isClosed() const { return m_closed; }

    // The terminal is readable (or hung up): take what is there, and close once it is finished.
    void readReady();
    // The tool has ended: take what is still readable, then close, even if a grandchild
    // keeps the terminal open.
    void processExited();

    // A line longer than this is cut to its last bytes, and no more of an unfinished line is kept.
    static constexpr std::size_t kMaxPendingBytes = 65536;

private:
    enum class Verdict { open, finished };

    Verdict readAvailable();
    void handle(std::span<const std::uint8_t> chunk);
    void close();

    int m_fd;
    std::shared_ptr<OutputBuffer> m_buffer;
    LineHandler m_onLine;
    std::function<void()> m_onClosed;
    std::string m_pending;
    bool m_closed = false;
};

} // namespace tessaly
