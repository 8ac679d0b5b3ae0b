#include <csignal>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "support/TestPhone.h"

#ifdef TESSALY_HARNESS_PATH

namespace tessaly {
namespace {

TEST(QuickShareHarness, PrintsEachEventAsOneJsonLineUntilTerminated)
{
    QTemporaryDir save;
    QProcess harness;
    harness.start(
        QStringLiteral(TESSALY_HARNESS_PATH), { "--port", "0", "--save", save.path(), "--answer", "accept" });
    std::vector<QJsonObject> lines;
    const auto line = [&](std::size_t index) {
        test::waitUntil([&] {
            while (harness.canReadLine())
                lines.push_back(QJsonDocument::fromJson(harness.readLine()).object());
            return lines.size() > index;
        });
        return index < lines.size() ? lines[index] : QJsonObject();
    };
    EXPECT_EQ(line(0), (QJsonObject { { "event", "status" }, { "status", "starting" } }));
    ASSERT_EQ(line(1)["status"], "on");

    test::TestPhone phone(static_cast<std::uint16_t>(line(1)["port"].toInt()));
    ASSERT_TRUE(phone.handshake("Ana"));
    phone.sendSharing(
        SharingFrame { SharingFrame::Introduction { {}, { { "\u202Ehi", {}, 8, 2 } }, false } });
    phone.readSharing();
    using Piece = OfflineFrame::PayloadPiece;
    phone.sendSecure(OfflineFrame { Piece { 8, Piece::Kind::bytes, 2, 0, true, { 'h', 'i' } } });
    const QJsonObject ask = line(2), done = line(3);
    EXPECT_EQ(ask["event"], "ask");
    EXPECT_EQ(ask["sender"], "Ana");
    EXPECT_EQ(ask["code"], QString::fromStdString(phone.code()));
    EXPECT_EQ(ask["contents"], (QJsonObject { { "kind", "text" }, { "title", "hi" } }));
    EXPECT_EQ(ask["totalBytes"], 2);
    EXPECT_EQ(done,
        (QJsonObject {
            { "event", "finished" }, { "id", ask["id"] }, { "result", "text" }, { "text", "hi" } }));

    ::kill(static_cast<pid_t>(harness.processId()), SIGTERM);
    ASSERT_TRUE(harness.waitForFinished(5000));
    EXPECT_EQ(harness.exitCode(), 0);
}

} // namespace
} // namespace tessaly

#endif
