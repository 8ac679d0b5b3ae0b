#include "quickshare/QuickShareConnection.h"

#include <chrono>
#include <cstring>
#include <set>

#include <QTcpSocket>
#include <QTextBoundaryFinder>
#include <QTimer>

#include "quickshare/QuickShareText.h"

namespace tessaly {

namespace {

constexpr double kIntroductionLimit = 30;
constexpr double kAnswerLimit = 120;
constexpr double kSilenceLimit = 45;
constexpr double kKeepAliveEvery = 10;
constexpr double kProgressEvery = 0.1;
constexpr int kCloseGraceMs = 2000;
// Between frames the socket buffers no more than this; a frame's own size is held from the budget.
constexpr qint64 kIdleReadBuffer = 64 * 1024;
// A frame buffer up to this size is kept for the next frame; a bigger one goes back at once.
constexpr std::size_t kKeptFrameBuffer = 1024 * 1024;

const std::string kNotUnderstood = "it sent something this app doesn’t understand";
const std::string kLost = "the connection to the phone was lost";
const std::string kNoSpace = "there isn’t enough free space on this computer";
const std::string kTooMuch = "it sent more at once than this computer holds";

std::int64_t randomPayloadID()
{
    const Bytes random = randomBytes(sizeof(std::int64_t));
    std::int64_t id = 0;
    std::memcpy(&id, random.data(), sizeof id);
    return id;
}

} // namespace

QuickShareClock steadyQuickShareClock()
{
    return [] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    };
}

QuickShareInbound::QuickShareInbound(QTcpSocket* socket, Settings settings, Events events, QObject* parent)
    : QObject(parent)
    , m_id(QUuid::createUuid())
    , m_socket(socket)
    , m_settings(std::move(settings))
    , m_events(std::move(events))
    , m_store(m_settings.saveFolder, m_settings.capacity)
    , m_hold(m_settings.budget)
{
    if (!m_settings.clock)
        m_settings.clock = steadyQuickShareClock();
    const double now = m_settings.clock();
    m_lastProgress = -1e300;
    m_stageStarted = m_lastHeard = m_lastKeepAlive = now;
    m_socket->setParent(this);
}

QuickShareInbound::~QuickShareInbound() = default;

std::string QuickShareInbound::cleanLabel(std::string_view text, std::string_view fallback)
{
    // At most 60 characters as the reader counts them: an accent or a joined emoji stays whole.
    constexpr int kLength = 60;
    const QString label = QString::fromStdString(QuickShareText::cleanLabel(text, fallback));
    QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, label);
    int count = 0;
    while (count < kLength && characters.toNextBoundary() >= 0)
        ++count;
    if (count < kLength || characters.position() < 0)
        return label.toStdString();
    return QuickShareText::cleanLabel(label.left(characters.position()).toStdString(), fallback);
}

void QuickShareInbound::start()
{
    // A phone that sends faster than frames are handled waits in the kernel.
    m_socket->setReadBufferSize(kIdleReadBuffer);
    // Each handshake step waits for the other side's answer: no coalescing delay.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(m_socket, &QTcpSocket::readyRead, this, &QuickShareInbound::readFrames);
    connect(m_socket, &QTcpSocket::disconnected, this, &QuickShareInbound::connectionLost);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &QuickShareInbound::connectionLost);
    m_watchdog = new QTimer(this);
    m_watchdog->setTimerType(Qt::PreciseTimer);
    connect(m_watchdog, &QTimer::timeout, this, &QuickShareInbound::watchdogTick);
    m_watchdog->start(m_settings.watchdogIntervalMs);

    if (m_socket->state() != QAbstractSocket::ConnectedState) {
        connectionLost();
        return;
    }
    if (m_settings.isAllowedPeer && !m_settings.isAllowedPeer(m_socket->peerAddress())) {
        end(std::nullopt);
        return;
    }
    readFrames();
}

