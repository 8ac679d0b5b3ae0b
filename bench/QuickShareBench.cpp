// Secure-channel opening against the bare OpenSSL work it wraps, and the receiver's handshake cost.
#include <benchmark/benchmark.h>

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include "quickshare/CryptoPrimitives.h"
#include "quickshare/QuickShareCrypto.h"
#include "quickshare/QuickShareMessages.h"
#include "support/AllocationMeter.h"

namespace {

using namespace tessaly;

SecretBytes key(std::uint8_t fill)
{
    return SecretBytes(Bytes(32, fill));
}

SecureChannel sender()
{
    return SecureChannel("0000", key(1), key(2), key(3), key(4));
}
SecureChannel receiver()
{
    return SecureChannel("0000", key(3), key(4), key(1), key(2));
}

Bytes sealedFrame(std::size_t size)
{
    SecureChannel channel = sender();
    return channel.seal(Bytes(size, 0x5A));
}

void SecureChannelOpen(benchmark::State& state)
{
    const Bytes sealed = sealedFrame(static_cast<std::size_t>(state.range(0)));
    const SecureChannel fresh = receiver();
    for (auto _ : state) {
        // Each frame must carry the next sequence number, so every round starts from a new channel.
        SecureChannel channel = fresh;
        Bytes frame = channel.open(sealed);
        benchmark::DoNotOptimize(frame.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

// The same MAC check and decryption written directly against EVP, with nothing around them.
void RawDecryptAndHmac(benchmark::State& state)
{
    const Bytes sealed = sealedFrame(static_cast<std::size_t>(state.range(0)));
    const ProtoMessage envelope(sealed);
    const Bytes headerAndBody = *envelope.bytes(1);
    const Bytes signature = *envelope.bytes(2);
    const ProtoMessage layers(headerAndBody);
    const Bytes body = *layers.bytes(2);
    const Bytes iv = *layers.message(1)->bytes(5);
    const Bytes macKey(32, 2), aesKey(32, 1);

    EVP_MAC* mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "AES-256-CBC", nullptr);
    char digest[] = "SHA256";
    const OSSL_PARAM params[]
        = { OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0), OSSL_PARAM_construct_end() };
    for (auto _ : state) {
        std::uint8_t tag[32];
        std::size_t tagLength = 0;
        EVP_MAC_CTX* macContext = EVP_MAC_CTX_new(mac);
        EVP_MAC_init(macContext, macKey.data(), macKey.size(), params);
        EVP_MAC_update(macContext, headerAndBody.data(), headerAndBody.size());
        EVP_MAC_final(macContext, tag, &tagLength, sizeof tag);
        EVP_MAC_CTX_free(macContext);
        if (CRYPTO_memcmp(tag, signature.data(), sizeof tag) != 0)
            state.SkipWithError("signature mismatch");

        Bytes plain(body.size() + 16);
        int moved = 0, last = 0;
        EVP_CIPHER_CTX* cipherContext = EVP_CIPHER_CTX_new();
        EVP_DecryptInit_ex2(cipherContext, cipher, aesKey.data(), iv.data(), nullptr);
        EVP_DecryptUpdate(cipherContext, plain.data(), &moved, body.data(), static_cast<int>(body.size()));
        EVP_DecryptFinal_ex(cipherContext, plain.data() + moved, &last);
        EVP_CIPHER_CTX_free(cipherContext);
        plain.resize(static_cast<std::size_t>(moved + last));
        benchmark::DoNotOptimize(plain.data());
    }
    EVP_MAC_free(mac);
    EVP_CIPHER_free(cipher);
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

// The receiver's whole share of a handshake: client-init in, server-init out, client-finish in,
// channel out (key generation, ECDH and every derivation included).
void Ukey2ServerHandshake(benchmark::State& state)
{
    const QuickShareHandshake phone;
    const Bytes clientFinish
        = Ukey2::message(ProtoWriter().bytes(1, phone.publicKeyMessage()).data(), Ukey2::Kind::clientFinish);
    const auto commitment = crypto::sha512(clientFinish);
    ProtoWriter cipher;
    cipher.number(1, 100).bytes(2, commitment);
    ProtoWriter init;
    init.number(1, 1).bytes(2, Bytes(32, 9)).message(3, cipher).string(4, Ukey2Server::nextProtocol);
    const Bytes clientInit = Ukey2::message(init.data(), Ukey2::Kind::clientInit);

    for (auto _ : state) {
        Ukey2Server server;
        benchmark::DoNotOptimize(std::get<Bytes>(server.handle(clientInit)).data());
        SecureChannel channel = std::get<SecureChannel>(server.handle(clientFinish));
        benchmark::DoNotOptimize(channel.code().data());
    }
}

// Frames built to cost as much memory as possible before the phone is authenticated: a 5 MB
// client-init of 2.6 million empty commitment entries before the usable one, and an introduction
// of 1.3 million four-byte file offers. "peak_MB" is the most heap one handling adds at once.
Bytes hugeClientInit()
{
    ProtoWriter init;
    init.number(1, 1).bytes(2, Bytes(32, 9));
    for (int i = 0; i < 2'600'000; ++i)
        init.bytes(3, {});
    init.message(3, ProtoWriter().number(1, 100).bytes(2, Bytes(64, 1))).string(4, Ukey2Server::nextProtocol);
    return Ukey2::message(init.data(), Ukey2::Kind::clientInit);
}

Bytes hugeIntroduction()
{
    ProtoWriter offers;
    for (int i = 0; i < 1'300'000; ++i)
        offers.message(1, ProtoWriter().number(3, 0));
    return versionOneEnvelope(ProtoWriter().number(1, 1).message(2, offers));
}

void measured(benchmark::State& state, const Bytes& frame, const std::function<void()>& handle)
{
    std::size_t peak = 0;
    for (auto _ : state)
        peak = std::max(peak, test::peakGrowth(handle));
    state.counters["frame_MB"] = static_cast<double>(frame.size()) / (1 << 20);
    state.counters["peak_MB"] = static_cast<double>(peak) / (1 << 20);
}

void HugeClientInit(benchmark::State& state)
{
    const Bytes frame = hugeClientInit();
    measured(state, frame, [&] {
        Ukey2Server server;
        benchmark::DoNotOptimize(std::get<Bytes>(server.handle(frame)).data());
    });
}

void HugeIntroduction(benchmark::State& state)
{
    const Bytes frame = hugeIntroduction();
    measured(state, frame, [&] { benchmark::DoNotOptimize(SharingFrame::decode(frame)); });
}

} // namespace

BENCHMARK(HugeClientInit)->Unit(benchmark::kMillisecond);
BENCHMARK(HugeIntroduction)->Unit(benchmark::kMillisecond);
BENCHMARK(SecureChannelOpen)->Arg(512 << 10)->Arg(64 << 10)->Unit(benchmark::kMicrosecond);
BENCHMARK(RawDecryptAndHmac)->Arg(512 << 10)->Arg(64 << 10)->Unit(benchmark::kMicrosecond);
BENCHMARK(Ukey2ServerHandshake)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
