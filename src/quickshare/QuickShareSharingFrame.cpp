#include "quickshare/QuickShareSharingFrame.h"

#include "quickshare/QuickShareMessages.h"

namespace tessaly {

namespace {

enum FrameType : std::uint64_t {
    otherType = 0,
    introductionType = 1,
    responseType = 2,
    pairedKeyEncryptionType = 3,
    pairedKeyResultType = 4,
    cancelType = 6,
};

// The paired-key result this side always answers with.
constexpr std::uint64_t pairedKeyResultStatus = 3;
const std::string defaultMimeType = "application/octet-stream";

ProtoWriter introduction(const SharingFrame::Introduction& intro)
{
    ProtoWriter writer;
    for (const auto& file : intro.files) {
        ProtoWriter offer;
        offer.string(1, file.name)
            .signedNumber(3, file.payloadID)
            .signedNumber(4, file.size)
            .string(5, file.mimeType);
        writer.message(1, offer);
    }
    for (const auto& text : intro.texts) {
        ProtoWriter offer;
        offer.string(2, text.title)
            .number(3, static_cast<std::uint64_t>(text.kind))
            .signedNumber(4, text.payloadID)
            .signedNumber(5, text.size);
        writer.message(2, offer);
    }
    return writer;
}

ProtoWriter body(const SharingFrame::Case& value)
{
    ProtoWriter v1;
    std::visit(
        [&v1](const auto& frame) {
            using T = std::decay_t<decltype(frame)>;
            if constexpr (std::is_same_v<T, SharingFrame::Introduction>) {
                v1.number(1, introductionType).message(2, introduction(frame));
            } else if constexpr (std::is_same_v<T, SharingFrame::Response>) {
                ProtoWriter response;
                response.number(1, static_cast<std::uint64_t>(frame.answer));
                v1.number(1, responseType).message(3, response);
            } else if constexpr (std::is_same_v<T, SharingFrame::PairedKeyEncryption>) {
                ProtoWriter encryption;
                encryption.bytes(1, randomBytes(72)).bytes(2, randomBytes(6));
                v1.number(1, pairedKeyEncryptionType).message(4, encryption);
            } else if constexpr (std::is_same_v<T, SharingFrame::PairedKeyResult>) {
                ProtoWriter result;
                result.number(1, pairedKeyResultStatus);
                v1.number(1, pairedKeyResultType).message(5, result);
            } else if constexpr (std::is_same_v<T, SharingFrame::Cancel>) {
                v1.number(1, cancelType);
            } else {
                v1.number(1, otherType);
            }
        },
        value);
    return v1;
}

// Every offer is still checked, so a malformed one past the kept ones is still malformed.
SharingFrame::Introduction decodeIntroduction(const ProtoMessage& message)
{
    SharingFrame::Introduction intro;
    message.eachMessage(1, [&intro](const ProtoMessage& offer) {
        const auto payloadID = offer.int64(3);
        if (!payloadID)
            throw ProtoMessage::Malformed();
        if (intro.files.size() < SharingFrame::keptOffers)
            intro.files.push_back({ offer.string(1).value_or(std::string()), *payloadID,
                offer.int64(4).value_or(0), offer.string(5).value_or(defaultMimeType) });
    });
    message.eachMessage(2, [&intro](const ProtoMessage& offer) {
        const auto payloadID = offer.int64(4);
        if (!payloadID)
            throw ProtoMessage::Malformed();
        if (intro.texts.size() >= SharingFrame::keptOffers)
            return;
        const auto kind = offer.number(3).value_or(0);
        intro.texts.push_back({ offer.string(2).value_or(std::string()),
            kind <= 4 ? static_cast<SharingFrame::TextOffer::Kind>(kind)
                      : SharingFrame::TextOffer::Kind::unknown,
            *payloadID, offer.int64(5).value_or(0) });
    });
    // Wi-Fi credentials (4), apps (5) and streams (7).
    intro.hasOtherThings = message.has(4) || message.has(5) || message.has(7);
    return intro;
}

} // namespace

std::optional<SharingFrame::Answer> SharingFrame::answerFromRaw(std::uint64_t raw)
{
    if (raw < 1 || raw > 5)
        return std::nullopt;
    return static_cast<Answer>(raw);
}

SharingFrame SharingFrame::decode(ByteView data)
{
    const auto frame = openVersionOne(data);
    if (!frame)
        return { Other {} };
    const ProtoMessage* v1 = &frame->body;
    switch (frame->type) {
    case introductionType: {
        const auto intro = v1->message(2);
        if (!intro)
            throw ProtoMessage::Malformed();
        return { decodeIntroduction(*intro) };
    }
    case responseType: {
        const auto response = v1->message(3);
        const auto status = response ? response->number(1) : std::nullopt;
        return { Response { status ? answerFromRaw(*status).value_or(Answer::reject) : Answer::reject } };
    }
    case pairedKeyEncryptionType:
        return { PairedKeyEncryption {} };
    case pairedKeyResultType:
        return { PairedKeyResult {} };
    case cancelType:
        return { Cancel {} };
    default:
        return { Other {} };
    }
}

Bytes SharingFrame::encoded() const
{
    return versionOneEnvelope(body(value));
}

} // namespace tessaly
