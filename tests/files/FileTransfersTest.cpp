#include <QTimer>

#include <gtest/gtest.h>

#include "files/TransferRig.h"
#include "files/TransferRules.h"
#include "tools/Validation.h"

using namespace tessaly;
using namespace tessaly::test;
using Summary = FileTransfers::Summary;

TEST(FileTransfersTest, SendingNeverOverwritesOnThePhone)
{
    TransferRig rig;
    writeFile(rig.phone + "/Download/photo.jpg", "already there");
    writeFile(rig.phone + "/Download/.nomedia", "");
    rig.transfers.send({ rig.local("a/photo.jpg", "first"), rig.local("b/Photo.jpg", "second"),
                           rig.local("album/one.txt", "1"), rig.local("c/.nomedia", "mine") },
        { { "Download" } }, rig.tool, rig.serial);
    rig.transfers.send({ QUrl::fromLocalFile(QString::fromStdString(rig.computer + "/album")) },
        { { "Download" } }, rig.tool, rig.serial);
    ASSERT_TRUE(rig.waitForSummaries(1));
    EXPECT_EQ(rig.summaries, (std::vector<Summary> { { 5, {}, false, true } }));
    const std::string into = rig.phone + "/Download/";
    EXPECT_EQ(namesIn(into),
        (std::vector<std::string> {
            ".nomedia", ".nomedia (2)", "Photo (3).jpg", "album", "one.txt", "photo (2).jpg", "photo.jpg" }));
    EXPECT_EQ(readFile(into + "photo.jpg"), "already there");
    EXPECT_EQ(readFile(into + "photo (2).jpg"), "first");
    EXPECT_EQ(readFile(into + "Photo (3).jpg"), "second");
    EXPECT_EQ(readFile(into + "album/one.txt"), "1");
    EXPECT_TRUE(std::any_of(rig.activity.begin(), rig.activity.end(), [](const std::string& line) {
        return line.starts_with("Copying to your phone: Photo.jpg (2 of 4)");
    }));
}

TEST(FileTransfersTest, SavingPicksFreeNamesOnThisComputer)
{
    TransferRig rig;
    writeFile(rig.phone + "/DCIM/Camera/IMG_1.jpg", "new photo");
    writeFile(rig.phone + "/DCIM/Camera/clip/part.mp4", "video");
    writeFile(rig.computer + "/img_1.jpg", "mine");
    writeFile(rig.computer + "/clip", "");
    std::vector<std::string> saved;
    rig.transfers.save({ { "IMG_1.jpg", "/sdcard/DCIM/Camera/IMG_1.jpg", false, 9 },
                           { "clip", "/sdcard/DCIM/Camera/clip", true, 4096 },
                           { "gone.jpg", "/sdcard/DCIM/Camera/gone.jpg", false, 1 } },
        rig.computer, rig.tool, rig.serial,
        [&](std::vector<std::string> paths) { saved = std::move(paths); });
    ASSERT_TRUE(rig.waitForSummaries(1));
    EXPECT_EQ(rig.summaries.front(), (Summary { 2, { "gone.jpg: it is no longer there" }, false, false }));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !saved.empty(); }));
    EXPECT_EQ(
        saved, (std::vector<std::string> { rig.computer + "/IMG_1 (2).jpg", rig.computer + "/clip (2)" }));
    EXPECT_EQ(readFile(rig.computer + "/img_1.jpg"), "mine");
    EXPECT_EQ(readFile(rig.computer + "/IMG_1 (2).jpg"), "new photo");
    EXPECT_EQ(readFile(rig.computer + "/clip (2)/part.mp4"), "video");
    EXPECT_EQ(namesIn(rig.computer),
        (std::vector<std::string> { "IMG_1 (2).jpg", "clip", "clip (2)", "img_1.jpg" }));
}

