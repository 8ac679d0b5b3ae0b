#include "quickshare/ShareCardText.h"

#include <QLocale>
#include <QStringList>
#include <QTextBoundaryFinder>

namespace tessaly::ShareCardText {

namespace {

using Kind = ShareCardPhase::Kind;
using Result = ShareResult::Kind;

QString quoted(const std::string& name)
{
    return QStringLiteral("“") + QString::fromStdString(name) + QStringLiteral("”");
}

QString fileName(const std::string& path)
{
    const QString text = QString::fromStdString(path);
    return text.mid(text.lastIndexOf(QLatin1Char('/')) + 1);
}

// "a, b", "a, b and 3 more"
QString firstTwo(const QStringList& names)
{
    QString line = names.mid(0, 2).join(QStringLiteral(", "));
    if (names.size() > 2)
        line += QStringLiteral(" and %1\u00a0more").arg(names.size() - 2);
    return line;
}

bool isLineBreak(QChar c)
{
    switch (c.unicode()) {
    case 0x0a: // line feed
    case 0x0b: // vertical tab
    case 0x0c: // form feed
    case 0x0d: // carriage return
    case 0x85: // next line
    case 0x2028: // line separator
    case 0x2029: // paragraph separator
        return true;
    default:
        return false;
    }
}

QString savedDetail(const std::vector<std::string>& files)
{
    QStringList names;
    for (const std::string& path : files)
        names << fileName(path);
    return firstTwo(names);
}

} // namespace

QString what(const IncomingShare& share)
{
    switch (share.contentKind) {
    case IncomingShare::ContentKind::text:
        return QStringLiteral("some text");
    case IncomingShare::ContentKind::link:
        return QStringLiteral("a link");
    case IncomingShare::ContentKind::files:
        break;
    }
    return share.files.size() == 1 ? QStringLiteral("a file")
                                   : QStringLiteral("%1 files").arg(share.files.size());
}

QString title(const IncomingShare& share, const ShareCardPhase& phase)
{
    switch (phase.kind) {
    case Kind::asking:
        return quoted(share.sender) + QStringLiteral(" wants to send you ") + what(share);
    case Kind::receiving:
        return QStringLiteral("Receiving ") + what(share) + QStringLiteral(" from ") + quoted(share.sender)
            + QStringLiteral("…");
    case Kind::done:
        break;
    }
    switch (phase.result.kind) {
    case Result::saved:
        return phase.result.savedFiles.size() == 1
            ? QStringLiteral("Saved to Downloads")
            : QStringLiteral("%1 files saved to Downloads").arg(phase.result.savedFiles.size());
    case Result::text:
        return QStringLiteral("Text copied");
    case Result::link:
        return QStringLiteral("Link copied");
    case Result::failed:
        return QStringLiteral("The transfer didn’t finish");
    case Result::declined:
    case Result::stopped:
        return QStringLiteral("Stopped");
    case Result::cancelledByPhone:
        return QStringLiteral("Cancelled on the phone");
    case Result::missed:
        return QStringLiteral("You missed a share from ") + quoted(share.sender);
    }
    return {};
}

QString detail(const IncomingShare& share, const ShareCardPhase& phase)
{
    if (phase.kind != Kind::done)
        return offerLine(share);
    const QString received = QString::fromStdString(phase.result.text);
    switch (phase.result.kind) {
    case Result::saved:
        return savedDetail(phase.result.savedFiles);
    case Result::text:
        return QStringLiteral("It is on the clipboard: paste it anywhere with Ctrl+V.\n") + preview(received);
    case Result::link:
        return QStringLiteral("It is on the clipboard.\n") + preview(received);
    case Result::failed:
        return QStringLiteral("What happened: ") + received
            + QStringLiteral(". Anything that arrived only in part was removed.");
    case Result::declined:
    case Result::stopped:
        return QStringLiteral("Anything that arrived only in part was removed.");
    case Result::cancelledByPhone:
        return QStringLiteral("Nothing was saved.");
    case Result::missed:
        return QStringLiteral("Nobody answered in time, so nothing was saved. Send it again from the phone.");
    }
    return {};
}

QString codeLine(const IncomingShare& share)
{
    return QStringLiteral("Code ") + QString::fromStdString(share.code);
}

QString codeHint()
{
    return QStringLiteral("If your phone shows a code, it should be the same one.");
}

QString offerLine(const IncomingShare& share)
{
    if (share.contentKind == IncomingShare::ContentKind::files) {
        QStringList names;
        for (const IncomingShare::File& file : share.files)
            names << QString::fromStdString(file.name);
        QString size = QStringLiteral(" · ") + byteCount(share.totalBytes);
        size.replace(QLatin1Char(' '), QChar(0x00a0));
        return firstTwo(names) + size;
    }
    return share.title.empty() ? QStringLiteral("The text itself arrives after you accept.")
                               : QString::fromStdString(share.title);
}

QString preview(const QString& text)
{
    QStringList pieces;
    QString piece;
    for (const QChar c : text) {
        if (!isLineBreak(c)) {
            piece += c;
        } else if (!piece.isEmpty()) {
            pieces << piece;
            piece.clear();
        }
    }
    if (!piece.isEmpty())
        pieces << piece;
    const QString line = pieces.join(QLatin1Char(' '));

    // Count what the reader sees as characters, so an emoji or an accent is never cut in two.
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, line);
    int count = 0;
    while (graphemes.toNextBoundary() != -1) {
        if (++count == kPreviewLength) {
            const qsizetype end = graphemes.position();
            return end < line.size() ? line.left(end) + QStringLiteral("…") : line;
        }
    }
    return line;
}

