#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include <QObject>
#include <QUrl>

#include "quickshare/IncomingShare.h"
#include "quickshare/ShareCardText.h"

namespace tessaly {

// One share prompt's state: the offer, where it stands and the bytes received. The view redraws
// from its signals; the user's choices go to the functions the prompts install.
class ShareCard : public QObject {
    Q_OBJECT

public:
    using Phase = ShareCardPhase;

    explicit ShareCard(IncomingShare share, QObject* parent = nullptr);

    const IncomingShare& share() const { return m_share; }
    const Phase& phase() const { return m_phase; }
    void setPhase(Phase phase);
    std::int64_t receivedBytes() const { return m_receivedBytes; }
    void setReceivedBytes(std::int64_t bytes);

    QString title() const { return ShareCardText::title(m_share, m_phase); }
    QString detail() const { return ShareCardText::detail(m_share, m_phase); }
    QString progressLine() const { return ShareCardText::progressLine(m_receivedBytes, m_share.totalBytes); }
    ShareCardText::Symbol symbol() const { return ShareCardText::symbol(m_share, m_phase); }
    std::optional<QUrl> openableLink() const { return ShareCardText::openableLink(m_phase); }

    // Until these are installed the card's buttons do nothing.
    void install(std::function<void(bool accept)> onAnswer, std::function<void()> onStop,
        std::function<void()> onClose);
    void answer(bool accept) const { m_onAnswer(accept); }
    void stop() const { m_onStop(); }
    void close() const { m_onClose(); }

signals:
    void phaseChanged();
    void receivedBytesChanged();

private:
    const IncomingShare m_share;
    Phase m_phase = Phase::asking();
    std::int64_t m_receivedBytes = 0;
    std::function<void(bool)> m_onAnswer = [](bool) {};
    std::function<void()> m_onStop = [] {};
    std::function<void()> m_onClose = [] {};
};

} // namespace tessaly
