#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <QString>
#include <QUrl>

#include "quickshare/IncomingShare.h"

namespace tessaly {

// Where a share card stands: the question, the transfer, or the outcome.
struct ShareCardPhase {
    enum class Kind { done, asking, receiving };

    Kind kind = Kind::asking;
    ShareResult result; // done only

    static ShareCardPhase asking() { return { Kind::asking, {} }; }
    static ShareCardPhase receiving() { return { Kind::receiving, {} }; }
    static ShareCardPhase done(ShareResult result) { return { Kind::done, std::move(result) }; }

    bool operator==(const ShareCardPhase&) const = default;
};

// Everything a share card says, as pure functions of the offer and the card's phase.
namespace ShareCardText {

enum class Symbol { file, text, link, success, warning, stopped };
enum class Tint { accent, green, orange, secondary };
enum class Action { decline, accept, stop, showInFolder, openLink, close, copy };

// Previews of received text keep this many characters.
inline constexpr int kPreviewLength = 140;

QString title(const IncomingShare& share, const ShareCardPhase& phase);
QString detail(const IncomingShare& share, const ShareCardPhase& phase);
// Shown only while asking: the code on a line of its own ("Code 4821"), then what to do with it.
QString codeLine(const IncomingShare& share);
QString codeHint();
// "1.2 MB of 3.4 MB"
QString progressLine(std::int64_t receivedBytes, std::int64_t totalBytes);
// Between 0 and 1; 0 while the total is unknown (below 1 byte).
double progressFraction(std::int64_t receivedBytes, std::int64_t totalBytes);

Symbol symbol(const IncomingShare& share, const ShareCardPhase& phase);
Tint tint(const ShareCardPhase& phase);
// The buttons in their order, leading to trailing.
std::vector<Action> actions(const ShareCardPhase& phase);
// What a notification offers instead: no Close (it has its own), and Copy for received text.
std::vector<Action> notificationActions(const ShareCardPhase& phase);
QString actionLabel(Action action);
// A name for the action that never changes with the label: "showInFolder".
QString actionKey(Action action);
std::optional<Action> actionForKey(const QString& key);

// A received link worth opening in a browser: http or https with a host.
std::optional<QUrl> openableLink(const ShareCardPhase& phase);

// The offered contents: "a file", "3 files", "some text", "a link".
QString what(const IncomingShare& share);
// The files' size stays on the line of the last name: "a.jpg, b.pdf · 2.6 MB".
QString offerLine(const IncomingShare& share);
// One line of at most kPreviewLength characters (then "…"), line breaks turned into spaces.
QString preview(const QString& text);
// Sizes in decimal units, as file managers show them.
QString byteCount(std::int64_t bytes);

} // namespace ShareCardText
} // namespace tessaly
