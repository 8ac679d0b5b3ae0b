#include <gtest/gtest.h>

#include "quickshare/LocalPeer.h"
#include "quickshare/QuickShareConnection.h"
#include "quickshare/QuickShareStore.h"

namespace tessaly {
namespace {

TEST(QuickShareStore_CleanFileName, KeepsNamesInsideTheFolderAndReadable)
{
    const std::string a300(300, 'a'), x25 = "." + std::string(24, 'x'), e180 = std::string(180, 'e');
    const std::vector<std::pair<std::string, std::string>> cases = {
        { "C:\\Users\\a.txt", "a.txt" },
        { ".hidden", "hidden" },
        { "...", "file" },
        { "\x01\x7f", "file" },
        { "dir/", "dir" },
        { "\u202Egnp.exe", "gnp.exe" },
        { " \u00A0\n.x y.txt\t", "x y.txt" },
        { a300 + ".jpeg", std::string(195, 'a') + ".jpeg" },
        { a300 + x25, (a300 + x25).substr(0, 200) },
        // Whole characters only: eight two-byte letters fill the 200 bytes.
        { e180 + "ééééééééé.txt", e180 + "éééééééé.txt" },
    };
    for (const auto& [offered, saved] : cases)
        EXPECT_EQ(QuickShareStore::cleanFileName(offered), saved) << offered;
}

TEST(QuickShareInbound_CleanLabel, ShowsAtMostSixtyVisibleCharacters)
{
    EXPECT_EQ(QuickShareInbound::cleanLabel(std::string(70, 'n'), ""), std::string(60, 'n'));
    EXPECT_EQ(QuickShareInbound::cleanLabel("Bo\nb\u2066", "x"), "Bo b");
    EXPECT_EQ(QuickShareInbound::cleanLabel(" \u200B ", "A nearby device"), "A nearby device");
}

TEST(LocalPeer_IsLocal, AdmitsPrivateLinkLocalLoopbackAndOwnIPv6Networks)
{
    const std::set<LocalPeer::Prefix> own { { 0x2a, 0x01, 0x0d, 0xb8, 0x12, 0x34, 0x56, 0x78 } };
    const std::vector<std::pair<const char*, bool>> cases = {
        { "10.1.2.3", true },
        { "127.0.0.1", true },
        { "172.15.255.255", false },
        { "172.16.0.1", true },
        { "172.31.255.255", true },
        { "172.32.0.1", false },
        { "169.254.1.1", true },
        { "169.253.1.1", false },
        { "192.168.1.5", true },
        { "100.64.0.1", false },
        { "::ffff:192.168.1.5", true },
        { "::ffff:8.8.8.8", false },
        { "::1", true },
        { "::2", false },
        { "fe80::1", true },
        { "fec0::1", false },
        { "fd12::1", true },
        { "2a01:db8:1234:5678::9", true },
        { "2a01:db8:1234:5679::9", false },
        { "", false },
    };
    for (const auto& [address, local] : cases)
        EXPECT_EQ(LocalPeer::isLocal(QHostAddress(QString::fromLatin1(address)), own), local) << address;
}

} // namespace
} // namespace tessaly
