#pragma once

#include <memory>
#include <optional>
#include <string>

#include <QTcpSocket>

#include "quickshare/QuickShareCrypto.h"
#include "quickshare/QuickShareMessages.h"
#include "support/Ukey2Client.h"

namespace tessaly::test {

// A phone that sends with Quick Share, over loopback. Its waits keep the calling thread's event
// loop running, so callbacks posted to that thread (the prompts' answers) still happen.
class TestPhone {
public:
    explicit TestPhone(std::uint16_t port);

    bool isOpen() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    // Connection request, UKEY2, the connection responses and the paired-key exchange.
    bool handshake(const std::string& name = "Pixel 8");
    const std::string& code() const { return m_code; }

    void sendPrefixed(const Bytes& frame);
    void sendRawBytes(const Bytes& bytes);
    std::optional<Bytes> readFrame(double seconds = 5);
    void sendSecure(const OfflineFrame& frame);
    // The next secure frame; keep-alives are counted and skipped, not answered.
    std::optional<OfflineFrame> readSecure(double seconds = 5);
    int keepAlivesHeard() const { return m_keepAlives; }
    // Returns once the receiver has handled everything sent before (it answers a keep-alive).
    bool sync();
    // Waits until at most `bytes` of what was sent are still queued here.
    void drain(qint64 bytes);
    // The phone disappears without a word.
    void vanish() { m_socket.abort(); }
    void sendSharing(const SharingFrame& frame);
    // The next sharing frame the receiver sends.
    std::optional<SharingFrame> readSharing(double seconds = 5);
    void sendFile(std::int64_t id, const Bytes& data, std::size_t pieceSize, bool withLast = true);
    // Whether the receiver closed the connection within `seconds`.
    bool waitClosed(double seconds = 5);

private:
    QTcpSocket m_socket;
    Ukey2Client m_ukey2;
    std::optional<SecureChannel> m_channel;
    std::string m_code;
    int m_keepAlives = 0;
};

// Runs the calling thread's events until `done` or `seconds` pass.
bool waitUntil(const std::function<bool()>& done, double seconds = 5);

} // namespace tessaly::test
