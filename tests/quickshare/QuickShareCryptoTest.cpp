#include <functional>

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

Bytes filled(std::size_t size, std::uint8_t value)
{
    return Bytes(size, value);
}

TEST(QuickShareHandshake_Encodings, CoordinateAndFieldBytes)
{
    Bytes high = filled(32, 0x11);
    high[0] = 0x80;
    const Bytes wide = QuickShareHandshake::coordinateBytes(high);
    ASSERT_EQ(wide.size(), 33u);
    EXPECT_EQ(wide[0], 0x00);
    EXPECT_EQ(wide[1], 0x80);
    EXPECT_EQ(QuickShareHandshake::coordinateBytes(filled(32, 0)), Bytes { 0x00 });
    Bytes low = filled(32, 0x22);
    low[0] = low[1] = 0x00;
    low[2] = 0x7F;
    EXPECT_EQ(QuickShareHandshake::coordinateBytes(low), Bytes(low.begin() + 2, low.end()));

    EXPECT_EQ(QuickShareHandshake::fieldBytes(wide), high);
    EXPECT_EQ(QuickShareHandshake::fieldBytes({}), filled(32, 0));
    EXPECT_EQ(QuickShareHandshake::fieldBytes(Bytes { 0x05 })->back(), 0x05);
    EXPECT_FALSE(QuickShareHandshake::fieldBytes(filled(33, 0x01)));
}

TEST(QuickShareHandshake_Encodings, Code)
{
    EXPECT_EQ(QuickShareHandshake::code(text("abc")), "8517");
    EXPECT_EQ(QuickShareHandshake::code(filled(32, 0x00)), "0000");
    EXPECT_EQ(QuickShareHandshake::code(Bytes { 0x80 }), "0128");
    EXPECT_EQ(QuickShareHandshake::code(filled(32, 0xFF)), "6509");
}

TEST(CryptoPrimitives_KnownAnswers, HkdfAndHmac)
{
    // RFC 5869 test case 1 and RFC 4231 test case 2.
    const Bytes ikm = filled(22, 0x0b);
    const Bytes salt = { 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b, 0x0c };
    const Bytes info = { 0xf0, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9 };
    const SecretBytes okm = crypto::hkdfSha256(ikm, salt, info, 42);
    const Bytes expected = { 0x3c, 0xb2, 0x5f, 0x25, 0xfa, 0xac, 0xd5, 0x7a, 0x90, 0x43, 0x4f, 0x64, 0xd0,
        0x36, 0x2f, 0x2a, 0x2d, 0x2d, 0x0a, 0x90, 0xcf, 0x1a, 0x5a, 0x4c, 0x5d, 0xb0, 0x2d, 0x56, 0xec, 0xc4,
        0xc5, 0xbf, 0x34, 0x00, 0x72, 0x08, 0xd5, 0xb8, 0x87, 0x18, 0x58, 0x65 };
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), okm.data(), okm.data() + okm.size()));

    const auto mac = crypto::hmacSha256(text("Jefe"), text("what do ya want for nothing?"));
    EXPECT_EQ(mac[0], 0x5b);
    EXPECT_EQ(mac[31], 0x43);
}

// A pair of channels with fixed keys, the second the mirror of the first.
std::pair<SecureChannel, SecureChannel> channelPair()
{
    const SecretBytes a(filled(32, 1)), b(filled(32, 2)), c(filled(32, 3)), d(filled(32, 4));
    return { SecureChannel("0000", a, b, c, d), SecureChannel("0000", c, d, a, b) };
}

