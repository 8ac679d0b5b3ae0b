#include <gtest/gtest.h>

#include "files/FileBrowser.h"
#include "files/TransferRig.h"

using namespace tessaly;
using namespace tessaly::test;
using Found = FileBrowser::Found;

namespace {

const Device kWifiPhone { "192.168.1.5:5555", "device", "Pixel_7", Device::Connection::wifi };

std::vector<std::string> shownNames(const FileBrowser& browser)
{
    std::vector<std::string> names;
    for (const PhoneFile& file : browser.files())
        names.push_back(file.name);
    return names;
}

} // namespace

TEST(FileBrowserTest, ReloadShowsTheFolderOrTheNoticeThatExplainsWhy)
{
    struct Case {
        std::optional<Found> found;
        std::optional<StandInTool::Answer> lsAnswer; // none: the stand-in phone answers
        std::vector<std::string> names;
        std::string notice;
        std::string linkLine;
    };
    const std::string empty = "This folder is empty.\nDrag files here to copy them to your phone.";
    const Device unauthorized { "R58M12ABCDE", "unauthorized", std::nullopt, Device::Connection::usb };
    const std::vector<Case> cases = {
        { std::nullopt, std::nullopt, { "Notes", "b.txt" }, "", "USB cable" },
        { Found {}, std::nullopt, {}, "adb is missing.\nInstall it with: sudo apt install adb", "" },
        { Found { ADB {}, { unauthorized }, std::nullopt }, std::nullopt, {},
            "Unlock your phone and tap “Allow”,\nthen click the reload button (Ctrl+R)", "" },
        { Found { ADB {}, {}, std::nullopt }, std::nullopt, {},
            "Phone not found.\nPlug in the USB cable (or connect wirelessly from the Tessaly menu), "
            "then click the reload button (Ctrl+R)",
            "" },
        { std::nullopt,
            StandInTool::Answer {
                .out = "000041f9 0 0 .\n000041f9 0 0 ..\n000081a4 0 0 .hidden\n0000a1ff 0 0 link\n" },
            {}, empty, "USB cable" },
        { std::nullopt, StandInTool::Answer {}, {},
            "Nothing to show here.\nThis folder is empty, or it isn’t on your phone.", "USB cable" },
        { std::nullopt,
            StandInTool::Answer {
                .err = "adb: error: failed to get feature set\nerror: closed\n\n", .exitCode = 1 },
            {}, "Couldn’t read this folder.\nerror: closed", "USB cable" },
    };
    for (const Case& c : cases) {
        BrowserRig rig;
        writeFile(rig.phone + "/Download/b.txt", "b");
        writeFile(rig.phone + "/Download/.thumbnails/x", "");
        std::filesystem::create_directories(rig.phone + "/Download/Notes");
        rig.found = c.found;
        if (c.found && c.found->adb)
            rig.found->adb = rig.tool;
        if (c.lsAnswer)
            rig.adb.on({ "-s", kUsbPhone.serial, "ls", "/sdcard/Download" }, *c.lsAnswer);
        ASSERT_TRUE(rig.reload());
        auto names = shownNames(rig.browser);
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, c.names) << c.notice;
        EXPECT_EQ(rig.browser.notice().value_or(""), c.notice);
        EXPECT_EQ(rig.browser.linkLine(), c.linkLine);
        EXPECT_FALSE(rig.browser.isLoading());
    }
    BrowserRig rig;
    rig.found = Found { rig.tool, { kWifiPhone }, kWifiPhone };
    ASSERT_TRUE(rig.reload());
    EXPECT_EQ(rig.browser.linkLine(), "Wi-Fi – slower; use the cable for big files");
}

TEST(FileBrowserTest, OnlyTheNewestReloadPublishesAndTheSelectionFollowsTheNames)
{
    BrowserRig rig;
    for (const std::string name : { "a", "b" })
        writeFile(rig.phone + "/Download/" + name, "");
    ASSERT_TRUE(rig.reload());
    rig.browser.setSelectedNames({ "a", "b" });
    std::filesystem::remove(rig.phone + "/Download/a");
    writeFile(rig.phone + "/Download/c", "");
    rig.findDelay = 0.4;
    rig.browser.reload();
    rig.findDelay = 0;
    writeFile(rig.phone + "/Download/d", "");
    ASSERT_TRUE(rig.reload());
    EXPECT_EQ(rig.browser.selectedNames(), (std::set<std::string> { "b" }));
    std::filesystem::remove(rig.phone + "/Download/d");
    QTest::qWait(600);
    EXPECT_EQ(shownNames(rig.browser).size(), 3u) << "the older, slower reload must not publish";
}

TEST(FileBrowserTest, NavigationRefusesUnsafeFoldersAndClearsTheSelection)
{
    BrowserRig rig;
    writeFile(rig.phone + "/DCIM/Camera/a.jpg", "");
    rig.browser.open({ { "DCIM", "Camera" } });
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.browser.files().size() == 1; }));
    rig.browser.setSelectedNames({ "a.jpg" });
    for (const PhoneFolder& refused : { PhoneFolder { { "DCIM", ".." } }, PhoneFolder { { "" } } })
        rig.browser.open(refused);
    EXPECT_EQ(rig.browser.folder(), (PhoneFolder { { "DCIM", "Camera" } }));
    rig.browser.goUp();
    EXPECT_EQ(rig.browser.folder(), (PhoneFolder { { "DCIM" } }));
    EXPECT_TRUE(rig.browser.selectedNames().empty());
    rig.browser.goUp();
    rig.browser.goUp();
    EXPECT_EQ(rig.browser.folder(), PhoneFolder {});
}

TEST(FileBrowserTest, DropsAndSavesCopyAndReportTheResult)
{
    BrowserRig rig;
    ASSERT_TRUE(rig.reload());
    rig.browser.send({ rig.local("report.pdf", "pdf"), QUrl(QStringLiteral("https://example.com/x.pdf")) });
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.browser.resultLine() == "✓ Copied 1 item"; }));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return shownNames(rig.browser) == std::vector<std::string> { "report.pdf" }; }));
    EXPECT_EQ(readFile(rig.phone + "/Download/report.pdf"), "pdf");

    rig.browser.setSelectedNames({ "report.pdf" });
    rig.browser.saveSelectionToDownloads();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig.revealed.empty(); }));
    EXPECT_EQ(rig.revealed.front(), std::vector<std::string> { rig.computer + "/report (2).pdf" });
    EXPECT_EQ(rig.browser.failureDetails(), std::nullopt);
}

TEST(FileBrowserTest, ResultTexts)
{
    using Summary = FileTransfers::Summary;
    const std::vector<std::pair<Summary, std::string>> cases = {
        { { 1, {}, false, false }, "✓ Copied 1 item" },
        { { 0, {}, false, false }, "✓ Copied 0 items" },
        { { 0, { "a: x", "b: y", "c: z" } }, "⚠️ 3 items couldn’t be copied" },
        { { 0, { "a.txt: it is no longer there" } }, "⚠️ a.txt: it is no longer there" },
        { { 2, { "a: x" } }, "Copied 2 items, but 1 couldn’t be copied" },
        { { 1, {}, true }, "Stopped. 1 item copied before that." },
        { { 0, { "a: x" }, true }, "Stopped. Nothing was copied." },
    };
    for (const auto& [summary, text] : cases)
        EXPECT_EQ(FileBrowser::resultText(summary), text);
}
