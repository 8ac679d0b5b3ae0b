#include "support/TestPhone.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace tessaly::test {

bool waitUntil(const std::function<bool()>& done, double seconds)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > seconds * 1000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

TestPhone::TestPhone(std::uint16_t port)
{
    m_socket.connectToHost(QHostAddress::LocalHost, port);
    m_socket.waitForConnected(3000);
    m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
}

void TestPhone::sendRawBytes(const Bytes& bytes)
{
    m_socket.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
    m_socket.flush();
}

void TestPhone::sendPrefixed(const Bytes& frame)
{
    const auto n = static_cast<std::uint32_t>(frame.size());
    Bytes data { std::uint8_t(n >> 24), std::uint8_t(n >> 16), std::uint8_t(n >> 8), std::uint8_t(n) };
    data.insert(data.end(), frame.begin(), frame.end());
    sendRawBytes(data);
}

std::optional<Bytes> TestPhone::readFrame(double seconds)
{
    if (!waitUntil([&] { return m_socket.bytesAvailable() >= 4 || !isOpen(); }, seconds)
        || m_socket.bytesAvailable() < 4)
        return std::nullopt;
    unsigned char prefix[4];
    m_socket.peek(reinterpret_cast<char*>(prefix), 4);
    const std::uint32_t n
        = (std::uint32_t(prefix[0]) << 24) | (prefix[1] << 16) | (prefix[2] << 8) | prefix[3];
    if (!waitUntil([&] { return m_socket.bytesAvailable() >= 4 + qint64(n) || !isOpen(); }, seconds)
        || m_socket.bytesAvailable() < 4 + qint64(n))
        return std::nullopt;
    m_socket.skip(4);
    Bytes frame(n);
    m_socket.read(reinterpret_cast<char*>(frame.data()), n);
    return frame;
}

bool TestPhone::handshake(const std::string& name)
{
    const Bytes info = EndpointInfo { name, EndpointInfo::Kind::phone }.encoded();
    sendPrefixed(OfflineFrame { OfflineFrame::ConnectionRequest { "AB12", info } }.encoded());
    const Bytes init = m_ukey2.clientInit();
    sendPrefixed(init);
    const auto serverInit = readFrame();
    if (!serverInit)
        return false;
    m_channel = m_ukey2.finish(init, *serverInit);
    m_code = m_channel->code();
    sendPrefixed(m_ukey2.clientFinish());
    sendPrefixed(OfflineFrame { OfflineFrame::ConnectionResponse { true } }.encoded());
    const auto response = readFrame();
    if (!response || !OfflineFrame::decode(*response).as<OfflineFrame::ConnectionResponse>())
        return false;
    const auto paired = readSharing();
    if (!paired || !paired->as<SharingFrame::PairedKeyEncryption>())
        return false;
    sendSharing(SharingFrame { SharingFrame::PairedKeyEncryption {} });
    const auto result = readSharing();
    return result && result->as<SharingFrame::PairedKeyResult>();
}

void TestPhone::sendSecure(const OfflineFrame& frame)
{
    sendPrefixed(m_channel->seal(frame.encoded()));
}

std::optional<OfflineFrame> TestPhone::readSecure(double seconds)
{
    while (const auto sealed = readFrame(seconds)) {
        OfflineFrame frame = OfflineFrame::decode(m_channel->open(*sealed));
        if (frame.as<OfflineFrame::KeepAlive>()) {
            ++m_keepAlives;
            continue;
        }
        return frame;
    }
    return std::nullopt;
}

bool TestPhone::sync()
{
    sendSecure(OfflineFrame { OfflineFrame::KeepAlive { false } });
    while (const auto sealed = readFrame()) {
        const OfflineFrame frame = OfflineFrame::decode(m_channel->open(*sealed));
        if (const auto* keepAlive = frame.as<OfflineFrame::KeepAlive>(); keepAlive && keepAlive->ack)
            return true;
    }
    return false;
}

void TestPhone::sendSharing(const SharingFrame& frame)
{
    using Piece = OfflineFrame::PayloadPiece;
    const Bytes body = frame.encoded();
    const auto size = static_cast<std::int64_t>(body.size());
    static std::int64_t nextID = 1000;
    const std::int64_t id = nextID++;
    sendSecure(OfflineFrame { Piece { id, Piece::Kind::bytes, size, 0, false, body } });
    sendSecure(OfflineFrame { Piece { id, Piece::Kind::bytes, size, size, true, {} } });
}

std::optional<SharingFrame> TestPhone::readSharing(double seconds)
{
    Bytes collected;
    while (const auto frame = readSecure(seconds)) {
        const auto* piece = frame->as<OfflineFrame::PayloadPiece>();
        if (!piece)
            continue;
        collected.insert(collected.end(), piece->body.begin(), piece->body.end());
        if (piece->isLast)
            return SharingFrame::decode(collected);
    }
    return std::nullopt;
}

void TestPhone::sendFile(std::int64_t id, const Bytes& data, std::size_t pieceSize, bool withLast)
{
    using Piece = OfflineFrame::PayloadPiece;
    const auto total = static_cast<std::int64_t>(data.size());
    std::size_t offset = 0;
    do {
        const std::size_t n = std::min(pieceSize, data.size() - offset);
        const bool last = withLast && offset + n == data.size();
        sendSecure(OfflineFrame { Piece { id, Piece::Kind::file, total, std::int64_t(offset), last,
            Bytes(data.begin() + std::ptrdiff_t(offset), data.begin() + std::ptrdiff_t(offset + n)) } });
        offset += n;
    } while (offset < data.size());
}

void TestPhone::drain(qint64 bytes)
{
    // Blocks in the socket rather than spinning the event loop: the bulk sender must not steal
    // the receiver's processor.
    while (m_socket.bytesToWrite() > bytes && isOpen())
        m_socket.waitForBytesWritten(100);
}

bool TestPhone::waitClosed(double seconds)
{
    return waitUntil(
        [&] {
            m_socket.readAll();
            return !isOpen();
        },
        seconds);
}

} // namespace tessaly::test
