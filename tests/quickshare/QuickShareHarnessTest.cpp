#include <csignal>
#include <cstring>
#include <tuple>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "support/TestPhone.h"

namespace tessaly {
namespace {

// The developer's receiver on loopback, answering "accept", read a JSON line at a time.
struct Harness {
    QProcess process;
    std::vector<QJsonObject> lines;

    Harness(const QTemporaryDir& save, int port)
    {
        process.start(QStringLiteral(TESSALY_HARNESS_PATH),
            { "--port", QString::number(port), "--save", save.path(), "--answer", "accept" });
    }
    ~Harness()
    {
        ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
        EXPECT_TRUE(process.waitForFinished(5000));
        EXPECT_EQ(process.exitCode(), 0);
    }
    QJsonObject line(std::size_t index)
    {
        test::waitUntil([&] {
            while (process.canReadLine())
                lines.push_back(QJsonDocument::fromJson(process.readLine()).object());
            return lines.size() > index;
        });
        return index < lines.size() ? lines[index] : QJsonObject();
    }
};

TEST(QuickShareHarness, PrintsEachEventAsOneJsonLine)
{
    QTemporaryDir save;
    Harness harness(save, 0);
    const QJsonObject starting { { "event", "status" }, { "status", "starting" } };
    EXPECT_EQ(harness.line(0), starting);
    const int port = harness.line(1)["port"].toInt();
    EXPECT_EQ(harness.line(1),
        (QJsonObject { { "event", "status" }, { "status", "on" }, { "name", "Quick Share harness" },
            { "port", port } }));

    Harness second(save, port);
    EXPECT_EQ(second.line(0), starting);
    EXPECT_EQ(second.line(1),
        (QJsonObject { { "event", "status" }, { "status", "failed" },
            { "reason", "the system didn’t allow listening on the network" } }));

    using Kind = SharingFrame::TextOffer::Kind;
    using Piece = OfflineFrame::PayloadPiece;
    for (const auto& [kind, name, body] : { std::tuple { Kind::text, "text", "milk\neggs" },
             { Kind::link, "link", "https://example.org/a" } }) {
        SCOPED_TRACE(name);
        const std::size_t first = harness.lines.size();
        test::TestPhone phone(static_cast<std::uint16_t>(port));
        ASSERT_TRUE(phone.handshake("Ana"));
        const Bytes bytes(body, body + std::strlen(body));
        phone.sendSharing(SharingFrame { SharingFrame::Introduction {
            {}, { { "\u202Epreview", kind, 8, std::int64_t(bytes.size()) } }, false } });
        phone.readSharing();
        phone.sendSecure(
            OfflineFrame { Piece { 8, Piece::Kind::bytes, std::int64_t(bytes.size()), 0, true, bytes } });
        const QJsonObject ask = harness.line(first);
        EXPECT_EQ(ask["event"], "ask");
        EXPECT_EQ(ask["sender"], "Ana");
        EXPECT_EQ(ask["code"], QString::fromStdString(phone.code()));
        EXPECT_EQ(ask["contents"], (QJsonObject { { "kind", name }, { "title", "preview" } }));
        EXPECT_EQ(ask["totalBytes"], int(bytes.size()));
        EXPECT_EQ(harness.line(first + 1),
            (QJsonObject {
                { "event", "finished" }, { "id", ask["id"] }, { "result", name }, { name, body } }));
    }
}

} // namespace
} // namespace tessaly
