#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "quickshare/QuickShareWire.h"

namespace tessaly {

// A sharing-level frame, carried inside byte payloads once the channel is secure.
struct SharingFrame {
    enum class Answer : std::uint64_t { accept = 1, reject, notEnoughSpace, unsupported, timedOut };
    static std::optional<Answer> answerFromRaw(std::uint64_t raw);

    struct FileOffer {
        std::string name;
        std::int64_t payloadID = 0;
        std::int64_t size = 0;
        std::string mimeType;
        bool operator==(const FileOffer&) const = default;
    };
    struct TextOffer {
        enum class Kind : std::uint8_t { unknown = 0, text, link, address, phoneNumber };
        std::string title; // the phone's preview, not the text itself
        Kind kind = Kind::unknown;
        std::int64_t payloadID = 0;
        std::int64_t size = 0;
        bool operator==(const TextOffer&) const = default;
    };
    // Decoding keeps at most this many offers of each kind: one more than any acceptable share
    // holds, so "too many" still shows, while an introduction of a million offers stays small.
    static constexpr std::size_t keptOffers = 501;

    struct Introduction {
        std::vector<FileOffer> files;
        std::vector<TextOffer> texts;
        // Also offered something that is neither a file nor a text (Wi-Fi credentials, an app, ...).
        bool hasOtherThings = false;
        bool operator==(const Introduction&) const = default;
    };
    struct Response {
        Answer answer = Answer::reject;
        bool operator==(const Response&) const = default;
    };
    struct PairedKeyEncryption {
        bool operator==(const PairedKeyEncryption&) const = default;
    };
    struct PairedKeyResult {
        bool operator==(const PairedKeyResult&) const = default;
    };
    struct Cancel {
        bool operator==(const Cancel&) const = default;
    };
    struct Other {
        bool operator==(const Other&) const = default;
    };

    using Case = std::variant<Introduction, Response, PairedKeyEncryption, PairedKeyResult, Cancel, Other>;
    Case value;

    // Raises ProtoMessage::Malformed for a frame whose structure is wrong.
    static SharingFrame decode(ByteView data);
    Bytes encoded() const;

    template <typename T> const T* as() const { return std::get_if<T>(&value); }
    bool operator==(const SharingFrame&) const = default;
};

} // namespace tessaly
