#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QHostAddress>
#include <QObject>
#include <QUuid>

#include "quickshare/BufferBudget.h"
#include "quickshare/IncomingShare.h"
#include "quickshare/QuickShareCrypto.h"
#include "quickshare/QuickShareMessages.h"
#include "quickshare/QuickShareStore.h"

class QTcpSocket;
class QTimer;

namespace tessaly {

// Seconds on a monotonic scale; tests hand in one they move by hand.
using QuickShareClock = std::function<double()>;
QuickShareClock steadyQuickShareClock();

// One incoming Quick Share connection, from its first byte to its one result. Lives on the
// receiver's thread; every call must come from there.
class QuickShareInbound : public QObject {
    Q_OBJECT

public:
    enum class Stage { connectionRequest, clientInit, clientFinish, connectionResponse, secure, closed };
    using Problem = QuickShareProblem;

    struct Events {
        std::function<void(const IncomingShare&)> ask;
        std::function<void(const QUuid&, std::int64_t)> progress;
        // None: the connection ended without anything the user needs to hear about.
        std::function<void(const QUuid&, const std::optional<ShareResult>&)> finished;
    };
    struct Settings {
        std::string saveFolder;
        std::function<bool(const QHostAddress&)> isAllowedPeer;
        QuickShareClock clock;
        QuickShareStore::CapacitySource capacity;
        int watchdogIntervalMs = 5000;
        std::shared_ptr<BufferBudget> budget; // none: no limit across connections
    };

    static constexpr std::uint32_t kMaxFrame = 5'242'880;
    static constexpr std::int64_t kMaxText = 1'048'576;
    static constexpr std::size_t kMaxFiles = 500;

    // Takes over `socket`, which must already be connected.
    QuickShareInbound(QTcpSocket* socket, Settings settings, Events events, QObject* parent = nullptr);
    ~QuickShareInbound() override;

    const QUuid& id() const { return m_id; }
    Stage stage() const { return m_stage; }

    void start();
    void answer(bool accept);
    void stop();
    // The user now sees the offer: the time to answer starts again.
    void promptShown();

    static std::string cleanLabel(std::string_view text, std::string_view fallback);

private:
    void readFrames();
    void handle(const Bytes& frame);
    void handleSecure(const OfflineFrame& frame);
    void handleSharing(const SharingFrame& frame);
    void handlePiece(const OfflineFrame::PayloadPiece& piece);
    std::optional<IncomingShare> describe(const SharingFrame::Introduction& intro);
    bool send(const SharingFrame& frame);
    bool sendFrame(const OfflineFrame& frame);
    bool sendRaw(const Bytes& data);
    void sendQuietly(const SharingFrame& frame);
    std::optional<ShareResult> failure(const std::string& reason) const;
    void connectionLost();
    void end(std::optional<ShareResult> result);
    void watchdogTick();
    void reportProgress(bool force);
    bool holdBuffers(std::size_t frame);

    QUuid m_id;
    QTcpSocket* m_socket;
    Settings m_settings;
    Events m_events;
    Stage m_stage = Stage::connectionRequest;
    Ukey2Server m_ukey2;
    std::optional<SecureChannel> m_channel;
    EndpointInfo m_sender;
    std::optional<IncomingShare> m_share;
    std::vector<SharingFrame::FileOffer> m_offeredFiles;
    std::optional<SharingFrame::TextOffer> m_offeredText;
    bool m_accepted = false;
    bool m_sentPairedResult = false;
    bool m_peerGone = false;
    QuickShareStore m_store;
    std::optional<std::uint32_t> m_frameLength;
    Bytes m_frame;
    BufferHold m_hold;
    double m_lastProgress;
    double m_stageStarted;
    double m_lastHeard;
    double m_lastKeepAlive;
    QTimer* m_watchdog = nullptr;
};

} // namespace tessaly