void QuickShareInbound::readFrames()
{
    while (m_stage != Stage::closed) {
        if (!m_frameLength) {
            if (m_socket->bytesAvailable() < 4)
                return;
            unsigned char prefix[4];
            m_socket->read(reinterpret_cast<char*>(prefix), 4);
            const std::uint32_t length = (std::uint32_t(prefix[0]) << 24) | (std::uint32_t(prefix[1]) << 16)
                | (std::uint32_t(prefix[2]) << 8) | prefix[3];
            if (length == 0 || length > kMaxFrame) {
                end(failure(kNotUnderstood));
                return;
            }
            if (!holdBuffers(length)) {
                end(failure(kTooMuch));
                return;
            }
            m_frameLength = length;
            m_socket->setReadBufferSize(std::max<qint64>(kIdleReadBuffer, length));
        }
        if (m_socket->bytesAvailable() < *m_frameLength)
            return;
        // One buffer for every frame: a transfer does not allocate and fault in 512 KiB per piece.
        m_frame.resize(*m_frameLength);
        m_socket->read(reinterpret_cast<char*>(m_frame.data()), static_cast<qint64>(m_frame.size()));
        m_frameLength.reset();
        m_lastHeard = m_settings.clock();
        try {
            handle(m_frame);
        } catch (const Ukey2::Refused& refused) {
            sendRaw(Ukey2::alert(refused.alert));
            end(failure("the secure connection couldn’t be set up"));
        } catch (const Problem& problem) {
            end(failure(problem.what()));
        } catch (const SecureChannel::Failed&) {
            end(failure("a message failed its security check"));
        } catch (const std::exception&) {
            end(failure(kNotUnderstood));
        }
        if (m_frame.capacity() > kKeptFrameBuffer)
            Bytes().swap(m_frame);
        holdBuffers(0);
        if (m_socket)
            m_socket->setReadBufferSize(kIdleReadBuffer);
    }
}

bool QuickShareInbound::holdBuffers(std::size_t frame)
{
    return m_hold.resize(frame + m_store.pendingBytes());
}

void QuickShareInbound::handle(const Bytes& frame)
{
    switch (m_stage) {
    case Stage::connectionRequest: {
        const OfflineFrame decoded = OfflineFrame::decode(frame);
        const auto* request = decoded.as<OfflineFrame::ConnectionRequest>();
        const auto info = request ? EndpointInfo::decode(request->info) : std::nullopt;
        if (!info)
            throw Problem("unexpected first message");
        m_sender = *info;
        m_stage = Stage::clientInit;
        return;
    }
    case Stage::clientInit:
    case Stage::clientFinish: {
        auto outcome = m_ukey2.handle(frame);
        if (auto* serverInit = std::get_if<Bytes>(&outcome)) {
            sendRaw(*serverInit);
            m_stage = Stage::clientFinish;
        } else {
            m_channel.emplace(std::move(std::get<SecureChannel>(outcome)));
            m_stage = Stage::connectionResponse;
        }
        return;
    }
    case Stage::connectionResponse: {
        const OfflineFrame decoded = OfflineFrame::decode(frame);
        const auto* response = decoded.as<OfflineFrame::ConnectionResponse>();
        if (!response)
            return;
        if (!response->accepted) {
            end(std::nullopt);
            return;
        }
        sendRaw(OfflineFrame { OfflineFrame::ConnectionResponse { true } }.encoded());
        m_stage = Stage::secure;
        send(SharingFrame { SharingFrame::PairedKeyEncryption {} });
        return;
    }
    case Stage::secure:
        if (!m_channel)
            throw Problem("no keys");
        handleSecure(OfflineFrame::decode(m_channel->open(frame)));
        return;
    case Stage::closed:
        return;
    }
}

void QuickShareInbound::handleSecure(const OfflineFrame& frame)
{
    if (const auto* piece = frame.as<OfflineFrame::PayloadPiece>()) {
        handlePiece(*piece);
    } else if (const auto* stopped = frame.as<OfflineFrame::PayloadStopped>()) {
        if (m_store.isOpen(stopped->id) || (m_offeredText && m_offeredText->payloadID == stopped->id))
            end(ShareResult::of(ShareResult::Kind::cancelledByPhone));
    } else if (const auto* keepAlive = frame.as<OfflineFrame::KeepAlive>()) {
        if (!keepAlive->ack)
            sendFrame(OfflineFrame { OfflineFrame::KeepAlive { true } });
    } else if (frame.as<OfflineFrame::Disconnection>()) {
        if (!m_share)
            end(std::nullopt);
        else if (m_accepted)
            end(ShareResult::failed("the phone ended the transfer early"));
        else
            end(ShareResult::of(ShareResult::Kind::cancelledByPhone));
    }
}

void QuickShareInbound::handlePiece(const OfflineFrame::PayloadPiece& piece)
{
    if (piece.kind == OfflineFrame::PayloadPiece::Kind::file) {
        m_store.write(piece);
        reportProgress(!m_store.hasOpenFiles());
        if (!m_store.hasOpenFiles())
            end(ShareResult::saved(m_store.saved()));
        return;
    }
    // Before the user said yes, a phone gets room for one introduction, not for sixteen.
    if (!m_accepted && m_store.pendingBytes() + piece.body.size() > QuickShareStore::kMaxPayload)
        throw Problem(kNotUnderstood);
    const auto bytes = m_store.collect(piece);
    if (!bytes)
        return;
    if (m_accepted && m_offeredText && piece.id == m_offeredText->payloadID) {
        const std::string text(bytes->begin(), bytes->end());
        if (static_cast<std::int64_t>(text.size()) > kMaxText || !QuickShareText::isValidUTF8(text))
            throw Problem("the text couldn’t be read");
        end(m_offeredText->kind == SharingFrame::TextOffer::Kind::link ? ShareResult::receivedLink(text)
                                                                       : ShareResult::receivedText(text));
        return;
    }
    handleSharing(SharingFrame::decode(*bytes));
}