TEST(SecureChannel_Seal, LayoutAndFreshness)
{
    auto [sender, receiver] = channelPair();
    const Bytes first = sender.seal({});
    const Bytes second = sender.seal({});
    EXPECT_NE(first, second);
    EXPECT_EQ(sender.sent(), 2);

    const ProtoMessage envelope(first);
    const auto headerAndBody = envelope.message(1);
    ASSERT_TRUE(headerAndBody);
    EXPECT_EQ(envelope.bytes(2)->size(), 32u);
    const auto header = headerAndBody->message(1);
    EXPECT_EQ(header->number(1), 1u);
    EXPECT_EQ(header->number(2), 2u);
    EXPECT_EQ(header->bytes(5)->size(), 16u);
    EXPECT_FALSE(header->has(3) || header->has(4));
    EXPECT_EQ(header->message(6)->number(1), 13u);
    EXPECT_EQ(header->message(6)->number(2), 1u);
    // Plaintext 0A 00 10 01 pads to exactly one block.
    EXPECT_EQ(headerAndBody->bytes(2)->size(), 16u);
    const Bytes plain = crypto::aes256Cbc(false, filled(32, 1), *header->bytes(5), *headerAndBody->bytes(2));
    EXPECT_EQ(plain, (Bytes { 0x0A, 0x00, 0x10, 0x01 }));

    EXPECT_EQ(receiver.open(first), Bytes {});
    EXPECT_EQ(receiver.open(second), Bytes {});
    EXPECT_EQ(receiver.received(), 2);
}

TEST(SecureChannel_Open, StrictSequence)
{
    auto [sender, receiver] = channelPair();
    const Bytes one = sender.seal(text("one"));
    const Bytes two = sender.seal(text("two"));
    const Bytes three = sender.seal(text("three"));
    EXPECT_THROW(receiver.open(two), SecureChannel::Failed) << "gap";
    EXPECT_EQ(receiver.open(one), Bytes(text("one").begin(), text("one").end()));
    EXPECT_THROW(receiver.open(one), SecureChannel::Failed) << "repeat";
    EXPECT_EQ(receiver.open(two).size(), 3u);
    EXPECT_EQ(receiver.received(), 2);
    EXPECT_EQ(receiver.open(three).size(), 5u);
}

