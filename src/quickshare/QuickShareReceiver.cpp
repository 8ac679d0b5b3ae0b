#include "quickshare/QuickShareReceiver.h"

#include <malloc.h>
#include <utility>

#include <QByteArray>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <openssl/crypto.h>

#include "quickshare/LocalPeer.h"
#include "quickshare/QuickShareMessages.h"

namespace tessaly {

QuickShareReceiver::QuickShareReceiver(Environment environment, QObject* parent)
    : QObject(parent)
    , m_environment(std::move(environment))
    , m_thread(new QThread)
    , m_context(new QObject)
{
    m_thread->setObjectName(QStringLiteral("tessaly.quickshare"));
    m_context->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_context, &QObject::deleteLater);
    m_thread->start();
}

QuickShareReceiver::~QuickShareReceiver()
{
    stopAndWait();
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
}

void QuickShareReceiver::onThread(std::function<void()> work)
{
    QMetaObject::invokeMethod(m_context, std::move(work), Qt::QueuedConnection);
}

void QuickShareReceiver::report(const Status& status)
{
    QMetaObject::invokeMethod(
        this,
        [this, status] {
            if (onStatus)
                onStatus(status);
        },
        Qt::QueuedConnection);
}

void QuickShareReceiver::start(Options options)
{
    onThread([this, options] {
        if (!m_listener)
            startListening(options);
    });
}

void QuickShareReceiver::stop()
{
    onThread([this] {
        closeEverything();
        report(Status {});
    });
}

void QuickShareReceiver::stopAndWait()
{
    QMetaObject::invokeMethod(
        m_context,
        [this] {
            closeEverything();
            // OpenSSL's per-thread random generators would otherwise be freed only when the
            // thread itself ends, which may be after the process's exit clean-up has begun.
            OPENSSL_thread_stop();
        },
        Qt::BlockingQueuedConnection);
}

void QuickShareReceiver::answer(const QUuid& id, bool accept)
{
    onThread([this, id, accept] {
        askNext(m_admission.answered(id));
        if (const auto found = m_connections.find(id); found != m_connections.end())
            found->second->answer(accept);
    });
}

void QuickShareReceiver::stopTransfer(const QUuid& id)
{
    onThread([this, id] {
        if (const auto found = m_connections.find(id); found != m_connections.end())
            found->second->stop();
    });
}

void QuickShareReceiver::startListening(const Options& options)
{
    report(Status { Status::Kind::starting, {} });
    auto* listener = new QTcpServer(m_context);
    const QHostAddress address = options.onLocalNetwork ? QHostAddress::Any : QHostAddress::LocalHost;
    if (!listener->listen(address, options.port)) {
        delete listener;
        report(Status::failed("the system didn’t allow listening on the network"));
        return;
    }
    m_listener = listener;
    m_port = listener->serverPort();
    const std::uint64_t generation = ++m_generation;
    connect(listener, &QTcpServer::newConnection, m_context, [this, options] { accept(options); });
    connect(listener, &QTcpServer::acceptError, m_context, [this, generation] {
        if (generation != m_generation || !m_listener)
            return;
        closeEverything();
        report(Status::failed("the system stopped the listener (does a firewall block Tessaly?)"));
    });

    if (!options.onLocalNetwork) {
        report(Status::on(options.name));
        return;
    }
    if (!m_environment.advertiser) {
        closeEverything();
        report(Status::failed("phones can’t find this computer: the Avahi service isn’t running"));
        return;
    }
    const Bytes info = EndpointInfo { options.name, EndpointInfo::Kind::computer }.encoded();
    ServiceAdvertiser::Service service { kServiceType, serviceName(), m_port.load(),
        { { "n", urlSafeBase64(info) } } };
    // The advertiser may call from its own thread; only the current listener's events count.
    const auto current = [this, generation] { return generation == m_generation && m_listener; };
    ServiceAdvertiser::Handlers handlers;
    handlers.established = [this, current, name = options.name](const std::string&) {
        onThread([this, current, name] {
            if (current())
                report(Status::on(name));
        });
    };
    handlers.failed = [this, current](const std::string& reason) {
        onThread([this, current, reason] {
            if (!current())
                return;
            closeEverything();
            report(Status::failed(reason));
        });
    };
    m_environment.advertiser->publish(
        std::move(service), &QuickShareReceiver::serviceName, std::move(handlers));
}

