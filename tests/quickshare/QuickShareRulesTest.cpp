#include <gtest/gtest.h>

#include "quickshare/LocalPeer.h"
#include "quickshare/QuickShareConnection.h"
#include "quickshare/QuickShareStore.h"

namespace tessaly {
namespace {

TEST(QuickShareStore_CleanFileName, KeepsNamesInsideTheFolderAndReadable)
{
    const std::string letters300(300, 'a');
    const std::string ext25 = "." + std::string(24, 'x');
    const std::vector<std::pair<std::string, std::string>> cases = {
        { "../../etc/passwd", "passwd" },
        { "C:\\Users\\a.txt", "a.txt" },
        { ".hidden", "hidden" },
        { "...", "file" },
        { "a:b.txt", "a-b.txt" },
        { "\x01\x02\x7f", "file" },
        { "dir/", "dir" },
        { "\u202Egnp.exe", "gnp.exe" },
        { " \u00A0 \n.x y.txt\t", "x y.txt" },
        { "\xFF.txt", "\uFFFD.txt" },
        { letters300 + ".jpeg", std::string(195, 'a') + ".jpeg" },
        { letters300 + ext25, (letters300 + ext25).substr(0, 200) },
        // Cut whole characters only: eight two-byte letters fill the 200 bytes exactly.
        { std::string(150, 'a') + std::string(30, 'e')
                + "\u00E9\u00E9\u00E9\u00E9\u00E9\u00E9\u00E9\u00E9\u00E9\u00E9\u00E9.txt",
            std::string(150, 'a') + std::string(30, 'e')
                + "\u00E9\u00E9\u00E9\u00E9\u00E9\u00E9\u00E9\u00E9.txt" },
    };
    for (const auto& [offered, saved] : cases)
        EXPECT_EQ(QuickShareStore::cleanFileName(offered), saved) << offered;
}

TEST(QuickShareStore_FreeName, NumbersTakenNamesWithoutRegardToCase)
{
    std::set<std::string> taken { "photo.jpg", "notes" };
    EXPECT_EQ(QuickShareStore::freeName("Photo.JPG", taken), "Photo (2).JPG");
    EXPECT_EQ(QuickShareStore::freeName("photo.jpg", taken), "photo (3).jpg");
    EXPECT_EQ(QuickShareStore::freeName("notes", taken), "notes (2)");
    EXPECT_EQ(QuickShareStore::freeName("x.txt", taken), "x.txt");
    EXPECT_EQ(QuickShareStore::freeName("x.txt", taken), "x (2).txt");
    taken.insert(".env");
    EXPECT_EQ(QuickShareStore::freeName(".env", taken), ".env (2)");
}

TEST(QuickShareInbound_CleanLabel, HidesControlsAndBoundsLength)
{
    const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
        { "\u202EBob\a", "A nearby device", "Bob" },
        { "   ", "A nearby device", "A nearby device" },
        { std::string(70, 'n'), "", std::string(60, 'n') },
        { "Ana\nPhone", "", "Ana Phone" },
        { "\u2066Ana\u2069\u200B", "x", "Ana" },
        { std::string(59, 'n') + " tail", "", std::string(59, 'n') + " " },
    };
    for (const auto& [text, fallback, shown] : cases)
        EXPECT_EQ(QuickShareInbound::cleanLabel(text, fallback), shown) << text;
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
        { "192.169.1.5", false },
        { "100.64.0.1", false },
        { "8.8.8.8", false },
        { "::ffff:192.168.1.5", true },
        { "::ffff:8.8.8.8", false },
        { "::1", true },
        { "::2", false },
        { "fe80::1", true },
        { "febf::1", true },
        { "fec0::1", false },
        { "fd12::1", true },
        { "fc00::1", true },
        { "2a01:db8:1234:5678::9", true },
        { "2a01:db8:1234:5679::9", false },
    };
    for (const auto& [address, local] : cases)
        EXPECT_EQ(LocalPeer::isLocal(QHostAddress(QString::fromLatin1(address)), own), local) << address;
    EXPECT_FALSE(LocalPeer::isLocal(QHostAddress(), own));
    EXPECT_FALSE(LocalPeer::isLocalIPv4(Bytes { 10, 0, 0 }));
    EXPECT_FALSE(LocalPeer::isLocalIPv6(Bytes(15, 0xfd), own));
}

} // namespace
} // namespace tessaly
