#include <csignal>
#include <sys/resource.h>

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "controller/ScreenshotFile.h"
#include "phone/ScreenImage.h"
#include "support/ControllerFakes.h"

namespace tessaly {
namespace {

using test::deviceList;
using test::StandInTool;
using Problem = ScreenImage::Problem;
using Bytes = std::vector<std::uint8_t>;

const std::vector<std::string> kScreencap { "-s", "U1", "exec-out", "screencap", "-p" };

std::string png(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return data.toStdString();
}

ScreenImage::Check check(const std::string& bytes)
{
    return ScreenImage::check(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

// The picture's header with another width written into it.
std::string withWidth(std::string bytes, std::uint32_t width)
{
    for (int i = 0; i < 4; ++i)
        bytes[16 + i] = static_cast<char>(width >> (24 - 8 * i));
    return bytes;
}

TEST(ScreenImageTest, JudgesSignatureHeaderSizeAndCompleteness)
{
    const std::string good = png(108, 240);
    std::string mangled = good;
    mangled.replace(4, 2, "\r\r\n"); // what a terminal makes of the signature's line feed
    const std::tuple<const char*, std::string, Problem> cases[] {
        { "a whole picture", good, Problem::none },
        { "nothing", "", Problem::empty },
        { "an error text", "error: device unauthorized.", Problem::notPNG },
        { "line feeds turned into CR LF", mangled, Problem::notPNG },
        { "half the signature", good.substr(0, 4), Problem::truncated },
        { "the signature only", good.substr(0, 8), Problem::truncated },
        { "cut inside the header", good.substr(0, 20), Problem::truncated },
        { "cut in the image data", good.substr(0, good.size() / 2), Problem::truncated },
        { "last byte missing", good.substr(0, good.size() - 1), Problem::truncated },
        { "a header claiming 100000 pixels", withWidth(good, 100'000), Problem::implausibleSize },
        { "a header claiming no width", withWidth(good, 0), Problem::implausibleSize },
        { "a huge header, cut short", withWidth(good, 0xFFFFFFFF).substr(0, 40), Problem::implausibleSize },
        { "a chunk longer than PNG allows", good.substr(0, 33) + "\xff\xff\xff\xffIDAT", Problem::notPNG },
    };
    for (const auto& [scene, bytes, problem] : cases)
        EXPECT_EQ(check(bytes).problem, problem) << scene;

    const ScreenImage::Check whole = check(good + "trailing");
    EXPECT_EQ(whole, (ScreenImage::Check { Problem::none, 108, 240, good.size() }));
}

struct ScreenshotRig : test::ControllerRig {
    QTemporaryDir folder;
    std::unique_ptr<AppState> state;

    ScreenshotRig()
    {
        pictures = folder.path().toStdString();
        adb.on({ "devices", "-l" }, deviceList({ "U1 device usb:1-1 model:Pixel_7" }));
        state = make();
    }
    void take()
    {
        state->saveScreenshot();
        ASSERT_TRUE(test::waitUntilIdle(*state));
    }
    QStringList files() const
    {
        return QDir(folder.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
    std::string errorTitle() const
    {
        return presenter->errors.empty() ? std::string() : presenter->errors.back().title;
    }
};

TEST(AppStateScreenshotTest, SavesThePictureUnderAFreeNameNeverOverwriting)
{
    ScreenshotRig rig;
    const std::string picture = png(1080, 2400);
    rig.adb.on(kScreencap, { .out = picture });
    const QString base = rig.folder.filePath(QStringLiteral("Screenshot 2026-12-06 at 19.30.05"));
    QFile taken(base + QStringLiteral(".png"));
    ASSERT_TRUE(taken.open(QIODevice::WriteOnly) && taken.write("mine") == 4);
    taken.close();
    QFile(base + QStringLiteral(".png")).copy(base + QStringLiteral(" (2).PNG"));

    rig.take();
    rig.take();
    ASSERT_EQ(rig.presenter->saved.size(), 2u) << rig.errorTitle();
    EXPECT_EQ(rig.presenter->saved[0],
        (std::vector<std::string> { "Screenshot saved",
            "“Screenshot 2026-12-06 at 19.30.05 (3).png” is in your Pictures folder.",
            (base + QStringLiteral(" (3).png")).toStdString() }));
    EXPECT_EQ(rig.presenter->saved[1][2], (base + QStringLiteral(" (4).png")).toStdString());
    QFile saved(base + QStringLiteral(" (3).png"));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll().toStdString(), picture);
    QFile mine(base + QStringLiteral(".png"));
    ASSERT_TRUE(mine.open(QIODevice::ReadOnly));
    EXPECT_EQ(mine.readAll(), QByteArray("mine"));
    EXPECT_EQ(rig.files().size(), 4); // no temporary file left
    EXPECT_FALSE(rig.state->busyMessage());
}

TEST(AppStateScreenshotTest, FailuresAreExplainedAndLeaveNoFile)
{
    const std::string good = png(64, 64);
    struct Case {
        const char* scene;
        std::vector<std::string> phones;
        StandInTool::Answer answer;
        bool withPictures;
        std::string title;
    };
    const Case cases[] {
        { "a truncated picture", { "U1 device usb:1-1" }, { .out = good.substr(0, good.size() - 20) }, true,
            "The screenshot arrived incomplete." },
        { "an oversized header", { "U1 device usb:1-1" }, { .out = withWidth(good, 70'000) }, true,
            "The screenshot isn’t a picture Tessaly can use." },
        { "a locked phone sends nothing", { "U1 device usb:1-1" }, { .exitCode = 0 }, true,
            "Your phone didn’t send a picture." },
        { "the phone went away", { "U1 device usb:1-1" },
            { .err = "error: device 'U1' not found", .exitCode = 1 }, true, "Phone not found." },
        { "no phone", {}, { .out = good }, true, "Phone not found." },
        { "a phone waiting for Allow", { "U1 unauthorized usb:1-1" }, { .out = good }, true,
            "Your phone is waiting for permission." },
        { "no Pictures folder to be had", { "U1 device usb:1-1" }, { .out = good }, false,
            "Couldn’t save the screenshot." },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scene);
        ScreenshotRig rig;
        if (!c.withPictures)
            rig.pictures.reset();
        rig.adb.on({ "devices", "-l" }, deviceList(c.phones));
        rig.adb.on(kScreencap, c.answer);
        rig.take();
        EXPECT_EQ(rig.errorTitle(), c.title);
        EXPECT_TRUE(rig.presenter->saved.empty());
        EXPECT_TRUE(rig.files().isEmpty()) << rig.files().join(',').toStdString();
        EXPECT_FALSE(rig.state->busyMessage());
    }
}

// A disk that fills up in the middle of the picture, played by a file-size limit.
TEST(AppStateScreenshotTest, AFullDiskLeavesNothingBehind)
{
    QTemporaryDir folder;
    const std::string picture = png(512, 512);
    const Bytes bytes(picture.begin(), picture.end());
    rlimit before {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = before;
    small.rlim_cur = bytes.size() / 2;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const ScreenshotFile::Saved saved = ScreenshotFile::save(folder.path().toStdString(), "Shot.png", bytes);
    ::setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(saved.path);
    EXPECT_FALSE(saved.error.empty());
    EXPECT_TRUE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

} // namespace
} // namespace tessaly