// A promise names the exact place: an empty placeholder there is filled, anything else is kept.
TEST(FileTransfersTest, PromisedCopyFillsOnlyAnEmptyPlaceholder)
{
    TransferRig rig;
    writeFile(rig.phone + "/Download/a.pdf", "pdf");
    const PhoneItem item { "a.pdf", "/sdcard/Download/a.pdf", false, 3 };
    writeFile(rig.computer + "/taken.pdf", "keep");
    writeFile(rig.computer + "/placeholder.pdf", "");
    std::vector<std::optional<FileTransfers::Failure>> answers;
    for (const std::string name : { "/taken.pdf", "/placeholder.pdf" })
        rig.transfers.promise(item, rig.computer + name, rig.tool, rig.serial,
            [&](const std::optional<FileTransfers::Failure>& failure) { answers.push_back(failure); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return answers.size() == 2; }));
    EXPECT_EQ(
        answers.front(), (FileTransfers::Failure { "a.pdf: something with that name is already there" }));
    EXPECT_EQ(answers.back(), std::nullopt);
    EXPECT_EQ(readFile(rig.computer + "/taken.pdf"), "keep");
    EXPECT_EQ(readFile(rig.computer + "/placeholder.pdf"), "pdf");
}

TEST(FileTransfersTest, StopDuringTheThirdOfFiveEndsTheBatchAndLeavesNoPartialFile)
{
    TransferRig rig;
    rig.adb.playPhone(rig.phone, { .bytesPerSecond = 400000 });
    std::vector<PhoneItem> items;
    for (int i = 1; i <= 5; ++i) {
        const std::string name = "song" + std::to_string(i) + ".mp3";
        writeFile(rig.phone + "/Music/" + name, std::string(100000, char('0' + i)));
        items.push_back({ name, "/sdcard/Music/" + name, false, 100000 });
    }
    rig.transfers.onActivity = [&](const std::string& line) {
        rig.activity.push_back(line);
        if (line.find("(3 of 5)") != std::string::npos)
            QTimer::singleShot(100, [&] { rig.transfers.cancel(); });
    };
    rig.transfers.save(items, rig.computer, rig.tool, rig.serial);
    rig.transfers.send({ rig.local("queued.txt", "q") }, { { "Download" } }, rig.tool, rig.serial);
    ASSERT_TRUE(rig.waitForSummaries(1));
    EXPECT_EQ(rig.summaries.front(), (Summary { 2, {}, true, true }));
    EXPECT_EQ(namesIn(rig.computer), (std::vector<std::string> { "queued.txt", "song1.mp3", "song2.mp3" }));
    EXPECT_FALSE(std::filesystem::exists(rig.phone + "/Download/queued.txt"));
    EXPECT_EQ(rig.activity.back(), "Copying to your computer: song3.mp3 (3 of 5) · 1 more waiting");
    // The stop lasted only for that batch.
    rig.adb.playPhone(rig.phone);
    rig.transfers.send({ rig.local("queued.txt", "q") }, { { "Download" } }, rig.tool, rig.serial);
    ASSERT_TRUE(rig.waitForSummaries(2));
    EXPECT_EQ(rig.summaries.back(), (Summary { 1, {}, false, true }));
    EXPECT_EQ(rig.summaries.size(), 2u);
}

TEST(FileTransfersTest, APhoneThatGoesAwayMidCopyFailsTheRestAndLeavesNoPartialFile)
{
    TransferRig rig;
    rig.adb.playPhone(rig.phone, { .vanishAfterBytes = 50000 });
    std::vector<PhoneItem> items;
    for (const auto& [name, size] : std::vector<std::pair<std::string, int>> {
             { "a.bin", 1000 }, { "b.bin", 100000 }, { "c.bin", 10 } }) {
        writeFile(rig.phone + "/Download/" + name, std::string(size, 'x'));
        items.push_back({ name, "/sdcard/Download/" + name, false, size });
    }
    rig.transfers.save(items, rig.computer, rig.tool, rig.serial);
    ASSERT_TRUE(rig.waitForSummaries(1));
    EXPECT_EQ(rig.summaries.front(),
        (Summary {
            1, { "b.bin: the phone was disconnected", "c.bin: the phone was disconnected" }, false, false }));
    EXPECT_EQ(namesIn(rig.computer), (std::vector<std::string> { "a.bin" }));
    rig.transfers.send({ rig.local("d.bin", "d") }, { { "Download" } }, rig.tool, rig.serial);
    ASSERT_TRUE(rig.waitForSummaries(2));
    EXPECT_EQ(rig.summaries.back(),
        (Summary { 0, { "Download: couldn't look inside that folder on the phone, so nothing was copied" },
            false, true }));
}

