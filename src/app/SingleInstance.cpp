#include "app/SingleInstance.h"

#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QEventLoop>

namespace tessaly {

const QString SingleInstance::kName = QStringLiteral("io.github.tessaly.Tessaly");
const QString SingleInstance::kPath = QStringLiteral("/io/github/tessaly/Tessaly");

namespace {

const QString kTokenKey = QStringLiteral("activation-token");

} // namespace

SingleInstance::SingleInstance(QDBusConnection bus, QObject* parent)
    : QObject(parent)
    , m_bus(std::move(bus))
{
}

SingleInstance::~SingleInstance()
{
    if (m_registered)
        m_bus.unregisterObject(kPath);
}

SingleInstance::Claim SingleInstance::claim(const QString& activationToken, int answerTimeoutMs)
{
    if (!m_bus.isConnected() || !m_bus.interface())
        return Claim::NoBus;
    // The object first: a start that finds the name taken may call it at once.
    m_registered = m_bus.registerObject(kPath, this, QDBusConnection::ExportScriptableSlots);
    // The owner may quit between our attempt and our call: then the name is free to take.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply
            = m_bus.interface()->registerService(kName, QDBusConnectionInterface::DontQueueService,
                QDBusConnectionInterface::DontAllowReplacement);
        if (!reply.isValid())
            break;
        if (reply.value() == QDBusConnectionInterface::ServiceRegistered)
            return Claim::First;
        bool ownerGone = false;
        if (forward(activationToken, answerTimeoutMs, ownerGone)) {
            m_bus.unregisterObject(kPath);
            m_registered = false;
            return Claim::Forwarded;
        }
        if (!ownerGone)
            break;
    }
    if (m_registered)
        m_bus.unregisterObject(kPath);
    m_registered = false;
    return Claim::NoAnswer;
}

bool SingleInstance::forward(const QString& activationToken, int answerTimeoutMs, bool& ownerGone)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        kName, kPath, QStringLiteral("org.freedesktop.Application"), QStringLiteral("Activate"));
    QVariantMap platformData;
    if (!activationToken.isEmpty())
        platformData.insert(kTokenKey, activationToken);
    call << platformData;
    // Waited for in a local loop rather than blocking, so that an owner in this very process
    // (as in tests) still gets to answer.
    QDBusPendingCallWatcher watcher(m_bus.asyncCall(call, answerTimeoutMs));
    if (!watcher.isFinished()) {
        QEventLoop loop;
        connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
        loop.exec();
    }
    if (!watcher.isError())
        return true;
    const QDBusError::ErrorType error = watcher.error().type();
    ownerGone = error == QDBusError::ServiceUnknown;
    return false;
}

void SingleInstance::Activate(const QVariantMap& platformData)
{
    emit activated(platformData.value(kTokenKey).toString());
}

QString SingleInstance::outcomeLine(Claim claim)
{
    switch (claim) {
    case Claim::Forwarded:
        return QStringLiteral("Tessaly is already running: its window is shown.");
    case Claim::NoAnswer:
        return QStringLiteral("Tessaly is already running but doesn’t answer: quit it (or end its process) "
                              "and start Tessaly again.");
    case Claim::First:
    case Claim::NoBus:
        break;
    }
    return {};
}

int SingleInstance::exitStatus(Claim claim)
{
    return claim == Claim::NoAnswer ? 1 : 0;
}

} // namespace tessaly