void QuickShareReceiver::accept(const Options& options)
{
    while (m_listener && m_listener->hasPendingConnections()) {
        QTcpSocket* socket = m_listener->nextPendingConnection();
        const QString address = QuickShareAdmission::addressKey(socket->peerAddress());
        const auto prefixes = LocalPeer::ownIPv6Prefixes();
        QuickShareInbound::Settings settings { options.saveFolder,
            [prefixes](const QHostAddress& peer) { return LocalPeer::isLocal(peer, prefixes); },
            m_environment.clock, m_environment.capacity, m_environment.watchdogIntervalMs, m_budget };
        QuickShareInbound::Events events;
        events.ask = [this](const IncomingShare& share) {
            if (m_admission.offer(share.id))
                ask(share);
            else
                m_waiting.emplace(share.id, share);
        };
        events.progress = [this](const QUuid& id, std::int64_t bytes) {
            QMetaObject::invokeMethod(
                this,
                [this, id, bytes] {
                    if (onProgress)
                        onProgress(id, bytes);
                },
                Qt::QueuedConnection);
        };
        events.finished
            = [this](const QUuid& id, const std::optional<ShareResult>& result) { finished(id, result); };
        auto* inbound = new QuickShareInbound(socket, std::move(settings), std::move(events), m_context);
        if (!m_admission.admit(inbound->id(), address)) {
            socket->abort();
            delete inbound;
            continue;
        }
        m_connections[inbound->id()] = inbound;
        inbound->start();
    }
}

void QuickShareReceiver::ask(const IncomingShare& share)
{
    if (const auto found = m_connections.find(share.id); found != m_connections.end())
        found->second->promptShown();
    QMetaObject::invokeMethod(
        this,
        [this, share] {
            if (onRequest)
                onRequest(share);
        },
        Qt::QueuedConnection);
}

void QuickShareReceiver::askNext(const std::optional<QUuid>& id)
{
    const auto found = id ? m_waiting.find(*id) : m_waiting.end();
    if (found == m_waiting.end())
        return;
    const IncomingShare share = found->second;
    m_waiting.erase(found);
    ask(share);
}

void QuickShareReceiver::finished(const QUuid& id, const std::optional<ShareResult>& result)
{
    if (const auto found = m_connections.find(id); found != m_connections.end()) {
        // It may still be on the stack: deleted once control is back in the event loop, and what it
        // held goes back to the system after that.
        found->second->deleteLater();
        std::erase_if(m_ended, [](const auto& ended) { return ended.isNull(); });
        m_ended.push_back(found->second);
        m_connections.erase(found);
        QMetaObject::invokeMethod(
            m_context, [] { malloc_trim(0); }, Qt::QueuedConnection);
    }
    const bool shown = m_admission.wasShown(id);
    m_waiting.erase(id);
    askNext(m_admission.leave(id));
    // An offer that waited unseen ends unseen.
    if (!result || !shown)
        return;
    QMetaObject::invokeMethod(
        this,
        [this, id, outcome = *result] {
            if (onFinished)
                onFinished(id, outcome);
        },
        Qt::QueuedConnection);
}

void QuickShareReceiver::closeEverything()
{
    if (m_listener) {
        if (m_environment.advertiser)
            m_environment.advertiser->withdraw();
        delete m_listener;
        m_listener = nullptr;
        m_port = 0;
    }
    // Destroyed here, not later: at quit no event loop may run again before the process exits,
    // and each connection holds key material that must be wiped first.
    const auto live = std::exchange(m_connections, {});
    for (const auto& [id, inbound] : live) {
        inbound->stop();
        delete inbound;
    }
    for (const QPointer<QuickShareInbound>& ended : std::exchange(m_ended, {}))
        delete ended.data();
    m_admission = QuickShareAdmission();
    m_waiting.clear();
    malloc_trim(0);
}

std::string QuickShareReceiver::serviceName()
{
    static constexpr char alphabet[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    Bytes name { 0x23 };
    // Rejection sampling keeps each of the 62 characters equally likely.
    while (name.size() < 5) {
        const std::uint8_t draw = randomBytes(1)[0];
        if (draw < 248)
            name.push_back(static_cast<std::uint8_t>(alphabet[draw % 62]));
    }
    name.insert(name.end(), { 0xFC, 0x9F, 0x5E, 0x00, 0x00 });
    return urlSafeBase64(name);
}

std::string QuickShareReceiver::urlSafeBase64(ByteView bytes)
{
    const QByteArray raw(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
    return raw.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals).toStdString();
}

} // namespace tessaly
