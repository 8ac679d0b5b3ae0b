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
        { "\x01.\x7f", "file" },
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
    EXPECT_EQ(QuickShareInbound::cleanLabel(" \u200B\u061C\u180E\u2060\u2064\u00AD\U000E0041 ", "A"), "A");
    // Cut between characters as the reader sees them, never inside one.
    const std::string accented = "e\u0301", flag = "\U0001F1E9\U0001F1EA";
    EXPECT_EQ(QuickShareInbound::cleanLabel(std::string(59, 'n') + accented + "x", ""),
        std::string(59, 'n') + accented);
    EXPECT_EQ(
        QuickShareInbound::cleanLabel(std::string(59, 'n') + flag + flag, ""), std::string(59, 'n') + flag);
}

TEST(LocalPeer_IsLocal, AdmitsPrivateLinkLocalLoopbackAndOwnIPv6Networks)
{
    const std::set<LocalPeer::Prefix> own { { 0x2a, 0x01, 0x0d, 0xb8, 0x12, 0x34, 0x56, 0x78 } };
    for (const char* local : { "10.1.2.3", "127.0.0.1", "172.16.0.1", "172.31.255.255", "169.254.1.1",
             "192.168.1.5", "::ffff:192.168.1.5", "::1", "fe80::1", "fd12::1", "2a01:db8:1234:5678::9" })
        EXPECT_TRUE(LocalPeer::isLocal(QHostAddress(QString::fromLatin1(local)), own)) << local;
    for (const char* remote : { "172.15.255.255", "172.32.0.1", "169.253.1.1", "100.64.0.1", "::ffff:8.8.8.8",
             "::2", "fec0::1", "2a01:db8:1234:5679::9", "" })
        EXPECT_FALSE(LocalPeer::isLocal(QHostAddress(QString::fromLatin1(remote)), own)) << remote;
}

} // namespace
} // namespace tessaly
