#pragma once

#include <functional>
#include <optional>
#include <string>

#include <QDeadlineTimer>
#include <QTcpSocket>

#include "quickshare/QuickShareMessages.h"
#include "support/Ukey2Client.h"

namespace tessaly::test {

// Runs the calling thread's events until `done` or `seconds` pass.
bool waitUntil(const std::function<bool()>& done, double seconds = 5);

// A phone that sends with Quick Share over loopback. Its waits keep the calling thread's events
// running, so the receiver's callbacks (and the answers they give) still happen.
class TestPhone {
public:
    // Connects to 127.0.0.1, from `from` when given (another loopback address).
    explicit TestPhone(std::uint16_t port, const QHostAddress& from = {});

    bool handshake(const std::string& name = "Pixel 8");
    const std::string& code() const { return m_channel->code(); }
    bool isOpen() const { return m_socket.state() == QAbstractSocket::ConnectedState; }

    void sendRawBytes(const Bytes& bytes);
    void sendPrefixed(const Bytes& frame);
    std::optional<Bytes> readFrame(double seconds = 5);
    Bytes seal(const OfflineFrame& frame) { return m_channel->seal(frame.encoded()); }
    void sendSecure(const OfflineFrame& frame);
    // Keep-alives are counted, not returned.
    std::optional<OfflineFrame> readSecure(double seconds = 5);
    int keepAlivesHeard() const { return m_keepAlives; }
    void sendSharing(const SharingFrame& frame);
    std::optional<SharingFrame> readSharing(double seconds = 5);
    void sendFile(std::int64_t id, const Bytes& data, std::size_t pieceSize, bool withLast = true);
    // Returns once the receiver has handled everything sent before (it answers a keep-alive).
    bool sync();
    void vanish() { m_socket.abort(); }
    // Blocks (no event loop) until at most `bytes` of what was sent wait here or the link is
    // gone; a slow receiver on a loaded machine must not let unsent frames pile up here.
    void drain(qint64 bytes)
    {
        QDeadlineTimer deadline(30000);
        while (m_socket.bytesToWrite() > bytes && isOpen() && !deadline.hasExpired())
            m_socket.waitForBytesWritten(200);
    }
    bool waitClosed(double seconds = 5);

private:
    QTcpSocket m_socket;
    Ukey2Client m_ukey2;
    std::optional<SecureChannel> m_channel;
    int m_keepAlives = 0;
};

} // namespace tessaly::test