TEST(FileTransfersTest, UnusableItemsAreRefusedAndNothingIsCopied)
{
    TransferRig rig;
    rig.transfers.send({ rig.local("line\nfeed.txt", "x"),
                           QUrl::fromLocalFile(QString::fromStdString(rig.computer + "/missing.txt")) },
        { { "Download" } }, rig.tool, rig.serial);
    rig.transfers.save({ { "x", "/sdcard", true, 0 }, { "y", "/sdcard/../etc/passwd", false, 1 } },
        rig.computer, rig.tool, rig.serial);
    rig.transfers.send({ rig.local("ok.txt", "x") }, { { "Download" } }, rig.tool, "-bad");
    // A listing longer than the runner keeps may miss taken names: nothing is sent there.
    rig.adb.on({ "-s", rig.serial, "ls", "/sdcard/Huge" },
        { .chunks = { { .text = "000081a4 00000001 5f000000 IMG_0001.jpg\n", .repeat = 250000 } } });
    rig.transfers.send({ rig.local("IMG_0001.jpg", "x") }, { { "Huge" } }, rig.tool, rig.serial);
    ASSERT_TRUE(rig.waitForSummaries(1));
    EXPECT_EQ(rig.summaries.front(),
        (Summary { 0,
            { "line\nfeed.txt: its name has characters the phone can't use",
                "missing.txt: it can't be read on this computer",
                "x: Refused: that is not a file in the phone's shared storage.",
                "y: Refused: that is not a file in the phone's shared storage.",
                "Download: couldn't look inside that folder on the phone, so nothing was copied",
                "Huge: couldn't look inside that folder on the phone, so nothing was copied" },
            false, true }));
    for (const auto& call : rig.adb.calls())
        EXPECT_NE(call.at(2), "push");
}

// The last entry of a listing may end in a space of any kind, and the space is part of its name.
TEST(FileTransfersTest, ANameThatEndsInASpaceIsNeverOverwritten)
{
    for (const std::string name : { "notes ", "memo\u00A0", "plan\u3000" }) {
        TransferRig rig;
        writeFile(rig.phone + "/Download/" + name, "phone's");
        const FolderListing listing = rig.tool.listBlocking({ { "Download" } }, rig.serial);
        ASSERT_TRUE(listing.files() && listing.files()->files.size() == 1);
        EXPECT_EQ(listing.files()->files.front().name, name);
        rig.transfers.send({ rig.local(name, "mine") }, { { "Download" } }, rig.tool, rig.serial);
        ASSERT_TRUE(rig.waitForSummaries(1));
        EXPECT_EQ(readFile(rig.phone + "/Download/" + name), "phone's");
        EXPECT_EQ(readFile(rig.phone + "/Download/" + name + " (2)"), "mine");
    }
}

// A copy carries its name only once complete; a quit waits for the clean-up, and a partial file
// left by a crash takes no name.
TEST(FileTransfersTest, APullIsNamedOnlyWhenCompleteAndAQuitLeavesNothing)
{
    TransferRig rig;
    writeFile(rig.phone + "/Download/a.jpg", "photo");
    writeFile(rig.computer + "/.a.jpg.tessaly-partial", "left by a crash");
    rig.transfers.save(
        { { "a.jpg", "/sdcard/Download/a.jpg", false, 5 } }, rig.computer, rig.tool, rig.serial);
    ASSERT_TRUE(rig.waitForSummaries(1));
    EXPECT_EQ(namesIn(rig.computer), std::vector<std::string> { "a.jpg" });
    EXPECT_EQ(readFile(rig.computer + "/a.jpg"), "photo");

    rig.adb.playPhone(rig.phone, { .bytesPerSecond = 20000 });
    writeFile(rig.phone + "/Download/big.bin", std::string(200000, 'b'));
    rig.transfers.save(
        { { "big.bin", "/sdcard/Download/big.bin", false, 200000 } }, rig.computer, rig.tool, rig.serial);
    const std::string partial = rig.computer + "/.big.bin.tessaly-partial";
    ASSERT_TRUE(QTest::qWaitFor([&] { return readFile(partial).size() > 0; }));
    EXPECT_FALSE(std::filesystem::exists(rig.computer + "/big.bin"));
    rig.transfers.stopAndWait();
    EXPECT_EQ(namesIn(rig.computer), std::vector<std::string> { "a.jpg" });
}

