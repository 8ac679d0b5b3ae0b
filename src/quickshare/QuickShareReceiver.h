#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include <QObject>
#include <QPointer>
#include <QUuid>

#include "platform/ServiceAdvertiser.h"
#include "quickshare/BufferBudget.h"
#include "quickshare/IncomingShare.h"
#include "quickshare/QuickShareAdmission.h"
#include "quickshare/QuickShareConnection.h"

class QThread;
class QTcpServer;

namespace tessaly {

// Makes this computer a Quick Share target: listens, advertises, admits local phones (see
// QuickShareAdmission) and hands each to a QuickShareInbound. Everything runs on the "tessaly.quickshare"
// thread; the public operations hop onto it and the callbacks arrive on the caller's thread (the
// GUI thread).
class QuickShareReceiver : public QObject {
    Q_OBJECT

public:
    struct Status {
        enum class Kind { on, failed, off, starting };
        Kind kind = Kind::off;
        std::string text; // on: the advertised name; failed: a lower-case reason

        static Status on(std::string name) { return { Kind::on, std::move(name) }; }
        static Status failed(std::string reason) { return { Kind::failed, std::move(reason) }; }
        bool operator==(const Status&) const = default;
    };
    struct Options {
        std::string name; // the name phones show for this computer
        std::string saveFolder;
        bool onLocalNetwork = true; // false: 127.0.0.1 only, not advertised
        std::uint16_t port = 0; // 0: any free port
    };
    // What the receiver runs on; tests hand in fakes.
    struct Environment {
        std::shared_ptr<ServiceAdvertiser> advertiser; // needed only on the local network
        QuickShareClock clock;
        QuickShareStore::CapacitySource capacity;
        int watchdogIntervalMs = 5000;
    };

    // What all connections together may hold in memory; one that would pass it is ended.
    static constexpr std::size_t kBufferLimit = 32 * 1024 * 1024;
    static constexpr const char* kServiceType = "_FC9F5ED42C8A._tcp";

    explicit QuickShareReceiver(Environment environment, QObject* parent = nullptr);
    ~QuickShareReceiver() override;

    std::function<void(const Status&)> onStatus;
    std::function<void(const IncomingShare&)> onRequest;
    std::function<void(const QUuid&, std::int64_t)> onProgress;
    std::function<void(const QUuid&, const ShareResult&)> onFinished;

    void start(Options options);
    void stop();
    // Closes everything before returning; reports nothing. For quitting.
    void stopAndWait();
    void answer(const QUuid& id, bool accept);
    void stopTransfer(const QUuid& id);

    // The port listened on, 0 while nothing listens.
    std::uint16_t port() const { return m_port.load(); }
    const BufferBudget& buffers() const { return *m_budget; }

    // A fresh instance name: "#", a four-character endpoint id and the service's id bytes.
    static std::string serviceName();
    static std::string urlSafeBase64(ByteView bytes);

private:
    void onThread(std::function<void()> work);
    void report(const Status& status);
    void startListening(const Options& options);
    void accept(const Options& options);
    void ask(const IncomingShare& share);
    void askNext(const std::optional<QUuid>& id);
    void finished(const QUuid& id, const std::optional<ShareResult>& result);
    void closeEverything();

    Environment m_environment;
    QThread* m_thread;
    QObject* m_context; // lives on the thread; parent of everything that does
    // Thread-only state.
    QTcpServer* m_listener = nullptr;
    std::uint64_t m_generation = 0; // tells a replaced listener's late events apart
    std::map<QUuid, QuickShareInbound*> m_connections;
    std::vector<QPointer<QuickShareInbound>> m_ended; // finished, waiting for their deleteLater
    QuickShareAdmission m_admission;
    std::map<QUuid, IncomingShare> m_waiting; // offers not shown yet
    std::shared_ptr<BufferBudget> m_budget = std::make_shared<BufferBudget>(kBufferLimit);
    std::atomic<std::uint16_t> m_port { 0 };
};

} // namespace tessaly
