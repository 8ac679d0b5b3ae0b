#include <openssl/x509.h>

#include <gtest/gtest.h>

#include "quickshare/QuickShareCrypto.h"
#include "quickshare/QuickShareMessages.h"
#include "support/AllocationMeter.h"
#include "support/QuickShareFakes.h"
#include "support/Ukey2Client.h"

namespace tessaly {
namespace {

using test::hex;

// A transcript computed once from the protocol's rules with an unrelated implementation (Python's
// cryptography package): two fixed P-256 keys (DER), the client-init and server-init exactly as
// sent, the code, a "hello" the phone sealed under the IV 00 01 .. 0F, and each side's sending keys.
const Bytes serverKey
    = hex("307702010104208b3ee54bd9b3319c9e1685b4b25d239f2591e2df39ff6d71fe7b6e9ffded14c4a00a06082a86"
          "48ce3d030107a1440342000474834320fcb103cfad0fee8112fc97f5bd73e56304e03e26ffde801886e8a5f891"
          "da32d4ae962acb004df2e1e6be70845fca5613b95a963ff6e78dd8f3a9225f");
const Bytes clientKey
    = hex("307702010104203ea092e41a0bd6771c5adb0e6a02204b41c3d5c5d02ebb64dd0528c47c0de884a00a06082a86"
          "48ce3d030107a14403420004fca90ae16f517d96e29e488feebafb5aee497587a258d0026dc3ee22b2974a9d7f"
          "ef4e643066ce8d17390ef7929bd223320b059e1e119f6c41c6d0ff33cee173");
const Bytes clientInit
    = hex("080212830108011220111111111111111111111111111111111111111111111111111111111111111"
          "11a4408641240ad681ef77ae5cb7075fbc4d29a3db6ad675398f36559ef719e729fbdab5970ecd016f101"
          "43a431064c68491124cbc129e67253f82666e920e7de0b9590c7909722174145535f3235365f4342432d48"
          "4d41435f534841323536");
const Bytes serverInit
    = hex("08031271080112202222222222222222222222222222222222222222222222222222222222222222186422"
          "49080112450a2074834320fcb103cfad0fee8112fc97f5bd73e56304e03e26ffde801886e8a5f812210091"
          "da32d4ae962acb004df2e1e6be70845fca5613b95a963ff6e78dd8f3a9225f");
const Bytes clientSealedHello
    = hex("0a300a1c080110022a10000102030405060708090a0b0c0d0e0f3204080d10011210a85cb2c7"
          "9807fe89d1af29d7f317a3d812208dcc468f5d1a4354c97a81e9fb4c0a0bb33de7485335e98c13"
          "00d27ec879e86c");
const Bytes clientEncrypt = hex("800fbc248e887407105ed4dc64c7c4de81345b85277a04f898158e39f7603dbb");
const Bytes clientSign = hex("224fa23b574a0786e31c67f445b561ce51eac5b5740f633dc67c4b6f35cc50ee");
const Bytes serverEncrypt = hex("52be9a364c5a1e87e72c8dcccc22deeb1a8bca8a6d97e7aa50ef7a73c2a318d2");
const Bytes serverSign = hex("7ab1515024940c0623bd98707499de319d3e3c579ef2f918630ac4ffba78358c");

QuickShareHandshake handshake(const Bytes& der)
{
    const std::uint8_t* cursor = der.data();
    return QuickShareHandshake(
        crypto::Key(d2i_AutoPrivateKey(nullptr, &cursor, static_cast<long>(der.size()))));
}

// The frame sealed by `channel`, read with the transcript's keys instead of the channel's.
Bytes readSealed(SecureChannel& channel, const Bytes& encrypt, const Bytes& sign)
{
    const ProtoMessage sealed(channel.seal(Bytes { 'h', 'i' }));
    const auto signature = crypto::hmacSha256(sign, *sealed.bytes(1));
    EXPECT_EQ(*sealed.bytes(2), Bytes(signature.begin(), signature.end()));
    const auto layers = sealed.message(1);
    return crypto::aes256Cbc(false, encrypt, *layers->message(1)->bytes(5), *layers->bytes(2));
}

TEST(QuickShareHandshake_Transcript, BothSidesMatchTheKnownAnswer)
{
    const auto server = handshake(serverKey);
    const auto client = handshake(clientKey);
    // The server's key message is the one inside the frozen server-init (its y needs a 0x00 lead).
    EXPECT_EQ(Ukey2::serverInit(Bytes(32, 0x22), server.publicKeyMessage()), serverInit);

    SecureChannel computer = server.finish(client.publicKeyMessage(), clientInit, serverInit, true);
    SecureChannel phone = client.finish(server.publicKeyMessage(), clientInit, serverInit, false);
    EXPECT_EQ(computer.code(), "4888");
    EXPECT_EQ(phone.code(), "4888");
    EXPECT_EQ(computer.open(clientSealedHello), (Bytes { 'h', 'e', 'l', 'l', 'o' }));
    const Bytes sequencedHi = ProtoWriter().bytes(1, Bytes { 'h', 'i' }).number(2, 1).data();
    EXPECT_EQ(readSealed(computer, serverEncrypt, serverSign), sequencedHi);
    EXPECT_EQ(readSealed(phone, clientEncrypt, clientSign), sequencedHi);
    // The frozen client-init commits to the client-finish that carries the phone's key message.
    const auto commitment = crypto::sha512(
        Ukey2::message(ProtoWriter().bytes(1, client.publicKeyMessage()).data(), Ukey2::Kind::clientFinish));
    EXPECT_EQ(Bytes(commitment.begin(), commitment.end()),
        *ProtoMessage(*Ukey2::open(clientInit, Ukey2::Kind::clientInit).message(3)).bytes(2));
}

TEST(QuickShareHardening_Memory, HugeListsBeforeAuthenticationStaySmall)
{
    if (!test::allocationsMeasured())
        GTEST_SKIP() << "allocations are measured in the plain build";
    constexpr std::size_t limit = 20 * 1024 * 1024;
    const test::Ukey2Client phone;
    // 5 MB of empty commitment entries before the usable one.
    ProtoWriter init;
    init.number(1, 1).bytes(2, Bytes(32, 1));
    for (int i = 0; i < 2'600'000; ++i)
        init.bytes(3, {});
    init.message(3, ProtoWriter().number(1, 100).bytes(2, phone.commitment()))
        .string(4, Ukey2Server::nextProtocol);
    const Bytes hugeInit = Ukey2::message(init.data(), Ukey2::Kind::clientInit);
    Ukey2Server server;
    EXPECT_LT(test::peakGrowth([&] { EXPECT_TRUE(std::holds_alternative<Bytes>(server.handle(hugeInit))); }),
        limit);

    // 1.3 million file offers of four bytes each.
    ProtoWriter offers;
    for (int i = 0; i < 1'300'000; ++i)
        offers.message(1, ProtoWriter().number(3, 0));
    const Bytes intro = versionOneEnvelope(ProtoWriter().number(1, 1).message(2, offers));
    std::size_t kept = 0;
    EXPECT_LT(test::peakGrowth(
                  [&] { kept = SharingFrame::decode(intro).as<SharingFrame::Introduction>()->files.size(); }),
        limit);
    EXPECT_EQ(kept, SharingFrame::keptOffers);
}

} // namespace
} // namespace tessaly
