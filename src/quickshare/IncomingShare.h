#pragma once

#include <QUuid>
#include <cstdint>
#include <string>
#include <vector>

#include "quickshare/QuickShareMessages.h"

namespace tessaly {

// What a phone offers, as the prompt shows it. `id` is the connection's own id, so progress and
// the final result can be matched to the prompt that asked.
struct IncomingShare {
    struct File {
        std::string name; // already cleaned: the name that will be saved
        std::int64_t size = 0;
        bool operator==(const File&) const = default;
    };
    enum class ContentKind { files, text, link };

    QUuid id;
    std::string sender; // cleaned, "A nearby device" when the phone gave none
    EndpointInfo::Kind senderKind = EndpointInfo::Kind::unknown;
    std::string code; // four digits to compare with the phone
    ContentKind contentKind = ContentKind::files;
    std::vector<File> files; // files only
    std::string title; // text and link only: the phone's preview, cleaned, may be empty
    std::int64_t totalBytes = 0;

    bool operator==(const IncomingShare&) const = default;
};

// How one share ended.
struct ShareResult {
    enum class Kind { saved, text, link, failed, declined, stopped, cancelledByPhone, missed };

    Kind kind = Kind::failed;
    std::vector<std::string> savedFiles; // saved: absolute paths in order of completion
    std::string text; // text and link: what arrived; failed: a lower-case reason

    static ShareResult saved(std::vector<std::string> files) { return {Kind::saved, std::move(files), {}}; }
    static ShareResult receivedText(std::string t) { return {Kind::text, {}, std::move(t)}; }
    static ShareResult receivedLink(std::string l) { return {Kind::link, {}, std::move(l)}; }
    static ShareResult failed(std::string reason) { return {Kind::failed, {}, std::move(reason)}; }
    static ShareResult of(Kind k) { return {k, {}, {}}; }

    bool operator==(const ShareResult&) const = default;
};

} // namespace tessaly