void QuickShareInbound::handleSharing(const SharingFrame& frame)
{
    if (const auto* intro = frame.as<SharingFrame::Introduction>()) {
        if (m_share)
            return;
        auto share = describe(*intro);
        if (!share) {
            sendQuietly(SharingFrame { SharingFrame::Response { SharingFrame::Answer::unsupported } });
            end(std::nullopt);
            return;
        }
        m_share = std::move(share);
        m_stageStarted = m_settings.clock();
        if (m_events.ask)
            m_events.ask(*m_share);
    } else if (frame.as<SharingFrame::PairedKeyEncryption>()) {
        if (!m_sentPairedResult) {
            m_sentPairedResult = true;
            send(SharingFrame { SharingFrame::PairedKeyResult {} });
        }
    } else if (frame.as<SharingFrame::Cancel>()) {
        end(m_share ? std::optional(ShareResult::of(ShareResult::Kind::cancelledByPhone)) : std::nullopt);
    }
}

std::optional<IncomingShare> QuickShareInbound::describe(const SharingFrame::Introduction& intro)
{
    if (intro.hasOtherThings || !m_channel)
        return std::nullopt;
    IncomingShare share;
    share.id = m_id;
    share.sender = cleanLabel(m_sender.name, "A nearby device");
    share.senderKind = m_sender.kind;
    share.code = m_channel->code();

    if (intro.files.empty()) {
        if (intro.texts.size() != 1 || intro.texts[0].size < 0 || intro.texts[0].size > kMaxText)
            return std::nullopt;
        m_offeredText = intro.texts[0];
        share.contentKind = m_offeredText->kind == SharingFrame::TextOffer::Kind::link
            ? IncomingShare::ContentKind::link
            : IncomingShare::ContentKind::text;
        share.title = cleanLabel(m_offeredText->title, "");
        share.totalBytes = m_offeredText->size;
        return share;
    }

    if (!intro.texts.empty() || intro.files.size() > kMaxFiles)
        return std::nullopt;
    std::set<std::int64_t> ids;
    std::int64_t total = 0;
    for (const auto& file : intro.files) {
        if (!ids.insert(file.payloadID).second || file.size < 0 || file.size > INT64_MAX - total)
            return std::nullopt;
        total += file.size;
    }
    m_offeredFiles = intro.files;
    share.contentKind = IncomingShare::ContentKind::files;
    for (const auto& file : intro.files)
        share.files.push_back({ QuickShareStore::cleanFileName(file.name), file.size });
    share.totalBytes = total;
    return share;
}

void QuickShareInbound::answer(bool accept)
{
    if (m_stage != Stage::secure || !m_share || m_accepted)
        return;
    using Answer = SharingFrame::Answer;
    if (!accept) {
        sendQuietly(SharingFrame { SharingFrame::Response { Answer::reject } });
        end(ShareResult::of(ShareResult::Kind::declined));
        return;
    }
    try {
        m_store.createFiles(m_offeredFiles, m_share->totalBytes);
    } catch (const Problem& problem) {
        const std::string reason = problem.what();
        sendQuietly(SharingFrame {
            SharingFrame::Response { reason == kNoSpace ? Answer::notEnoughSpace : Answer::reject } });
        end(ShareResult::failed(reason));
        return;
    } catch (const std::exception&) {
        sendQuietly(SharingFrame { SharingFrame::Response { Answer::reject } });
        end(ShareResult::failed("the files couldn't be created in your Downloads folder"));
        return;
    }
    m_accepted = true;
    m_lastHeard = m_settings.clock();
    bool sent = false;
    try {
        sent = send(SharingFrame { SharingFrame::Response { Answer::accept } });
    } catch (const std::exception&) {
    }
    if (!sent)
        end(ShareResult::failed(kLost));
}

void QuickShareInbound::promptShown()
{
    if (m_share && !m_accepted)
        m_stageStarted = m_settings.clock();
}

void QuickShareInbound::stop()
{
    if (m_stage == Stage::closed)
        return;
    if (m_stage == Stage::secure)
        sendQuietly(SharingFrame { SharingFrame::Cancel {} });
    if (!m_share)
        end(std::nullopt);
    else
        end(ShareResult::of(m_accepted ? ShareResult::Kind::stopped : ShareResult::Kind::declined));
}

