#include "quickshare/QuickShareOfflineFrame.h"

#include "quickshare/QuickShareMessages.h"

namespace tessaly {

namespace {

enum FrameType : std::uint64_t {
    otherType = 0,
    connectionRequestType = 1,
    connectionResponseType = 2,
    payloadTransferType = 3,
    keepAliveType = 5,
    disconnectionType = 6,
};

enum PacketType : std::uint64_t { dataPacket = 1, controlPacket = 2 };

constexpr std::uint64_t mediumWifiLan = 5;
constexpr std::uint64_t responseAccept = 1;
constexpr std::uint64_t responseReject = 2;
// Operating-system type announced in the connection response: this side is a computer.
constexpr std::uint64_t osTypeComputer = 4;
constexpr std::uint64_t payloadCancelled = 2;

ProtoWriter body(const OfflineFrame::Case& value)
{
    ProtoWriter v1;
    std::visit(
        [&v1](const auto& frame) {
            using T = std::decay_t<decltype(frame)>;
            if constexpr (std::is_same_v<T, OfflineFrame::ConnectionRequest>) {
                const auto info = EndpointInfo::decode(frame.info);
                ProtoWriter request;
                request.string(1, frame.endpointID)
                    .string(2, info ? info->name : std::string())
                    .number(5, mediumWifiLan)
                    .bytes(6, frame.info);
                v1.number(1, connectionRequestType).message(2, request);
            } else if constexpr (std::is_same_v<T, OfflineFrame::ConnectionResponse>) {
                ProtoWriter os;
                os.number(1, osTypeComputer);
                ProtoWriter response;
                response.number(1, 0)
                    .number(3, frame.accepted ? responseAccept : responseReject)
                    .message(4, os);
                v1.number(1, connectionResponseType).message(3, response);
            } else if constexpr (std::is_same_v<T, OfflineFrame::PayloadPiece>) {
                ProtoWriter header;
                header.signedNumber(1, frame.id)
                    .number(2, static_cast<std::uint64_t>(frame.kind))
                    .signedNumber(3, frame.totalSize)
                    .number(4, 0);
                ProtoWriter chunk;
                chunk.boolean(1, frame.isLast).signedNumber(2, frame.offset);
                if (!frame.body.empty())
                    chunk.bytes(3, frame.body);
                ProtoWriter transfer;
                transfer.number(1, dataPacket).message(2, header).message(3, chunk);
                v1.number(1, payloadTransferType).message(4, transfer);
            } else if constexpr (std::is_same_v<T, OfflineFrame::PayloadStopped>) {
                ProtoWriter header;
                header.signedNumber(1, frame.id);
                ProtoWriter control;
                control.number(1, payloadCancelled);
                ProtoWriter transfer;
                transfer.number(1, controlPacket).message(2, header).message(4, control);
                v1.number(1, payloadTransferType).message(4, transfer);
            } else if constexpr (std::is_same_v<T, OfflineFrame::KeepAlive>) {
                ProtoWriter keepAlive;
                keepAlive.boolean(1, frame.ack);
                v1.number(1, keepAliveType).message(6, keepAlive);
            } else if constexpr (std::is_same_v<T, OfflineFrame::Disconnection>) {
                v1.number(1, disconnectionType).message(7, ProtoWriter());
            } else {
                v1.number(1, otherType);
            }
        },
        value);
    return v1;
}

OfflineFrame::Case decodePayload(const ProtoMessage& v1)
{
    const auto transfer = v1.message(4);
    if (!transfer)
        throw ProtoMessage::Malformed();
    const auto header = transfer->message(2);
    if (!header)
        throw ProtoMessage::Malformed();
    const auto id = header->int64(1);
    if (!id)
        throw ProtoMessage::Malformed();
    if (transfer->number(1) == controlPacket)
        return OfflineFrame::PayloadStopped { *id };

    const auto kind = header->number(2);
    if (kind != 1u && kind != 2u)
        return OfflineFrame::Other {};
    const auto chunk = transfer->message(3);
    if (!chunk)
        return OfflineFrame::Other {};
    OfflineFrame::PayloadPiece piece;
    piece.id = *id;
    piece.kind = static_cast<OfflineFrame::PayloadPiece::Kind>(*kind);
    piece.totalSize = header->int64(3).value_or(0);
    piece.offset = chunk->int64(2).value_or(0);
    piece.isLast = (chunk->number(1).value_or(0) & 1) != 0;
    piece.body = chunk->bytes(3).value_or(Bytes {});
    return piece;
}

} // namespace

OfflineFrame OfflineFrame::decode(ByteView data)
{
    const auto frame = openVersionOne(data);
    if (!frame)
        return { Other {} };
    const ProtoMessage* v1 = &frame->body;
    switch (frame->type) {
    case connectionRequestType: {
        const auto request = v1->message(2);
        if (!request)
            throw ProtoMessage::Malformed();
        auto info = request->bytes(6);
        if (!info)
            throw ProtoMessage::Malformed();
        return { ConnectionRequest { request->string(1).value_or(std::string()), std::move(*info) } };
    }
    case connectionResponseType: {
        const auto response = v1->message(3);
        if (!response)
            throw ProtoMessage::Malformed();
        return { ConnectionResponse { response->number(3) != responseReject } };
    }
    case payloadTransferType:
        return { decodePayload(*v1) };
    case keepAliveType: {
        const auto keepAlive = v1->message(6);
        return { KeepAlive { keepAlive && keepAlive->boolean(1) } };
    }
    case disconnectionType:
        return { Disconnection {} };
    default:
        return { Other {} };
    }
}

Bytes OfflineFrame::encoded() const
{
    return versionOneEnvelope(body(value));
}

} // namespace tessaly
