#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>

#include <openssl/types.h>

#include "quickshare/QuickShareWire.h"
#include "quickshare/SecretBytes.h"

// Thin wrappers over OpenSSL's EVP interfaces for the handshake and the secure channel. Every
// failure of the library raises crypto::Error, which the callers turn into their own error type.
namespace tessaly::crypto {

struct Error : std::runtime_error {
    Error();
};

using Digest256 = std::array<std::uint8_t, 32>;

Digest256 sha256(ByteView data);
std::array<std::uint8_t, 64> sha512(ByteView data);
SecretBytes hkdfSha256(ByteView key, ByteView salt, ByteView info, std::size_t length);
Digest256 hmacSha256(ByteView key, ByteView data);
// Constant-time comparison; inputs of different lengths never match.
bool equalInConstantTime(ByteView a, ByteView b);

// One whole-buffer AES-256-CBC pass with PKCS#7 padding. Raises Error for a key that is not 32
// bytes, an IV that is not 16 bytes, bad padding or a body that is not whole blocks.
Bytes aes256Cbc(bool encrypt, ByteView key, ByteView iv, ByteView input);

struct KeyDeleter {
    void operator()(EVP_PKEY* key) const;
};
// An OpenSSL key, private or public; freeing a private key wipes it.
using Key = std::unique_ptr<EVP_PKEY, KeyDeleter>;

// P-256 keys with their public point as 64 raw bytes x‖y.
Key p256Generate();
Bytes p256PublicKey(const EVP_PKEY* key);
// None when the bytes are not a point on the curve.
Key p256FromPublicKey(ByteView xy);
// The 32-byte shared secret of ECDH between `mine` and `peer`.
SecretBytes p256SharedSecret(EVP_PKEY* mine, EVP_PKEY* peer);

} // namespace tessaly::crypto