TEST(FileTransfersTest, StopWhileCheckingThePhoneFolderEndsTheListingAtOnce)
{
    TransferRig rig;
    rig.adb.on({ "-s", rig.serial, "ls", "/sdcard/Download" }, { .delay = 30 });
    rig.transfers.onActivity = [&](const std::string& line) {
        if (line.starts_with("Checking"))
            QTimer::singleShot(300, [&] { rig.transfers.cancel(); });
    };
    rig.transfers.send({ rig.local("a.txt", "a") }, { { "Download" } }, rig.tool, rig.serial);
    ASSERT_TRUE(rig.waitForSummaries(1, 3000));
    EXPECT_EQ(rig.summaries.front(), (Summary { 0, {}, true, true }));
}

TEST(FileTransfersTest, ReasonsFromRealisticAdbOutput)
{
    const std::vector<std::pair<ProcessResult, std::string>> cases = {
        { { 1, "", "", true }, "it took too long and was stopped" },
        { { 1, "",
              "adb: error: failed to copy 'a' to '/sdcard/a': remote write failed: No space left on device" },
            "there isn't enough free space" },
        { { 1, "",
              "adb: error: failed to copy 'a' to '/sdcard/Android/data/a': remote couldn't create file: "
              "Permission denied" },
            "the phone doesn't allow using that folder" },
        { { 1, "", "adb: error: cannot create '/home/u/Downloads/a': Operation not permitted" },
            "the system blocked that folder (check its permissions)" },
        { { 1, "", "adb: error: cannot create '/home/u/Downloads/a': Permission denied" },
            "that folder can't be used" },
        { { 1, "", "adb: error: no devices/emulators found" }, "the phone was disconnected" },
        { { 1, "", "adb: device 'R58M' not found" }, "the phone was disconnected" },
        { { 1, "", "adb: error: device offline" }, "the phone was disconnected" },
        { { 1, "", "adb: error: failed to read copy response: connection closed" },
            "the phone was disconnected" },
        { { 1, "", "adb: error: cannot stat '/home/u/a.txt': No such file or directory" },
            "it is no longer there" },
        { { 1, "", "adb: error: failed to stat remote object '/sdcard/a': does not exist" },
            "it is no longer there" },
        { { 1, "", "" }, "adb gave no reason" },
        { { 1, "[ 50%] /sdcard/a", "adb: error: Remote Protocol Error\n\n" }, "Remote Protocol Error" },
    };
    for (const auto& [result, reason] : cases)
        EXPECT_EQ(TransferRules::reason(result), reason) << result.stdErr;
}

TEST(FileTransfersTest, RulesForNamesCountersAndTimeLimits)
{
    std::set<std::string> taken { "photo.jpg", "photo (2).jpg", ".profile", "archive.tar.gz", "ärger.txt" };
    const std::vector<std::pair<std::string, std::string>> names = { { "Photo.JPG", "Photo (3).JPG" },
        { "notes", "notes" }, { ".profile", ".profile (2)" }, { "archive.tar.gz", "archive.tar (2).gz" },
        { "ÄRGER.txt", "ÄRGER (2).txt" }, { "notes", "notes (2)" } };
    for (const auto& [name, chosen] : names)
        EXPECT_EQ(TransferRules::freeName(name, taken), chosen);
    const std::string longName = std::string(236, 'x') + "€.jpg";
    for (const std::string& name : { std::string("a.jpg"), longName }) {
        const std::string partial = TransferRules::partialName(name);
        EXPECT_TRUE(partial.size() <= 255 && Validation::isSafeFileName(partial)) << partial;
        EXPECT_TRUE(TransferRules::isPartialName(partial));
    }
    EXPECT_EQ(TransferRules::partialName("a.jpg"), ".a.jpg.tessaly-partial");
    EXPECT_FALSE(TransferRules::isPartialName("a.tessaly-partial"));
    EXPECT_EQ(TransferRules::counter(0, 1), "");
    EXPECT_EQ(TransferRules::counter(1, 3), " (2 of 3)");
    for (const auto& [size, limit] : std::vector<std::pair<std::optional<std::int64_t>, double>> { { 0, 120 },
             { 150000, 121.5 }, { 10000000, 220 }, { 2000000000, 14400 }, { std::nullopt, 7200 } })
        EXPECT_DOUBLE_EQ(TransferRules::timeLimit(size), limit);
}