QString progressLine(std::int64_t receivedBytes, std::int64_t totalBytes)
{
    return byteCount(receivedBytes) + QStringLiteral(" of ") + byteCount(totalBytes);
}

double progressFraction(std::int64_t receivedBytes, std::int64_t totalBytes)
{
    if (totalBytes < 1 || receivedBytes <= 0)
        return 0;
    return receivedBytes >= totalBytes ? 1.0
                                       : static_cast<double>(receivedBytes) / static_cast<double>(totalBytes);
}

QString byteCount(std::int64_t bytes)
{
    const QLocale locale;
    // Qt writes "1 bytes".
    if (bytes == 1)
        return QStringLiteral("1 byte");
    // Whole kilobytes ("900 kB", not "900.0 kB"); one decimal from a megabyte on.
    const int decimals = bytes > -1'000'000 && bytes < 1'000'000 ? 0 : 1;
    return locale.formattedDataSize(bytes, decimals, QLocale::DataSizeSIFormat);
}

Symbol symbol(const IncomingShare& share, const ShareCardPhase& phase)
{
    if (phase.kind != Kind::done) {
        switch (share.contentKind) {
        case IncomingShare::ContentKind::files:
            return Symbol::file;
        case IncomingShare::ContentKind::text:
            return Symbol::text;
        case IncomingShare::ContentKind::link:
            return Symbol::link;
        }
    }
    switch (phase.result.kind) {
    case Result::saved:
    case Result::text:
    case Result::link:
        return Symbol::success;
    case Result::failed:
        return Symbol::warning;
    default:
        return Symbol::stopped;
    }
}

Tint tint(const ShareCardPhase& phase)
{
    if (phase.kind != Kind::done)
        return Tint::accent;
    switch (phase.result.kind) {
    case Result::saved:
    case Result::text:
    case Result::link:
        return Tint::green;
    case Result::failed:
        return Tint::orange;
    default:
        return Tint::secondary;
    }
}

std::vector<Action> actions(const ShareCardPhase& phase)
{
    switch (phase.kind) {
    case Kind::asking:
        return { Action::decline, Action::accept };
    case Kind::receiving:
        return { Action::stop };
    case Kind::done:
        break;
    }
    std::vector<Action> buttons;
    if (phase.result.kind == Result::saved && !phase.result.savedFiles.empty())
        buttons.push_back(Action::showInFolder);
    if (openableLink(phase))
        buttons.push_back(Action::openLink);
    buttons.push_back(Action::close);
    return buttons;
}

std::vector<Action> notificationActions(const ShareCardPhase& phase)
{
    std::vector<Action> shown = actions(phase);
    std::erase(shown, Action::close);
    if (phase.kind == Kind::done && (phase.result.kind == Result::text || phase.result.kind == Result::link))
        shown.push_back(Action::copy);
    return shown;
}

QString actionLabel(Action action)
{
    switch (action) {
    case Action::decline:
        return QStringLiteral("Decline");
    case Action::accept:
        return QStringLiteral("Accept");
    case Action::stop:
        return QStringLiteral("Stop");
    case Action::showInFolder:
        return QStringLiteral("Show in Folder");
    case Action::openLink:
        return QStringLiteral("Open Link");
    case Action::copy:
        return QStringLiteral("Copy");
    case Action::close:
        break;
    }
    return QStringLiteral("Close");
}

namespace {

constexpr Action kAllActions[] = { Action::decline, Action::accept, Action::stop, Action::showInFolder,
    Action::openLink, Action::close, Action::copy };

} // namespace

QString actionKey(Action action)
{
    switch (action) {
    case Action::decline:
        return QStringLiteral("decline");
    case Action::accept:
        return QStringLiteral("accept");
    case Action::stop:
        return QStringLiteral("stop");
    case Action::showInFolder:
        return QStringLiteral("showInFolder");
    case Action::openLink:
        return QStringLiteral("openLink");
    case Action::copy:
        return QStringLiteral("copy");
    case Action::close:
        break;
    }
    return QStringLiteral("close");
}

std::optional<Action> actionForKey(const QString& key)
{
    for (const Action action : kAllActions)
        if (actionKey(action) == key)
            return action;
    return std::nullopt;
}

std::optional<QUrl> openableLink(const ShareCardPhase& phase)
{
    if (phase.kind != Kind::done || phase.result.kind != Result::link)
        return std::nullopt;
    const QUrl url(QString::fromStdString(phase.result.text).trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QStringLiteral("https") && scheme != QStringLiteral("http"))
        || url.host().isEmpty())
        return std::nullopt;
    return url;
}

} // namespace tessaly::ShareCardText
