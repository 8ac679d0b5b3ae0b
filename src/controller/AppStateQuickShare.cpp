#include "controller/AppState.h"

namespace tessaly {

void AppState::connectQuickShare()
{
    const std::shared_ptr<QuickShareReceiver>& receiver = m_services.quickShare;
    if (!receiver)
        return;
    receiver->onStatus = [this](const QuickShareReceiver::Status& status) {
        publish(m_quickShareStatus, status, &AppState::quickShareStatusChanged);
    };
    // The prompts may answer long after the offer: they hold the receiver only weakly.
    const std::weak_ptr<QuickShareReceiver> weak = receiver;
    receiver->onRequest = [this, weak](const IncomingShare& share) {
        if (!m_services.sharePrompter)
            return;
        const QUuid id = share.id;
        m_services.sharePrompter->ask(
            share,
            [weak, id](bool accept) {
                if (const auto live = weak.lock())
                    live->answer(id, accept);
            },
            [weak, id] {
                if (const auto live = weak.lock())
                    live->stopTransfer(id);
            });
    };
    receiver->onProgress = [this](const QUuid& id, std::int64_t bytes) {
        if (m_services.sharePrompter)
            m_services.sharePrompter->progress(id, bytes);
    };
    receiver->onFinished = [this](const QUuid& id, const ShareResult& result) {
        if (m_services.sharePrompter)
            m_services.sharePrompter->finished(id, result);
    };
}

void AppState::applyQuickShare()
{
    const std::shared_ptr<QuickShareReceiver>& receiver = m_services.quickShare;
    if (!receiver)
        return;
    if (!m_quickShareOn) {
        receiver->stop();
        return;
    }
    const auto folder = m_services.downloadsFolder ? m_services.downloadsFolder() : std::nullopt;
    if (!folder) {
        publish(m_quickShareStatus, QuickShareReceiver::Status::failed("the Downloads folder wasn’t found"),
            &AppState::quickShareStatusChanged);
        return;
    }
    const std::string name = m_services.computerName ? m_services.computerName() : std::string();
    receiver->start({ QuickShareInbound::cleanLabel(name, "Computer"), *folder, true, 0 });
}

std::optional<std::string> AppState::quickShareLine() const
{
    using Kind = QuickShareReceiver::Status::Kind;
    switch (m_quickShareStatus.kind) {
    case Kind::on:
        return "📥 Phones on this Wi-Fi see this computer as “" + m_quickShareStatus.text + "”";
    case Kind::failed:
        return "⚠️ Quick Share isn’t working: " + m_quickShareStatus.text;
    case Kind::starting:
        return "Quick Share: starting…";
    case Kind::off:
        break;
    }
    if (m_quickShareOn)
        return "Quick Share: starting…";
    return std::nullopt;
}

} // namespace tessaly
