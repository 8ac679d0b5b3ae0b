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
};

// The channel that secureChannelOpen opens with (fixed keys, nothing received yet); `sender` is
// its mirror image, which seals messages it accepts.
SecureChannel fixedChannel(bool sender);

} // namespace tessaly::fuzz
