#include "quickshare/ShareCard.h"

namespace tessaly {

ShareCard::ShareCard(IncomingShare share, QObject* parent)
    : QObject(parent)
    , m_share(std::move(share))
{
}

void ShareCard::setPhase(Phase phase)
{
    if (phase == m_phase)
        return;
    m_phase = std::move(phase);
    emit phaseChanged();
}

void ShareCard::setReceivedBytes(std::int64_t bytes)
{
    if (bytes == m_receivedBytes)
        return;
    m_receivedBytes = bytes;
    emit receivedBytesChanged();
}

void ShareCard::install(
    std::function<void(bool accept)> onAnswer, std::function<void()> onStop, std::function<void()> onClose)
{
    m_onAnswer = std::move(onAnswer);
    m_onStop = std::move(onStop);
    m_onClose = std::move(onClose);
}

} // namespace tessaly
