#include "quickshare/NotificationPrompts.h"

#include <algorithm>
#include <utility>

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QTimer>

#include "platform/FreedesktopNotifications.h"
#include "platform/XdgDesktopLauncher.h"
#include "quickshare/QuickShareWindow.h"

namespace tessaly {

namespace {

using Kind = ShareCardPhase::Kind;
using ShareCardText::Action;

DesktopNotifications::Notice noticeFor(
    const IncomingShare& share, const ShareCardPhase& phase, std::int64_t receivedBytes, int percent)
{
    DesktopNotifications::Notice notice;
    notice.summary = ShareCardText::title(share, phase);
    notice.body = ShareCardText::detail(share, phase);
    notice.category = QStringLiteral("transfer");
    // A question or a transfer stays up until it is answered or over.
    notice.expireMs = 0;
    switch (phase.kind) {
    case Kind::asking:
        notice.body += QLatin1Char('\n') + ShareCardText::codeLine(share) + QLatin1Char('\n')
            + ShareCardText::codeHint();
        break;
    case Kind::receiving:
        notice.body += QLatin1Char('\n') + ShareCardText::progressLine(receivedBytes, share.totalBytes);
        notice.progress = std::max(percent, 0);
        break;
    case Kind::done:
        notice.category = phase.result.kind == ShareResult::Kind::failed
            ? QStringLiteral("transfer.error")
            : QStringLiteral("transfer.complete");
        notice.expireMs = -1;
        break;
    }
    for (const Action action : ShareCardText::notificationActions(phase))
        notice.actions.append({ ShareCardText::actionKey(action), ShareCardText::actionLabel(action) });
    return notice;
}

void putOnClipboard(const std::string& text)
{
    if (QClipboard* clipboard = QGuiApplication::clipboard()) {
        clipboard->clear();
        clipboard->setText(QString::fromStdString(text));
    }
}

} // namespace

bool NotificationPrompts::suitsSession(const QString& sessionType, const QString& platformName)
{
    return sessionType.compare(QStringLiteral("wayland"), Qt::CaseInsensitive) == 0
        || platformName.startsWith(QStringLiteral("wayland"));
}

NotificationPrompts& NotificationPrompts::shared()
{
    // Never destroyed, like the cards they fall back to.
    static auto* const server = new FreedesktopNotifications;
    static auto* const launcher = new XdgDesktopLauncher;
    static auto* const prompts = new NotificationPrompts(*server, QuickSharePrompts::shared(), *launcher);
    return *prompts;
}

NotificationPrompts::NotificationPrompts(DesktopNotifications& server, SharePrompter& cards,
    DesktopLauncher& desktop, Schedule schedule, QObject* parent)
    : QObject(parent)
    , m_server(server)
    , m_cards(cards)
    , m_desktop(desktop)
    , m_schedule(std::move(schedule))
{
    if (!m_schedule) {
        m_schedule = [this](int delayMs, std::function<void()> action) {
            QTimer::singleShot(delayMs, this, std::move(action));
        };
    }
    connect(&m_server, &DesktopNotifications::actionInvoked, this, &NotificationPrompts::onAction);
    connect(&m_server, &DesktopNotifications::closed, this, &NotificationPrompts::onClosed);
    // The shared prompts are never destroyed: quitting is when their notifications go.
    if (QCoreApplication* application = QCoreApplication::instance())
        connect(application, &QCoreApplication::aboutToQuit, this, &NotificationPrompts::withdrawAll);
}

NotificationPrompts::~NotificationPrompts()
{
    withdrawAll();
}

void NotificationPrompts::withdrawAll()
{
    for (const auto& [id, entry] : m_entries)
        if (entry.notification != 0)
            m_server.close(entry.notification);
    m_entries.clear();
}

void NotificationPrompts::ask(
    const IncomingShare& share, std::function<void(bool accept)> answer, std::function<void()> stop)
{
    // A second offer under the same id replaces the first.
    forget(share.id);
    const QUuid id = share.id;
    const std::uint64_t generation = ++m_generation;
    Entry& entry = m_entries[id];
    entry.share = share;
    entry.answer = std::move(answer);
    entry.stop = std::move(stop);
    entry.generation = generation;
    // Asked for every share: the notification service may have come or gone since the last one.
    QPointer<NotificationPrompts> self(this);
    m_server.capabilities([self, id, generation](std::optional<QStringList> capabilities) {
        if (self)
            self->decide(id, generation, capabilities);
    });
}

void NotificationPrompts::progress(const QUuid& id, std::int64_t receivedBytes)
{
    const auto found = m_entries.find(id);
    if (found == m_entries.end()) {
        m_cards.progress(id, receivedBytes);
        return;
    }
    Entry& entry = found->second;
    entry.receivedBytes = receivedBytes;
    if (!entry.decided || entry.phase.kind != Kind::receiving || entry.dismissed)
        return;
    // One update per percent: the server redraws every notice it gets.
    const int percent
        = static_cast<int>(ShareCardText::progressFraction(receivedBytes, entry.share.totalBytes) * 100);
    if (percent == entry.percent)
        return;
    entry.percent = percent;
    show(id);
}

void NotificationPrompts::finished(const QUuid& id, const ShareResult& result)
{
    const auto found = m_entries.find(id);
    if (found == m_entries.end()) {
        m_cards.finished(id, result);
        return;
    }
    Entry& entry = found->second;
    if (!entry.decided) {
        entry.early = result;
        return;
    }
    if (result.kind == ShareResult::Kind::declined || result.kind == ShareResult::Kind::stopped) {
        forget(id);
        return;
    }
    if (result.kind == ShareResult::Kind::text || result.kind == ShareResult::Kind::link)
        putOnClipboard(result.text);
    entry.phase = ShareCardPhase::done(result);
    entry.dismissed = false;
    show(id);
    QPointer<NotificationPrompts> self(this);
    m_schedule(kCloseDelayMs, [self, id, generation = entry.generation] {
        if (self && self->find(id, generation))
            self->forget(id);
    });
}

NotificationPrompts::Entry* NotificationPrompts::find(const QUuid& id, std::uint64_t generation)
{
    const auto found = m_entries.find(id);
    return found != m_entries.end() && found->second.generation == generation ? &found->second : nullptr;
}

std::map<QUuid, NotificationPrompts::Entry>::iterator NotificationPrompts::shownAs(quint32 notification)
{
    return std::find_if(m_entries.begin(), m_entries.end(), [notification](const auto& item) {
        return notification != 0 && item.second.notification == notification;
    });
}

void NotificationPrompts::decide(
    const QUuid& id, std::uint64_t generation, const std::optional<QStringList>& capabilities)
{
    Entry* entry = find(id, generation);
    if (!entry)
        return;
    // Without actions the user could not answer from a notification.
    if (!capabilities || !capabilities->contains(QStringLiteral("actions"))) {
        toCards(id);
        return;
    }
    entry->decided = true;
    if (const std::optional<ShareResult> early = std::exchange(entry->early, std::nullopt)) {
        finished(id, *early);
        return;
    }
    show(id);
}

void NotificationPrompts::toCards(const QUuid& id)
{
    auto node = m_entries.extract(id);
    if (node.empty())
        return;
    Entry& entry = node.mapped();
    m_cards.ask(entry.share, std::move(entry.answer), std::move(entry.stop));
    if (entry.early)
        m_cards.finished(id, *entry.early);
    else if (entry.phase.kind == Kind::done)
        m_cards.finished(id, entry.phase.result);
}

void NotificationPrompts::show(const QUuid& id)
{
    const auto found = m_entries.find(id);
    if (found == m_entries.end())
        return;
    Entry& entry = found->second;
    // The id of the notice on its way is needed to replace it: send this one after it.
    if (entry.sending) {
        entry.resend = true;
        return;
    }
    entry.sending = true;
    QPointer<NotificationPrompts> self(this);
    m_server.notify(entry.notification,
        noticeFor(entry.share, entry.phase, entry.receivedBytes, entry.percent),
        [self, id, generation = entry.generation](std::optional<quint32> notification) {
            if (self)
                self->onShown(id, generation, notification);
        });
}

void NotificationPrompts::onShown(
    const QUuid& id, std::uint64_t generation, std::optional<quint32> notification)
{
    Entry* entry = find(id, generation);
    if (!entry) {
        // Answered, stopped or replaced while the notice was on its way.
        if (notification)
            m_server.close(*notification);
        return;
    }
    entry->sending = false;
    if (!notification && entry->notification == 0 && entry->phase.kind != Kind::receiving) {
        // The server has gone: the question or the outcome must still reach the user.
        toCards(id);
        return;
    }
    if (notification)
        entry->notification = *notification;
    if (std::exchange(entry->resend, false))
        show(id);
}

void NotificationPrompts::onAction(quint32 notification, const QString& key)
{
    const auto found = shownAs(notification);
    const std::optional<Action> action = ShareCardText::actionForKey(key);
    if (found == m_entries.end() || !action)
        return;
    // A click on a notice that has since moved on is not an answer to the new one.
    const std::vector<Action> offered = ShareCardText::notificationActions(found->second.phase);
    if (std::find(offered.begin(), offered.end(), *action) == offered.end())
        return;
    act(found->first, *action);
}

void NotificationPrompts::act(QUuid id, Action action)
{
    Entry& entry = m_entries.at(id);
    const std::uint64_t generation = entry.generation;
    switch (action) {
    case Action::accept:
    case Action::decline: {
        // Copied: the answer may end the share and erase the entry while it runs.
        const auto answer = entry.answer;
        answer(action == Action::accept);
        Entry* still = find(id, generation);
        if (!still || still->phase.kind != Kind::asking)
            return;
        if (action == Action::decline) {
            forget(id);
            return;
        }
        still->phase = ShareCardPhase::receiving();
        still->dismissed = false;
        show(id);
        return;
    }
    case Action::stop: {
        const auto stop = entry.stop;
        stop();
        break;
    }
    case Action::showInFolder:
        m_desktop.showInFolder(entry.phase.result.savedFiles);
        break;
    case Action::openLink:
        if (const auto link = ShareCardText::openableLink(entry.phase))
            m_desktop.openLink(*link);
        break;
    case Action::copy:
        putOnClipboard(entry.phase.result.text);
        break;
    case Action::close:
        break;
    }
    if (find(id, generation))
        forget(id);
}

void NotificationPrompts::onClosed(quint32 notification)
{
    const auto found = shownAs(notification);
    // While a replacement is on its way, a close is the server ending the old notice: the
    // answer says which one is up.
    if (found == m_entries.end() || found->second.sending)
        return;
    Entry& entry = found->second;
    entry.notification = 0;
    if (entry.phase.kind == Kind::done) {
        m_entries.erase(found);
        return;
    }
    // Closed without an answer is no answer: the receiver's own time limit ends the question.
    entry.dismissed = true;
}

void NotificationPrompts::forget(const QUuid& id)
{
    const auto found = m_entries.find(id);
    if (found == m_entries.end())
        return;
    if (found->second.notification != 0)
        m_server.close(found->second.notification);
    m_entries.erase(found);
}

} // namespace tessaly