bool QuickShareInbound::send(const SharingFrame& frame)
{
    const Bytes encoded = frame.encoded();
    const auto size = static_cast<std::int64_t>(encoded.size());
    const std::int64_t id = randomPayloadID();
    using Piece = OfflineFrame::PayloadPiece;
    return sendFrame(OfflineFrame { Piece { id, Piece::Kind::bytes, size, 0, false, encoded } })
        && sendFrame(OfflineFrame { Piece { id, Piece::Kind::bytes, size, size, true, {} } });
}

void QuickShareInbound::sendQuietly(const SharingFrame& frame)
{
    try {
        send(frame);
    } catch (const std::exception&) {
    }
}

bool QuickShareInbound::sendFrame(const OfflineFrame& frame)
{
    if (!m_channel)
        throw Problem("no keys");
    return sendRaw(m_channel->seal(frame.encoded()));
}

bool QuickShareInbound::sendRaw(const Bytes& data)
{
    if (m_stage == Stage::closed || m_peerGone || m_socket->state() != QAbstractSocket::ConnectedState)
        return false;
    const auto size = static_cast<std::uint32_t>(data.size());
    const char prefix[4] = { char(size >> 24), char(size >> 16), char(size >> 8), char(size) };
    return m_socket->write(prefix, 4) == 4
        && m_socket->write(reinterpret_cast<const char*>(data.data()), qint64(data.size()))
        == qint64(data.size());
}

std::optional<ShareResult> QuickShareInbound::failure(const std::string& reason) const
{
    if (!m_share)
        return std::nullopt;
    return ShareResult::failed(reason);
}

void QuickShareInbound::connectionLost()
{
    if (m_stage == Stage::closed)
        return;
    // Nothing more can reach the phone; the socket may not know it yet.
    m_peerGone = true;
    if (!m_share)
        end(std::nullopt);
    else if (m_accepted)
        end(ShareResult::failed(kLost));
    else
        end(ShareResult::of(ShareResult::Kind::cancelledByPhone));
}

void QuickShareInbound::end(std::optional<ShareResult> result)
{
    if (m_stage == Stage::closed)
        return;
    if (result && result->kind == ShareResult::Kind::failed && !m_store.saved().empty())
        result->text += ". " + std::to_string(m_store.saved().size()) + " of "
            + std::to_string(m_offeredFiles.size()) + " files arrived before that";
    if (m_stage == Stage::secure) {
        if (result && result->kind == ShareResult::Kind::failed && m_accepted)
            sendQuietly(SharingFrame { SharingFrame::Cancel {} });
        try {
            sendFrame(OfflineFrame { OfflineFrame::Disconnection {} });
        } catch (const std::exception&) {
        }
    }
    m_store.removeUnfinishedFiles();
    m_stage = Stage::closed;
    // Nothing is sent or read any more: the keys go now, not whenever this object is deleted.
    m_channel.reset();
    m_ukey2 = Ukey2Server();
    delete m_watchdog;
    m_watchdog = nullptr;

    // The socket outlives this object until what was written has left, or for 2 s at most.
    QTcpSocket* socket = m_socket;
    socket->disconnect(this);
    socket->setParent(parent());
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        socket->deleteLater();
    } else {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(kCloseGraceMs, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        socket->disconnectFromHost();
    }
    m_socket = nullptr;
    if (m_events.finished)
        m_events.finished(m_id, result);
}

void QuickShareInbound::watchdogTick()
{
    if (m_stage == Stage::closed)
        return;
    const double now = m_settings.clock();
    if (!m_share) {
        if (now - m_stageStarted > kIntroductionLimit)
            end(std::nullopt);
    } else if (!m_accepted) {
        if (now - m_stageStarted > kAnswerLimit) {
            sendQuietly(SharingFrame { SharingFrame::Response { SharingFrame::Answer::timedOut } });
            end(ShareResult::of(ShareResult::Kind::missed));
        }
    } else if (now - m_lastHeard > kSilenceLimit) {
        end(ShareResult::failed("the phone stopped sending"));
    }
    if (m_stage == Stage::secure && now - m_lastKeepAlive >= kKeepAliveEvery) {
        m_lastKeepAlive = now;
        try {
            sendFrame(OfflineFrame { OfflineFrame::KeepAlive { false } });
        } catch (const std::exception&) {
        }
    }
}

void QuickShareInbound::reportProgress(bool force)
{
    const double now = m_settings.clock();
    if (!force && now - m_lastProgress <= kProgressEvery)
        return;
    m_lastProgress = now;
    if (m_events.progress)
        m_events.progress(m_id, m_store.receivedBytes());
}

} // namespace tessaly
