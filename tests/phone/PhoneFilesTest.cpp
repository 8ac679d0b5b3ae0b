#include <filesystem>
#include <fstream>

#include <QCoroTask>

#include <gtest/gtest.h>

#include "phone/ADB.h"
#include "support/StandInTool.h"

using namespace tessaly;
using tessaly::test::StandInTool;
using Kind = PhoneFile::Kind;

TEST(PhoneFilesTest, ParseListingKeepsUsableEntriesInOrderAndSkipsTheRest)
{
    struct Case {
        std::string output;
        std::vector<PhoneFile> files;
        bool folderSeen;
    };
    const std::vector<Case> cases = {
        { "000041f9 00000000 00000000 .\n000041f9 00000000 00000000 ..\n", {}, true },
        { "", {}, false },
        { "\n\n", {}, false },
        { "000081a4 00000010 5f000000 my file.txt\n", { { "my file.txt", Kind::file, 16, 0x5f000000 } },
            false },
        { "0000A1FF 00000000 00000000 link\n000041f9 00001000 65a3c2b1 DCIM",
            { { "link", Kind::other, 0, 0 }, { "DCIM", Kind::folder, 4096, 0x65a3c2b1 } }, false },
        { "000081a4 ffffffffffffffff 0 huge\n",
            { { "huge", Kind::file, std::numeric_limits<std::int64_t>::max(), 0 } }, false },
        // Two spaces give an empty name field; leading blanks belong to the name.
        { "000081a4 1 1  spaced\n", { { " spaced", Kind::file, 1, 1 } }, false },
        // Unreadable numbers, missing fields, a mode wider than 32 bits, a truncated last line.
        { "zz 0 0 x\n000081a4 00000010 5f000000\n100000000 0 0 wide\n0 g 0 x\n000081a4  0 x\n000081a4 00", {},
            false },
        // Names the phone's paths cannot carry: slash, "..", control characters, DEL, invalid UTF-8,
        // and a carriage return left from a line ending.
        { "000081a4 1 1 a/b\n000081a4 1 1 ..\n000081a4 1 1 tab\there\n000081a4 1 1 del\x7f\n"
          "000081a4 1 1 bad\xff\xfe\n000081a4 1 1 lossy\xEF\xBF\xBD\n000081a4 1 1 cr\r\n000081a4 1 1 ok\n",
            { { "ok", Kind::file, 1, 1 } }, true },
    };
    for (const Case& c : cases) {
        const FolderListing::Files parsed = PhoneFiles::parseListing(c.output);
        EXPECT_EQ(parsed.files, c.files) << c.output;
        EXPECT_EQ(parsed.folderSeen, c.folderSeen) << c.output;
    }
}

TEST(PhoneFilesTest, ParseListingReadsAnEightMebibyteAnswer)
{
    std::string output;
    for (int i = 0; output.size() < 8u * 1024 * 1024; ++i)
        output += "000081a4 00000400 65a3c2b1 IMG_" + std::to_string(i) + ".jpg\n";
    const auto parsed = PhoneFiles::parseListing(output);
    ASSERT_GT(parsed.files.size(), 200000u);
    EXPECT_EQ(parsed.files.back().name, "IMG_" + std::to_string(parsed.files.size() - 1) + ".jpg");
}

TEST(PhoneFilesTest, ListRunsOneLsOrRefusesWithoutRunningAnything)
{
    StandInTool tool("adb");
    const ADB adb { tool.path() };
    // A name that is not UTF-8 passes the runner as U+FFFD and is skipped all the same.
    tool.on({ "-s", "R58M", "ls", "/sdcard/DCIM/Camera" },
        { .out = "000081a4 3 5 a.jpg\n000081a4 3 5 b\xff.jpg\n" });
    tool.on({ "-s", "R58M", "ls", "/sdcard" }, { .err = "adb: device 'R58M' not found\n\n", .exitCode = 1 });
    EXPECT_EQ(adb.listBlocking({ { "DCIM", "Camera" } }, "R58M"),
        (FolderListing { FolderListing::Files { { { "a.jpg", Kind::file, 3, 5 } }, false } }));
    EXPECT_EQ(QCoro::waitFor(adb.list({}, "R58M")),
        (FolderListing { FolderListing::Failed { "adb: device 'R58M' not found" } }));
    tool.clearCalls();
    const FolderListing refused { FolderListing::Failed { std::string(PhoneFiles::kRefusedFolder) } };
    for (const auto& [folder, serial] :
        std::vector<std::pair<PhoneFolder, std::string>> { { { { "DCIM", ".." } }, "R58M" },
            { { { "" } }, "R58M" }, { { { "a\nb" } }, "R58M" }, { {}, "-R58M" }, { {}, "" } }) {
        EXPECT_EQ(adb.listBlocking(folder, serial), refused);
        EXPECT_EQ(QCoro::waitFor(adb.list(folder, serial)), refused);
    }
    EXPECT_TRUE(tool.calls().empty());
}
