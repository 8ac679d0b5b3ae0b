#include <csignal>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "support/TestPhone.h"

#ifdef TESSALY_HARNESS_PATH

namespace tessaly {
namespace {

using test::TestPhone;
using test::waitUntil;

// The harness's lines so far, parsed.
struct Lines {
    QProcess& process;
    std::vector<QJsonObject> seen;
    std::optional<QJsonObject> next(const char* event)
    {
        std::optional<QJsonObject> found;
        waitUntil([&] {
            while (process.canReadLine())
                seen.push_back(QJsonDocument::fromJson(process.readLine()).object());
            for (auto it = seen.begin(); it != seen.end(); ++it) {
                if ((*it)["event"] == QLatin1String(event)) {
                    found = *it;
                    seen.erase(seen.begin(), it + 1);
                    return true;
                }
            }
            return false;
        });
        return found;
    }
};

TEST(QuickShareHarness, ReportsEachEventAsJsonAndServesUntilTerminated)
{
    QTemporaryDir save;
    QProcess harness;
    harness.start(
        QStringLiteral(TESSALY_HARNESS_PATH), { "--port", "0", "--save", save.path(), "--answer", "accept" });
    Lines lines { harness, {} };
    const auto on = lines.next("status");
    ASSERT_TRUE(on);
    EXPECT_EQ((*on)["status"], "starting");
    const auto listening = lines.next("status");
    ASSERT_TRUE(listening && (*listening)["status"] == "on");
    const auto port = static_cast<std::uint16_t>((*listening)["port"].toInt());

    {
        TestPhone phone(port);
        ASSERT_TRUE(phone.handshake("Ana"));
        phone.sendSharing(
            SharingFrame { SharingFrame::Introduction { { { "a.txt", 4, 3, "" } }, {}, false } });
        const auto ask = lines.next("ask");
        ASSERT_TRUE(ask);
        EXPECT_EQ((*ask)["sender"], "Ana");
        EXPECT_EQ((*ask)["code"], QString::fromStdString(phone.code()));
        EXPECT_EQ((*ask)["totalBytes"], 3);
        EXPECT_EQ((*ask)["contents"].toObject()["files"].toArray().at(0).toObject()["name"], "a.txt");
        phone.readSharing();
        phone.sendFile(4, { 'a', 'b', 'c' }, 2);
        const auto progress = lines.next("progress");
        ASSERT_TRUE(progress);
        const auto done = lines.next("finished");
        ASSERT_TRUE(done);
        EXPECT_EQ((*done)["result"], "saved");
        EXPECT_EQ((*done)["files"].toArray().at(0), save.filePath("a.txt"));
    }
    {
        TestPhone phone(port);
        ASSERT_TRUE(phone.handshake());
        phone.sendSharing(SharingFrame { SharingFrame::Introduction {
            {}, { { "", SharingFrame::TextOffer::Kind::link, 8, 5 } }, false } });
        phone.readSharing();
        using Piece = OfflineFrame::PayloadPiece;
        phone.sendSecure(
            OfflineFrame { Piece { 8, Piece::Kind::bytes, 5, 0, true, { 'h', 't', 't', 'p', 's' } } });
        const auto done = lines.next("finished");
        ASSERT_TRUE(done);
        EXPECT_EQ((*done)["result"], "link");
        EXPECT_EQ((*done)["link"], "https");
    }
    ::kill(static_cast<pid_t>(harness.processId()), SIGTERM);
    ASSERT_TRUE(harness.waitForFinished(5000));
    EXPECT_EQ(harness.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(harness.exitCode(), 0);
}

} // namespace
} // namespace tessaly

#endif
