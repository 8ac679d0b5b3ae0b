#include "support/TestPhone.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

namespace tessaly::test {

using Piece = OfflineFrame::PayloadPiece;

bool waitUntil(const std::function<bool()>& done, double seconds)
{
    QElapsedTimer timer;
    timer.start();
    QTimer wake; // sleeps between events instead of spinning, and still sees the deadline
    wake.start(5);
    while (!done()) {
        if (timer.elapsed() > seconds * 1000)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

TestPhone::TestPhone(std::uint16_t port, const QHostAddress& from)
{
    if (!from.isNull())
        m_socket.bind(from);
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
    sendRawBytes({ std::uint8_t(n >> 24), std::uint8_t(n >> 16), std::uint8_t(n >> 8), std::uint8_t(n) });
    sendRawBytes(frame);
}

std::optional<Bytes> TestPhone::readFrame(double seconds)
{
    std::uint32_t n = 0;
    const auto has = [&](qint64 bytes) {
        return waitUntil([&] { return m_socket.bytesAvailable() >= bytes || !isOpen(); }, seconds)
            && m_socket.bytesAvailable() >= bytes;
    };
    if (!has(4))
        return std::nullopt;
    const QByteArray prefix = m_socket.peek(4);
    for (const char byte : prefix)
        n = (n << 8) | static_cast<std::uint8_t>(byte);
    if (!has(4 + qint64(n)))
        return std::nullopt;
    const QByteArray frame = m_socket.read(4 + qint64(n)).mid(4);
    return Bytes(frame.begin(), frame.end());
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
    sendPrefixed(m_ukey2.clientFinish());
    sendPrefixed(OfflineFrame { OfflineFrame::ConnectionResponse { true } }.encoded());
    const auto response = readFrame();
    const auto paired = response ? readSharing() : std::nullopt;
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
        if (!frame.as<OfflineFrame::KeepAlive>())
            return frame;
        ++m_keepAlives;
    }
    return std::nullopt;
}

void TestPhone::sendSharing(const SharingFrame& frame)
{
    static std::int64_t nextID = 1000;
    const Bytes body = frame.encoded();
    const auto size = static_cast<std::int64_t>(body.size());
    sendSecure(OfflineFrame { Piece { nextID, Piece::Kind::bytes, size, 0, false, body } });
    sendSecure(OfflineFrame { Piece { nextID++, Piece::Kind::bytes, size, size, true, {} } });
}

std::optional<SharingFrame> TestPhone::readSharing(double seconds)
{
    Bytes collected;
    while (const auto frame = readSecure(seconds)) {
        if (const auto* piece = frame->as<Piece>()) {
            collected.insert(collected.end(), piece->body.begin(), piece->body.end());
            if (piece->isLast)
                return SharingFrame::decode(collected);
        }
    }
    return std::nullopt;
}

void TestPhone::sendFile(std::int64_t id, const Bytes& data, std::size_t pieceSize, bool withLast)
{
    std::size_t offset = 0;
    do {
        const std::size_t n = std::min(pieceSize, data.size() - offset);
        const auto from = data.begin() + std::ptrdiff_t(offset);
        sendSecure(
            OfflineFrame { Piece { id, Piece::Kind::file, std::int64_t(data.size()), std::int64_t(offset),
                withLast && offset + n == data.size(), Bytes(from, from + std::ptrdiff_t(n)) } });
        offset += n;
    } while (offset < data.size());
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

bool TestPhone::waitClosed(double seconds)
{
    return waitUntil([&] { return !isOpen() || (m_socket.readAll(), false); }, seconds);
}

} // namespace tessaly::test
