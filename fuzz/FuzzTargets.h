#pragma once

#include <cstddef>
#include <cstdint>

#include "quickshare/SecureChannel.h"

// The bodies of the fuzz targets, shared by the libFuzzer binaries and by the test that replays
// the seed corpora. Each accepts any bytes; an exception other than the decoder's own error type,
// or a broken round trip, escapes or traps and so counts as a finding.
namespace tessaly::fuzz {

using Target = void (*)(const std::uint8_t* data, std::size_t size);

void protoMessage(const std::uint8_t* data, std::size_t size);
void offlineFrame(const std::uint8_t* data, std::size_t size);
void sharingFrame(const std::uint8_t* data, std::size_t size);
void endpointInfo(const std::uint8_t* data, std::size_t size);
void ukey2Open(const std::uint8_t* data, std::size_t size);
void secureChannelOpen(const std::uint8_t* data, std::size_t size);
// Past the MAC: the input is signed (and, after an odd first byte, encrypted) before opening.
void secureChannelSigned(const std::uint8_t* data, std::size_t size);
// Past the commitment: the input is the client-finish of a handshake whose client-init commits to it.
void ukey2Finish(const std::uint8_t* data, std::size_t size);

struct NamedTarget {
    const char* name; // also the name of its corpus folder
    Target run;
};

inline constexpr NamedTarget targets[] = {
    { "protoMessage", protoMessage },
    { "offlineFrame", offlineFrame },
    { "sharingFrame", sharingFrame },
    { "endpointInfo", endpointInfo },
    { "ukey2Open", ukey2Open },
    { "secureChannelOpen", secureChannelOpen },
    { "secureChannelSigned", secureChannelSigned },
    { "ukey2Finish", ukey2Finish },
};

// The channel that secureChannelOpen opens with (fixed keys, nothing received yet); `sender` is
// its mirror image, which seals messages it accepts.
SecureChannel fixedChannel(bool sender);

// What secureChannelSigned opens for `body`: signed as the fixed sender signs, and with
// `encrypt` first sealed into a header and ciphertext under a fixed IV.
Bytes signedForFixedChannel(ByteView body, bool encrypt);
// The client-init that commits to `clientFinish`, as ukey2Finish sends it first.
Bytes clientInitCommittingTo(ByteView clientFinish);

} // namespace tessaly::fuzz