// Signs `headerAndBody` as the sender of channelPair() does, so only the inner layers are bad.
Bytes signedWith(const Bytes& headerAndBody, const Bytes& signingKey = filled(32, 2))
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
    const Bytes iv = filled(16, 9);
    const Bytes key = filled(32, 1);
    const auto encrypt = [&](const Bytes& plain) { return crypto::aes256Cbc(true, key, iv, plain); };
    const Bytes sequenced = ProtoWriter().bytes(1, text("x")).number(2, 1).data();
    const Bytes ciphertext = encrypt(sequenced);

    Bytes flipped = sender.seal(text("x"));
    flipped.back() ^= 0x01;
    const std::vector<std::pair<std::string, Bytes>> failing = {
        { "not a message", { 0x0B } },
        { "no signature", ProtoWriter().bytes(1, Bytes { 1 }).data() },
        { "flipped signature bit", flipped },
        { "wrong signing key", signedWith(headerAndBody(2, iv, encrypt(sequenced)), filled(32, 7)) },
        { "short signature", ProtoWriter().bytes(1, Bytes { 1 }).bytes(2, Bytes(31, 0)).data() },
        { "encryption scheme 1", signedWith(headerAndBody(1, iv, encrypt(sequenced))) },
        { "no iv", signedWith(headerAndBody(2, std::nullopt, encrypt(sequenced))) },
        { "15-byte iv", signedWith(headerAndBody(2, filled(15, 9), encrypt(sequenced))) },
        { "partial block",
            signedWith(headerAndBody(2, iv, Bytes(ciphertext.begin(), ciphertext.end() - 1))) },
        { "empty body", signedWith(headerAndBody(2, iv, {})) },
        { "bad padding",
            signedWith(headerAndBody(2, iv, crypto::aes256Cbc(true, filled(32, 5), iv, sequenced))) },
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

TEST(SecureChannel_Keys, WrongSizedKeysFail)
{
    SecureChannel shortKey("0000", SecretBytes(filled(31, 1)), SecretBytes(filled(32, 2)),
        SecretBytes(filled(32, 3)), SecretBytes(filled(32, 4)));
    EXPECT_THROW(shortKey.seal(text("x")), SecureChannel::Failed);
    EXPECT_EQ(shortKey.sent(), 0);
    SecureChannel noKeys("0000", {}, {}, {}, {});
    EXPECT_THROW(noKeys.seal(text("x")), SecureChannel::Failed);
    EXPECT_THROW(noKeys.open(channelPair().first.seal(text("x"))), SecureChannel::Failed);
}

struct Handshake {
    Ukey2Client client;
    Ukey2Server server;
    Bytes clientInit = client.clientInit();
};

TEST(Ukey2_Handshake, BothSidesAgreeAndTalk)
{
    Handshake h;
    const Bytes serverInit = std::get<Bytes>(h.server.handle(h.clientInit));
    EXPECT_EQ(h.server.stage(), Ukey2Server::Stage::clientFinish);
    SecureChannel server = std::get<SecureChannel>(h.server.handle(h.client.clientFinish()));
    EXPECT_EQ(h.server.stage(), Ukey2Server::Stage::finished);
    SecureChannel client = h.client.finish(h.clientInit, serverInit);

    EXPECT_EQ(server.code(), client.code());
    EXPECT_EQ(server.code().size(), 4u);
    for (int i = 0; i < 3; ++i) {
        const Bytes ping = { 'p', static_cast<std::uint8_t>(i) };
        EXPECT_EQ(server.open(client.seal(ping)), ping);
        EXPECT_EQ(client.open(server.seal(ping)), ping);
    }
    // Each direction has its own keys: a message cannot be reflected back to its sender.
    EXPECT_THROW(client.open(client.seal(text("echo"))), SecureChannel::Failed);

    // The server-init carries a fresh random and this server's key.
    const ProtoMessage init = Ukey2::open(serverInit, Ukey2::Kind::serverInit);
    EXPECT_EQ(init.bytes(2)->size(), 32u);
    EXPECT_FALSE(init.has(5));
}

TEST(Ukey2_Handshake, ChannelsFromTheSameSecretsInterwork)
{
    const QuickShareHandshake phone, computer;
    const Bytes ci = { 1, 2, 3 }, si = { 4, 5 };
    SecureChannel server = computer.finish(phone.publicKeyMessage(), ci, si, true);
    SecureChannel client = phone.finish(computer.publicKeyMessage(), ci, si, false);
    EXPECT_EQ(server.code(), client.code());
    EXPECT_EQ(client.open(server.seal(text("a"))), Bytes { 'a' });
    EXPECT_EQ(server.open(client.seal(text("b"))), Bytes { 'b' });
    SecureChannel otherInfo = phone.finish(computer.publicKeyMessage(), ci, Bytes { 4 }, false);
    EXPECT_THROW(otherInfo.open(server.seal(text("c"))), SecureChannel::Failed);
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
    Ukey2Client client;
    const Bytes commitment = client.commitment();
    const auto with = [](auto change) {
        Fields fields;
        change(fields);
        return fields;
    };
    const std::vector<std::tuple<std::string, Bytes, Alert>> cases = {
        { "not a message", { 0xFF }, Alert::badMessage },
        { "client-finish first", client.clientFinish(), Alert::badMessageType },
        { "no inner message", Ukey2::message(Bytes { 0x0B }, Ukey2::Kind::clientInit),
            Alert::badMessageData },
        { "version 2", client.clientInit(with([](Fields& f) { f.version = 2; })), Alert::badVersion },
        { "no version", client.clientInit(with([](Fields& f) { f.version.reset(); })), Alert::badVersion },
        { "version before random",
            client.clientInit(with([](Fields& f) { f.version = 2, f.random = Bytes(31, 0); })),
            Alert::badVersion },
        { "31-byte random", client.clientInit(with([](Fields& f) { f.random = Bytes(31, 0); })),
            Alert::badRandom },
        { "only cipher 200", client.clientInit(with([&](Fields& f) {
             f.commitments = { { 200, commitment } };
         })),
            Alert::badHandshakeCipher },
        { "cipher 100 without hash", client.clientInit(with([&](Fields& f) {
             f.commitments = { { 100, std::nullopt } };
         })),
            Alert::badHandshakeCipher },
        { "no commitments", client.clientInit(with([](Fields& f) { f.commitments.emplace(); })),
            Alert::badHandshakeCipher },
        { "commitment list not a message",
            Ukey2::message(ProtoWriter()
                               .number(1, 1)
                               .bytes(2, Bytes(32, 0))
                               .bytes(3, Bytes { 0x0B })
                               .string(4, Ukey2Server::nextProtocol)
                               .data(),
                Ukey2::Kind::clientInit),
            Alert::badHandshakeCipher },
        { "other next protocol", client.clientInit(with([](Fields& f) { f.nextProtocol = "AES_256_GCM"; })),
            Alert::badNextProtocol },
        { "no next protocol", client.clientInit(with([](Fields& f) { f.nextProtocol.reset(); })),
            Alert::badNextProtocol },
    };
    for (const auto& [name, frame, alert] : cases) {
        Ukey2Server server;
        EXPECT_EQ(refusal(server, frame), alert) << name;
    }
}

TEST(Ukey2_Handshake, SecondCommitmentForCipher100IsUsed)
{
    Ukey2Client client;
    Ukey2Client::InitFields fields;
    fields.commitments
        = { { 200, Bytes(64, 0) }, { std::nullopt, std::nullopt }, { 100, client.commitment() } };
    const Bytes init = client.clientInit(fields);
    Ukey2Server server;
    const Bytes serverInit = std::get<Bytes>(server.handle(init));
    SecureChannel channel = std::get<SecureChannel>(server.handle(client.clientFinish()));
    EXPECT_EQ(client.finish(init, serverInit).open(channel.seal(text("ok"))), (Bytes { 'o', 'k' }));
}

TEST(Ukey2_Handshake, ClientFinishFailures)
{
    const auto keyMessage = [](const Bytes& x, const Bytes& y) {
        return ProtoWriter().number(1, 1).message(2, ProtoWriter().bytes(1, x).bytes(2, y)).data();
    };
    const auto prefixed = [](std::uint8_t first, Bytes coordinate) {
        coordinate.insert(coordinate.begin(), first);
        return coordinate;
    };
    using Key = std::function<std::optional<Bytes>(const Ukey2Client&)>;
    using Finish = std::function<Bytes(const Ukey2Client&)>;
    struct Case {
        std::string name;
        Key key; // empty: the client's own key
        Finish finish; // empty: the client's honest client-finish
        std::optional<Alert> alert; // none: accepted
    };
    const std::vector<Case> cases = {
        { "one flipped bit", {},
            [](const Ukey2Client& c) {
                Bytes f = c.clientFinish();
                f.back() ^= 0x01;
                return f;
            },
            Alert::badMessageData },
        { "client-init again", {}, [](const Ukey2Client& c) { return c.clientInit(); },
            Alert::badMessageType },
        { "no public key", [](const Ukey2Client&) { return std::nullopt; }, {}, Alert::badMessageData },
        { "33 bytes with a leading zero",
            [&](const Ukey2Client& c) { return keyMessage(prefixed(0x00, c.x()), c.y()); }, {},
            std::nullopt },
        { "33 significant bytes",
            [&](const Ukey2Client& c) { return keyMessage(prefixed(0x01, c.x()), c.y()); }, {},
            Alert::badPublicKey },
        { "not on the curve",
            [&](const Ukey2Client& c) {
                Bytes y = c.y();
                y.back() ^= 0x01;
                return keyMessage(c.x(), y);
            },
            {}, Alert::badPublicKey },
        { "point at infinity", [&](const Ukey2Client&) { return keyMessage({ 0 }, { 0 }); }, {},
            Alert::badPublicKey },
        { "key type 2", [](const Ukey2Client&) { return ProtoWriter().number(1, 2).data(); }, {},
            Alert::badPublicKey },
        { "key not a message", [](const Ukey2Client&) { return Bytes { 0x0B }; }, {}, Alert::badPublicKey },
        { "missing y",
            [](const Ukey2Client& c) {
                return ProtoWriter().number(1, 1).message(2, ProtoWriter().bytes(1, c.x())).data();
            },
            {}, Alert::badPublicKey },
    };
    for (const auto& c : cases) {
        Ukey2Client client;
        if (c.key)
            client.usePublicKeyMessage(c.key(client));
        Ukey2Server server;
        const Bytes init = client.clientInit();
        const Bytes serverInit = std::get<Bytes>(server.handle(init));
        const Bytes finish = c.finish ? c.finish(client) : client.clientFinish();
        if (!c.alert) {
            SecureChannel channel = std::get<SecureChannel>(server.handle(finish));
            EXPECT_EQ(client.finish(init, serverInit).open(channel.seal(text("k"))), Bytes { 'k' }) << c.name;
        } else {
            EXPECT_EQ(refusal(server, finish), *c.alert) << c.name;
            EXPECT_EQ(refusal(server, client.clientFinish()), Alert::badMessageData)
                << "spent after " << c.name;
        }
    }
}

} // namespace
} // namespace tessaly
