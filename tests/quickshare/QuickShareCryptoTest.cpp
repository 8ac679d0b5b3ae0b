#include <set>

#include <gtest/gtest.h>

#include "quickshare/QuickShareCrypto.h"
#include "quickshare/QuickShareMessages.h"
#include "support/Ukey2Client.h"

namespace tessaly {
namespace {

using Alert = Ukey2::Alert;
using test::Ukey2Client;

ByteView text(std::string_view s)
{
    return { reinterpret_cast<const std::uint8_t*>(s.data()), s.size() };
}

TEST(QuickShareHandshake_Encodings, CoordinateFieldBytesAndCode)
{
    using H = QuickShareHandshake;
    Bytes high = Bytes(32, 0x11), low = Bytes(32, 0x22);
    high[0] = 0x80;
    low[0] = low[1] = 0x00;
    low[2] = 0x7F;
    Bytes wide = high;
    wide.insert(wide.begin(), 0x00);
    EXPECT_EQ(H::coordinateBytes(high), wide);
    EXPECT_EQ(H::coordinateBytes(Bytes(32, 0)), Bytes { 0x00 });
    EXPECT_EQ(H::coordinateBytes(low), Bytes(low.begin() + 2, low.end()));
    EXPECT_EQ(H::fieldBytes(wide), high);
    EXPECT_EQ(H::fieldBytes({}), Bytes(32, 0));
    EXPECT_EQ(H::fieldBytes(Bytes { 0x05 })->back(), 0x05);
    EXPECT_FALSE(H::fieldBytes(Bytes(33, 0x01)));

    EXPECT_EQ(H::code(text("abc")), "8517");
    EXPECT_EQ(H::code(Bytes(32, 0x00)), "0000");
    EXPECT_EQ(H::code(Bytes { 0x80 }), "0128");
    EXPECT_EQ(H::code(Bytes(32, 0xFF)), "6509");
}

// A pair of channels with fixed keys, the second the mirror of the first.
std::pair<SecureChannel, SecureChannel> channelPair()
{
    const SecretBytes a(Bytes(32, 1)), b(Bytes(32, 2)), c(Bytes(32, 3)), d(Bytes(32, 4));
    return { SecureChannel("0000", a, b, c, d), SecureChannel("0000", c, d, a, b) };
}

TEST(SecureChannel_Seal, LayoutFreshnessAndStrictSequence)
{
    auto [sender, receiver] = channelPair();
    const Bytes first = sender.seal({});
    const Bytes second = sender.seal(text("two"));
    std::set<Bytes> ivs;
    for (const auto& sealed : { first, second, sender.seal({}), sender.seal({}) })
        ivs.insert(*ProtoMessage(sealed).message(1)->message(1)->bytes(5));
    EXPECT_EQ(ivs.size(), 4u) << "every message needs its own IV";
    EXPECT_EQ(sender.sent(), 4);

    // The header fields the phone checks; signature, IV and body are read in the transcript test.
    const auto header = ProtoMessage(first).message(1)->message(1);
    EXPECT_EQ(header->number(1), 1u);
    EXPECT_EQ(header->number(2), 2u);
    EXPECT_FALSE(header->has(3) || header->has(4));
    EXPECT_EQ(header->message(6)->number(1), 13u);
    EXPECT_EQ(header->message(6)->number(2), 1u);

    EXPECT_THROW(receiver.open(second), SecureChannel::Failed) << "gap";
    EXPECT_EQ(receiver.open(first), Bytes {});
    EXPECT_THROW(receiver.open(first), SecureChannel::Failed) << "repeat";
    EXPECT_EQ(receiver.open(second), Bytes(text("two").begin(), text("two").end()));
    EXPECT_EQ(receiver.received(), 2);
}

// Signs `headerAndBody` as the sender of channelPair() does, so only the inner layers are bad.
Bytes signedWith(const Bytes& headerAndBody, const Bytes& signingKey = Bytes(32, 2))
{
    const auto signature = crypto::hmacSha256(signingKey, headerAndBody);
    return ProtoWriter().bytes(1, headerAndBody).bytes(2, signature).data();
}

Bytes headerAndBody(std::uint64_t encryption, std::optional<Bytes> iv, const Bytes& body)
{
    ProtoWriter header;
    header.number(1, 1).number(2, encryption);
    if (iv)
        header.bytes(5, *iv);
    return ProtoWriter().message(1, header).bytes(2, body).data();
}

TEST(SecureChannel_Open, RejectsEveryBrokenLayer)
{
    auto [sender, receiver] = channelPair();
    const Bytes iv = Bytes(16, 9);
    const Bytes key = Bytes(32, 1);
    const auto encrypt = [&](const Bytes& plain) { return crypto::aes256Cbc(true, key, iv, plain); };
    const Bytes sequenced = ProtoWriter().bytes(1, text("x")).number(2, 1).data();
    const Bytes ciphertext = encrypt(sequenced);

    Bytes flipped = sender.seal(text("x"));
    flipped.back() ^= 0x01;
    const std::vector<std::pair<std::string, Bytes>> failing = {
        { "not a message", { 0x0B } },
        { "no signature", ProtoWriter().bytes(1, Bytes { 1 }).data() },
        { "flipped signature bit", flipped },
        { "wrong signing key", signedWith(headerAndBody(2, iv, encrypt(sequenced)), Bytes(32, 7)) },
        // Decrypted before the signature check, this would be reported as not a message.
        { "wrong signature over a plaintext that is not a message",
            signedWith(headerAndBody(2, iv, encrypt(Bytes { 0x0B })), Bytes(32, 7)) },
        { "short signature", ProtoWriter().bytes(1, Bytes { 1 }).bytes(2, Bytes(31, 0)).data() },
        { "encryption scheme 1", signedWith(headerAndBody(1, iv, encrypt(sequenced))) },
        { "no iv", signedWith(headerAndBody(2, std::nullopt, encrypt(sequenced))) },
        { "15-byte iv", signedWith(headerAndBody(2, Bytes(15, 9), encrypt(sequenced))) },
        { "partial block",
            signedWith(headerAndBody(2, iv, Bytes(ciphertext.begin(), ciphertext.end() - 1))) },
        { "empty body", signedWith(headerAndBody(2, iv, {})) },
        { "bad padding",
            signedWith(headerAndBody(2, iv, crypto::aes256Cbc(true, Bytes(32, 5), iv, sequenced))) },
        { "no frame", signedWith(headerAndBody(2, iv, encrypt(ProtoWriter().number(2, 1).data()))) },
        { "sequence 2 first",
            signedWith(headerAndBody(2, iv, encrypt(ProtoWriter().bytes(1, {}).number(2, 2).data()))) },
        { "header not a message",
            signedWith(ProtoWriter().bytes(1, Bytes { 0x0B }).bytes(2, Bytes(16, 0)).data()) },
    };
    for (const auto& [name, bytes] : failing)
        EXPECT_THROW(receiver.open(bytes), SecureChannel::Failed) << name;
    EXPECT_EQ(receiver.received(), 0);

    // Authentic and decryptable, but not a message: a different failure.
    EXPECT_THROW(
        receiver.open(signedWith(headerAndBody(2, iv, encrypt(Bytes { 0x0B })))), ProtoMessage::Malformed);
    EXPECT_EQ(receiver.received(), 0);
    EXPECT_EQ(receiver.open(signedWith(headerAndBody(2, iv, encrypt(sequenced)))), Bytes { 'x' });
}

TEST(Ukey2_Handshake, BothSidesAgreeAndTalkBothWays)
{
    Ukey2Client phone;
    Ukey2Server server;
    // Commitments for other ciphers, or for none, come first and are passed over.
    const Bytes clientInit = phone.clientInit(
        { .commitments = std::vector<Ukey2Client::InitFields::Commitment> {
              { 200, Bytes(64, 0) }, { std::nullopt, std::nullopt }, { 100, phone.commitment() } } });
    const Bytes serverInit = std::get<Bytes>(server.handle(clientInit));
    EXPECT_EQ(server.stage(), Ukey2Server::Stage::clientFinish);
    SecureChannel computer = std::get<SecureChannel>(server.handle(phone.clientFinish()));
    EXPECT_EQ(server.stage(), Ukey2Server::Stage::finished);
    SecureChannel client = phone.finish(clientInit, serverInit);

    EXPECT_EQ(computer.code(), client.code());
    EXPECT_EQ(computer.code().size(), 4u);
    for (std::uint8_t i = 0; i < 3; ++i) {
        const Bytes ping = { 'p', i };
        EXPECT_EQ(computer.open(client.seal(ping)), ping);
        EXPECT_EQ(client.open(computer.seal(ping)), ping);
    }
    // Each direction has its own keys: a message cannot be reflected back to its sender.
    EXPECT_THROW(client.open(client.seal(text("echo"))), SecureChannel::Failed);
    const ProtoMessage init = Ukey2::open(serverInit, Ukey2::Kind::serverInit);
    EXPECT_EQ(init.bytes(2)->size(), 32u);
    EXPECT_FALSE(init.has(5));
}

Alert refusal(Ukey2Server& server, const Bytes& frame)
{
    try {
        server.handle(frame);
    } catch (const Ukey2::Refused& refused) {
        EXPECT_EQ(server.stage(), Ukey2Server::Stage::refused);
        return refused.alert;
    }
    ADD_FAILURE() << "accepted";
    return Alert::badMessage;
}

TEST(Ukey2_Handshake, ClientInitFailures)
{
    using Fields = Ukey2Client::InitFields;
    using Commitments = std::vector<Fields::Commitment>;
    Ukey2Client client;
    const Bytes listNotAMessage = ProtoWriter()
                                      .number(1, 1)
                                      .bytes(2, Bytes(32, 0))
                                      .bytes(3, Bytes { 0x0B })
                                      .string(4, Ukey2Server::nextProtocol)
                                      .data();
    const std::vector<std::tuple<std::string, Bytes, Alert>> cases = {
        { "not a message", { 0xFF }, Alert::badMessage },
        { "client-finish first", client.clientFinish(), Alert::badMessageType },
        { "no type", ProtoWriter().bytes(2, client.clientInit()).data(), Alert::badMessageType },
        { "no inner message field", ProtoWriter().number(1, 2).data(), Alert::badMessageData },
        { "inner message a number", ProtoWriter().number(1, 2).number(2, 1).data(), Alert::badMessageData },
        { "no inner message", Ukey2::message(Bytes { 0x0B }, Ukey2::Kind::clientInit),
            Alert::badMessageData },
        { "version 2", client.clientInit({ .version = 2 }), Alert::badVersion },
        { "no version", client.clientInit({ .version = std::nullopt }), Alert::badVersion },
        { "version before random", client.clientInit({ .version = 2, .random = Bytes(31, 0) }),
            Alert::badVersion },
        { "31-byte random", client.clientInit({ .random = Bytes(31, 0) }), Alert::badRandom },
        { "only cipher 200",
            client.clientInit({ .commitments = Commitments { { 200, client.commitment() } } }),
            Alert::badHandshakeCipher },
        { "cipher 100 without hash",
            client.clientInit({ .commitments = Commitments { { 100, std::nullopt } } }),
            Alert::badHandshakeCipher },
        { "no commitments", client.clientInit({ .commitments = Commitments {} }), Alert::badHandshakeCipher },
        { "commitment list not a message", Ukey2::message(listNotAMessage, Ukey2::Kind::clientInit),
            Alert::badHandshakeCipher },
        { "other next protocol", client.clientInit({ .nextProtocol = "AES_256_GCM" }),
            Alert::badNextProtocol },
        { "no next protocol", client.clientInit({ .nextProtocol = std::nullopt }), Alert::badNextProtocol },
    };
    for (const auto& [name, frame, alert] : cases) {
        Ukey2Server server;
        EXPECT_EQ(refusal(server, frame), alert) << name;
    }
}

TEST(Ukey2_Handshake, ClientFinishFailures)
{
    Ukey2Client client;
    const auto keyMessage = [](const Bytes& x, const Bytes& y) {
        return ProtoWriter().number(1, 1).message(2, ProtoWriter().bytes(1, x).bytes(2, y)).data();
    };
    const auto prefixed = [](std::uint8_t first, Bytes coordinate) {
        coordinate.insert(coordinate.begin(), first);
        return coordinate;
    };
    Bytes offCurve = client.y();
    offCurve.back() ^= 0x01;
    // The client-finish carries `key` (and the client-init commits to it); none: accepted.
    const std::vector<std::tuple<std::string, std::optional<Bytes>, std::optional<Alert>>> cases = {
        { "no public key", std::nullopt, Alert::badMessageData },
        { "33 bytes with a leading zero", keyMessage(prefixed(0x00, client.x()), client.y()), std::nullopt },
        { "33 significant bytes", keyMessage(prefixed(0x01, client.x()), client.y()), Alert::badPublicKey },
        { "not on the curve", keyMessage(client.x(), offCurve), Alert::badPublicKey },
        { "point at infinity", keyMessage({ 0 }, { 0 }), Alert::badPublicKey },
        { "key type 2", ProtoWriter().number(1, 2).data(), Alert::badPublicKey },
        { "key not a message", Bytes { 0x0B }, Alert::badPublicKey },
        { "missing y", ProtoWriter().number(1, 1).message(2, ProtoWriter().bytes(1, client.x())).data(),
            Alert::badPublicKey },
    };
    for (const auto& [name, key, alert] : cases) {
        client.usePublicKeyMessage(key);
        Ukey2Server server;
        const Bytes init = client.clientInit();
        const Bytes serverInit = std::get<Bytes>(server.handle(init));
        if (!alert) {
            SecureChannel channel = std::get<SecureChannel>(server.handle(client.clientFinish()));
            EXPECT_EQ(client.finish(init, serverInit).open(channel.seal(text("k"))), Bytes { 'k' }) << name;
            continue;
        }
        EXPECT_EQ(refusal(server, client.clientFinish()), *alert) << name;
        EXPECT_EQ(refusal(server, client.clientFinish()), Alert::badMessageData) << "spent after " << name;
    }

    // A finish that does not match the commitment, and a second client-init.
    const Ukey2Client honest;
    Bytes flipped = honest.clientFinish();
    flipped.back() ^= 0x01;
    for (const auto& [finish, alert] : { std::pair { flipped, Alert::badMessageData },
             std::pair { honest.clientInit(), Alert::badMessageType } }) {
        Ukey2Server server;
        server.handle(honest.clientInit());
        EXPECT_EQ(refusal(server, finish), alert);
    }
}

} // namespace
} // namespace tessaly
