#include "quickshare/CryptoPrimitives.h"

#include <climits>
#include <cstring>

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/params.h>

namespace tessaly::crypto {

namespace {

// Algorithm fetches are cached: looking them up costs about as much as hashing a small frame.
EVP_MAC* hmacAlgorithm()
{
    static EVP_MAC* const mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    return mac;
}

EVP_CIPHER* aesAlgorithm()
{
    static EVP_CIPHER* const cipher = EVP_CIPHER_fetch(nullptr, "AES-256-CBC", nullptr);
    return cipher;
}

EVP_KDF* hkdfAlgorithm()
{
    static EVP_KDF* const kdf = EVP_KDF_fetch(nullptr, "HKDF", nullptr);
    return kdf;
}

struct MacContextDeleter {
    void operator()(EVP_MAC_CTX* context) const { EVP_MAC_CTX_free(context); }
};
struct CipherContextDeleter {
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
struct KdfContextDeleter {
    void operator()(EVP_KDF_CTX* context) const { EVP_KDF_CTX_free(context); }
};
struct KeyContextDeleter {
    void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); }
};
using KeyContext = std::unique_ptr<EVP_PKEY_CTX, KeyContextDeleter>;

void* mutableData(ByteView bytes)
{
    // OSSL_PARAM takes non-const pointers for inputs it only reads.
    return const_cast<std::uint8_t*>(bytes.data());
}

char digestName[] = "SHA256";

} // namespace

Error::Error()
    : std::runtime_error("cryptographic operation failed")
{
}

Digest256 sha256(ByteView data)
{
    Digest256 out {};
    if (EVP_Digest(data.data(), data.size(), out.data(), nullptr, EVP_sha256(), nullptr) != 1)
        throw Error();
    return out;
}

std::array<std::uint8_t, 64> sha512(ByteView data)
{
    std::array<std::uint8_t, 64> out {};
    if (EVP_Digest(data.data(), data.size(), out.data(), nullptr, EVP_sha512(), nullptr) != 1)
        throw Error();
    return out;
}

SecretBytes hkdfSha256(ByteView key, ByteView salt, ByteView info, std::size_t length)
{
    if (!hkdfAlgorithm() || key.empty())
        throw Error();
    std::unique_ptr<EVP_KDF_CTX, KdfContextDeleter> context(EVP_KDF_CTX_new(hkdfAlgorithm()));
    if (!context)
        throw Error();
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digestName, 0),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, mutableData(key), key.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, mutableData(salt), salt.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, mutableData(info), info.size()),
        OSSL_PARAM_construct_end(),
    };
    SecretBytes out(length);
    if (EVP_KDF_derive(context.get(), out.data(), out.size(), params) != 1)
        throw Error();
    return out;
}

Digest256 hmacSha256(ByteView key, ByteView data)
{
    if (!hmacAlgorithm() || key.empty())
        throw Error();
    std::unique_ptr<EVP_MAC_CTX, MacContextDeleter> context(EVP_MAC_CTX_new(hmacAlgorithm()));
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digestName, 0),
        OSSL_PARAM_construct_end(),
    };
    Digest256 out {};
    std::size_t written = 0;
    if (!context || EVP_MAC_init(context.get(), key.data(), key.size(), params) != 1
        || EVP_MAC_update(context.get(), data.data(), data.size()) != 1
        || EVP_MAC_final(context.get(), out.data(), &written, out.size()) != 1 || written != out.size())
        throw Error();
    return out;
}

bool equalInConstantTime(ByteView a, ByteView b)
{
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

Bytes aes256Cbc(bool encrypt, ByteView key, ByteView iv, ByteView input)
{
    constexpr std::size_t block = 16;
    if (key.size() != 32 || iv.size() != block || input.size() > INT_MAX - 2 * block || !aesAlgorithm())
        throw Error();
    std::unique_ptr<EVP_CIPHER_CTX, CipherContextDeleter> context(EVP_CIPHER_CTX_new());
    if (!context
        || EVP_CipherInit_ex2(context.get(), aesAlgorithm(), key.data(), iv.data(), encrypt ? 1 : 0, nullptr)
            != 1)
        throw Error();
    Bytes out(input.size() + block);
    int moved = 0;
    int finalMoved = 0;
    if (EVP_CipherUpdate(context.get(), out.data(), &moved, input.data(), static_cast<int>(input.size())) != 1
        || EVP_CipherFinal_ex(context.get(), out.data() + moved, &finalMoved) != 1)
        throw Error();
    out.resize(static_cast<std::size_t>(moved) + static_cast<std::size_t>(finalMoved));
    return out;
}

void KeyDeleter::operator()(EVP_PKEY* key) const
{
    EVP_PKEY_free(key);
}

Key p256Generate()
{
    Key key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    if (!key)
        throw Error();
    return key;
}

Bytes p256PublicKey(const EVP_PKEY* key)
{
    // The encoded point is 0x04 ‖ x ‖ y.
    std::uint8_t point[65];
    std::size_t length = 0;
    if (EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point, &length) != 1
        || length != sizeof point || point[0] != 0x04)
        throw Error();
    return Bytes(point + 1, point + sizeof point);
}

Key p256FromPublicKey(ByteView xy)
{
    if (xy.size() != 64)
        return nullptr;
    std::uint8_t point[65];
    point[0] = 0x04;
    std::memcpy(point + 1, xy.data(), xy.size());
    char group[] = "P-256";
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group, 0),
        OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point),
        OSSL_PARAM_construct_end(),
    };
    KeyContext context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    EVP_PKEY* raw = nullptr;
    if (!context || EVP_PKEY_fromdata_init(context.get()) != 1
        || EVP_PKEY_fromdata(context.get(), &raw, EVP_PKEY_PUBLIC_KEY, params) != 1)
        return nullptr;
    Key key(raw);
    // P-256 has cofactor 1, so a point on the curve that is not the point at infinity is a
    // valid public key: the quick check is the whole check.
    KeyContext check(EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr));
    if (!check || EVP_PKEY_public_check_quick(check.get()) != 1)
        return nullptr;
    return key;
}

SecretBytes p256SharedSecret(EVP_PKEY* mine, EVP_PKEY* peer)
{
    KeyContext context(EVP_PKEY_CTX_new_from_pkey(nullptr, mine, nullptr));
    std::size_t length = 0;
    if (!context || EVP_PKEY_derive_init(context.get()) != 1
        || EVP_PKEY_derive_set_peer_ex(context.get(), peer, 0) != 1
        || EVP_PKEY_derive(context.get(), nullptr, &length) != 1 || length != 32)
        throw Error();
    SecretBytes secret(length);
    if (EVP_PKEY_derive(context.get(), secret.data(), &length) != 1 || length != 32)
        throw Error();
    return secret;
}

} // namespace tessaly::crypto
