// Writes the seed corpora: the protocol's worked encodings and a few messages of each kind.
// Built and run by `fuzz/run seeds`; the files it writes are committed.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>

#include "FuzzTargets.h"
#include "quickshare/QuickShareCrypto.h"
#include "quickshare/QuickShareMessages.h"
#include "support/Ukey2Client.h"

using namespace tessaly;

namespace {

ByteView text(std::string_view s)
{
    return { reinterpret_cast<const std::uint8_t*>(s.data()), s.size() };
}

using Seeds = std::map<std::string, Bytes>;

Seeds offlineSeeds()
{
    using F = OfflineFrame;
    const Bytes info = EndpointInfo { "Pixel 8", EndpointInfo::Kind::phone }.encoded();
    return {
        { "keep-alive", F { F::KeepAlive { true } }.encoded() },
        { "disconnection", F { F::Disconnection {} }.encoded() },
        { "connection-response", F { F::ConnectionResponse { true } }.encoded() },
        { "connection-request", F { F::ConnectionRequest { "R2D2", info } }.encoded() },
        { "payload",
            F { F::PayloadPiece { 1, F::PayloadPiece::Kind::bytes, 3, 0, false, { 'a', 'b', 'c' } } }
                .encoded() },
        { "payload-last",
            F { F::PayloadPiece { -9, F::PayloadPiece::Kind::file, 3, 3, true, {} } }.encoded() },
        { "payload-stopped", F { F::PayloadStopped { 7 } }.encoded() },
        { "other", F { F::Other {} }.encoded() },
    };
}

Seeds sharingSeeds()
{
    using S = SharingFrame;
    S::Introduction files;
    files.files = { { "photo.jpg", 11, 2048, "image/jpeg" }, { "notes.txt", -12, 5, "text/plain" } };
    S::Introduction link;
    link.texts = { { "https://example.org", S::TextOffer::Kind::link, 99, 19 } };
    return {
        { "cancel", S { S::Cancel {} }.encoded() },
        { "response-accept", S { S::Response { S::Answer::accept } }.encoded() },
        { "introduction-files", S { files }.encoded() },
        { "introduction-link", S { link }.encoded() },
        { "paired-key-encryption", S { S::PairedKeyEncryption {} }.encoded() },
        { "paired-key-result", S { S::PairedKeyResult {} }.encoded() },
        // An introduction offering only something else (field 7).
        { "introduction-other", { 0x08, 0x01, 0x12, 0x06, 0x08, 0x01, 0x12, 0x02, 0x3A, 0x00 } },
    };
}

Seeds endpointSeeds()
{
    Bytes noName(17, 0);
    noName[0] = 0x12;
    return {
        { "phone", EndpointInfo { "Pixel 8", EndpointInfo::Kind::phone }.encoded() },
        { "tablet-utf8", EndpointInfo { "Tablette de Zoé", EndpointInfo::Kind::tablet }.encoded() },
        { "no-name", noName },
    };
}

Seeds ukey2Seeds()
{
    const test::Ukey2Client client;
    return {
        { "client-init", client.clientInit() },
        { "client-finish", client.clientFinish() },
        { "alert-bad-version", Ukey2::alert(Ukey2::Alert::badVersion) },
        { "server-init", Ukey2::serverInit(Bytes(32, 7), QuickShareHandshake().publicKeyMessage()) },
    };
}

Seeds channelSeeds()
{
    Seeds seeds;
    const std::vector<std::pair<std::string, Bytes>> messages = {
        { "empty", {} },
        { "text", Bytes(text("hello").begin(), text("hello").end()) },
        { "keep-alive", OfflineFrame { OfflineFrame::KeepAlive { false } }.encoded() },
        { "kilobyte", Bytes(1024, 0x5A) },
    };
    for (const auto& [name, message] : messages) {
        SecureChannel sender = fuzz::fixedChannel(true);
        seeds[name] = sender.seal(message);
    }
    return seeds;
}

// A first byte of 0 signs the rest as header and body; 1 encrypts it as the plaintext, then signs.
Seeds signedChannelSeeds()
{
    Seeds seeds;
    for (const auto& [name, sealed] : channelSeeds()) {
        Bytes headerAndBody = *ProtoMessage(sealed).bytes(1);
        headerAndBody.insert(headerAndBody.begin(), 0x00);
        seeds["sealed-" + name] = headerAndBody;
    }
    seeds["plain-text"] = { 0x01 };
    const Bytes sequenced = ProtoWriter().bytes(1, text("hello")).number(2, 1).data();
    seeds["plain-text"].insert(seeds["plain-text"].end(), sequenced.begin(), sequenced.end());
    seeds["plain-not-a-message"] = { 0x01, 0x0B };
    return seeds;
}

Seeds finishSeeds()
{
    test::Ukey2Client client;
    Seeds seeds { { "client-finish", client.clientFinish() } };
    client.usePublicKeyMessage(std::nullopt);
    seeds["no-key"] = client.clientFinish();
    client.usePublicKeyMessage(
        ProtoWriter().number(1, 1).message(2, ProtoWriter().bytes(1, {}).bytes(2, {})).data());
    seeds["zero-point"] = client.clientFinish();
    return seeds;
}

Seeds protoSeeds()
{
    Seeds seeds;
    for (const auto& group : { offlineSeeds(), sharingSeeds(), ukey2Seeds() })
        for (const auto& [name, bytes] : group)
            seeds[name] = bytes;
    seeds["fixed-width"] = { 0x09, 1, 2, 3, 4, 5, 6, 7, 8, 0x15, 1, 2, 3, 4, 0x10, 0x01 };
    seeds["ten-byte-varint"] = { 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01 };
    seeds["repeated"] = { 0x0A, 0x02, 0x08, 0x01, 0x0A, 0x02, 0x10, 0x02, 0x08, 0x03, 0x12, 0x00 };
    return seeds;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: MakeSeeds <corpus folder>\n";
        return 2;
    }
    const std::map<std::string, Seeds> corpora = {
        { "protoMessage", protoSeeds() },
        { "offlineFrame", offlineSeeds() },
        { "sharingFrame", sharingSeeds() },
        { "endpointInfo", endpointSeeds() },
        { "ukey2Open", ukey2Seeds() },
        { "secureChannelOpen", channelSeeds() },
        { "secureChannelSigned", signedChannelSeeds() },
        { "ukey2Finish", finishSeeds() },
    };
    for (const auto& [target, seeds] : corpora) {
        const auto folder = std::filesystem::path(argv[1]) / target;
        std::filesystem::create_directories(folder);
        for (const auto& [name, bytes] : seeds) {
            std::ofstream out(folder / ("seed-" + name), std::ios::binary | std::ios::trunc);
            out.write(
                reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        }
    }
    return 0;
}
