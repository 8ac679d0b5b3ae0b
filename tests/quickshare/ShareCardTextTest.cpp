#include <QLocale>

#include <gtest/gtest.h>

#include "quickshare/ShareCardText.h"

namespace tessaly {
namespace {

using namespace ShareCardText;
using Phase = ShareCardPhase;
using Content = IncomingShare::ContentKind;

IncomingShare offer(
    Content kind, std::vector<std::string> names = {}, std::string title = {}, std::int64_t total = 0)
{
    IncomingShare share;
    share.sender = "Kitchen";
    share.code = "4821";
    share.contentKind = kind;
    for (std::string& name : names)
        share.files.push_back({ std::move(name), 1 });
    share.title = std::move(title);
    share.totalBytes = total;
    return share;
}

Phase done(ShareResult::Kind kind)
{
    return Phase::done(ShareResult::of(kind));
}

class ShareCardTextTest : public ::testing::Test {
protected:
    void SetUp() override { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void TearDown() override { QLocale::setDefault(QLocale::system()); }
};

TEST_F(ShareCardTextTest, TitlesForEveryPhase)
{
    const auto files = [](int n) { return offer(Content::files, std::vector<std::string>(n, "f")); };
    const std::tuple<IncomingShare, Phase, const char*> cases[] = {
        { files(1), Phase::asking(), "“Kitchen” wants to send you a file" },
        { files(2), Phase::asking(), "“Kitchen” wants to send you 2 files" },
        { files(0), Phase::asking(), "“Kitchen” wants to send you 0 files" },
        { offer(Content::text), Phase::asking(), "“Kitchen” wants to send you some text" },
        { offer(Content::link), Phase::receiving(), "Receiving a link from “Kitchen”…" },
        { files(1), Phase::done(ShareResult::saved({ "/d/a" })), "Saved to Downloads" },
        { files(1), Phase::done(ShareResult::saved({})), "0 files saved to Downloads" },
        { offer(Content::text), Phase::done(ShareResult::receivedText("hi")), "Text copied" },
        { offer(Content::link), Phase::done(ShareResult::receivedLink("https://a.b")), "Link copied" },
        { files(1), Phase::done(ShareResult::failed("x")), "The transfer didn’t finish" },
        { files(1), done(ShareResult::Kind::declined), "Stopped" },
        { files(1), done(ShareResult::Kind::cancelledByPhone), "Cancelled on the phone" },
        { files(1), done(ShareResult::Kind::missed), "You missed a share from “Kitchen”" },
    };
    for (const auto& [share, phase, expected] : cases)
        EXPECT_EQ(title(share, phase), QString::fromUtf8(expected)) << expected;
}

TEST_F(ShareCardTextTest, DetailsForEveryPhase)
{
    const IncomingShare five = offer(Content::files, { "a", "b", "c", "d", "e" }, {}, 1'500'000);
    const std::string longLine(200, 'x');
    const std::pair<Phase, QString> fileCases[] = {
        // The size keeps to the line of the last name.
        { Phase::asking(), QStringLiteral("a, b and 3\u00a0more\u00a0·\u00a01.5\u00a0MB") },
        { Phase::done(ShareResult::saved(
              { "/home/u/Downloads/x.jpg", "/home/u/Downloads/y.png", "/home/u/Downloads/z.pdf" })),
            QStringLiteral("x.jpg, y.png and 1\u00a0more") },
        { Phase::done(ShareResult::receivedText(longLine)),
            QStringLiteral("It is on the clipboard: paste it anywhere with Ctrl+V.\n")
                + QString(140, QLatin1Char('x')) + QStringLiteral("…") },
        { Phase::done(ShareResult::receivedLink("https://a.b/\nnext")),
            QStringLiteral("It is on the clipboard.\nhttps://a.b/ next") },
        { Phase::done(ShareResult::failed("the phone stopped sending")),
            QStringLiteral("What happened: the phone stopped sending. Anything that arrived only in part was "
                           "removed.") },
        { done(ShareResult::Kind::stopped),
            QStringLiteral("Anything that arrived only in part was removed.") },
        { done(ShareResult::Kind::cancelledByPhone), QStringLiteral("Nothing was saved.") },
        { done(ShareResult::Kind::missed),
            QStringLiteral("Nobody answered in time, so nothing was saved. Send it again from the phone.") },
    };
    for (const auto& [phase, expected] : fileCases)
        EXPECT_EQ(detail(five, phase), expected);

    EXPECT_EQ(detail(offer(Content::files, { "only.pdf" }, {}, 1), Phase::asking()),
        QStringLiteral("only.pdf\u00a0·\u00a01\u00a0byte"));
    EXPECT_EQ(detail(offer(Content::text), Phase::asking()),
        QStringLiteral("The text itself arrives after you accept."));
    EXPECT_EQ(detail(offer(Content::link, {}, "example.com/page"), Phase::asking()),
        QStringLiteral("example.com/page"));
    EXPECT_EQ(codeLine(five), QStringLiteral("Code 4821"));
}

TEST_F(ShareCardTextTest, PreviewIsOneLineOfAtMost140Characters)
{
    const QString emoji = QString::fromUtf8("😀");
    QString manyEmoji;
    for (int i = 0; i < 150; ++i)
        manyEmoji += emoji;
    const QString exact(140, QLatin1Char('y'));
    const std::pair<QString, QString> cases[] = {
        { QStringLiteral("a\n\nb"), QStringLiteral("a b") },
        { QStringLiteral("\r\none\x0btwo\x0cthree\r\n"), QStringLiteral("one two three") },
        { QString::fromUtf8("a\u0085b\u2028c\u2029d"), QStringLiteral("a b c d") },
        { QStringLiteral("  spaces stay  "), QStringLiteral("  spaces stay  ") },
        { exact, exact },
        { exact + QStringLiteral("z"), exact + QStringLiteral("…") },
        // Characters, not code units: no emoji is cut in half.
        { manyEmoji, manyEmoji.left(280) + QStringLiteral("…") },
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(preview(text), expected) << text.toStdString();
}

TEST_F(ShareCardTextTest, OnlyWebLinksWithAHostAreOpenable)
{
    const std::pair<ShareResult, const char*> cases[] = {
        { ShareResult::receivedLink("  HTTPS://Example.com/page \n"), "https://example.com/page" },
        { ShareResult::receivedLink("ftp://example.com/file"), nullptr },
        { ShareResult::receivedLink("https:///no-host"), nullptr },
        { ShareResult::receivedLink("example.com"), nullptr },
        { ShareResult::receivedLink("file:///etc/passwd"), nullptr },
        { ShareResult::receivedLink("https://exa mple.com"), nullptr },
        { ShareResult::receivedText("https://example.com"), nullptr },
    };
    for (const auto& [result, expected] : cases) {
        const auto link = openableLink(Phase::done(result));
        EXPECT_EQ(link ? link->toString() : QString(), expected ? QString::fromUtf8(expected) : QString())
            << result.text;
    }
}

TEST_F(ShareCardTextTest, ButtonsSymbolsAndTints)
{
    using A = Action;
    const IncomingShare files = offer(Content::files, { "a" });
    const std::tuple<IncomingShare, Phase, std::vector<A>, Symbol, Tint> cases[] = {
        { files, Phase::asking(), { A::decline, A::accept }, Symbol::file, Tint::accent },
        { offer(Content::text), Phase::asking(), { A::decline, A::accept }, Symbol::text, Tint::accent },
        { offer(Content::link), Phase::receiving(), { A::stop }, Symbol::link, Tint::accent },
        { files, Phase::done(ShareResult::saved({ "/d/a" })), { A::showInFolder, A::close }, Symbol::success,
            Tint::green },
        { files, Phase::done(ShareResult::saved({})), { A::close }, Symbol::success, Tint::green },
        { offer(Content::text), Phase::done(ShareResult::receivedText("t")), { A::close }, Symbol::success,
            Tint::green },
        { offer(Content::link), Phase::done(ShareResult::receivedLink("https://a.b")),
            { A::openLink, A::close }, Symbol::success, Tint::green },
        { files, Phase::done(ShareResult::failed("r")), { A::close }, Symbol::warning, Tint::orange },
        { files, done(ShareResult::Kind::cancelledByPhone), { A::close }, Symbol::stopped, Tint::secondary },
        { files, done(ShareResult::Kind::missed), { A::close }, Symbol::stopped, Tint::secondary },
    };
    for (const auto& [share, phase, buttons, expectedSymbol, expectedTint] : cases) {
        EXPECT_EQ(actions(phase), buttons);
        EXPECT_EQ(symbol(share, phase), expectedSymbol);
        EXPECT_EQ(tint(phase), expectedTint);
    }
}

TEST_F(ShareCardTextTest, ProgressNeverDividesByZero)
{
    const std::tuple<std::int64_t, std::int64_t, double> cases[] = {
        { 0, 0, 0.0 },
        { 5000, 0, 0.0 },
        { -5, 100, 0.0 },
        { 50, 100, 0.5 },
        { 150, 100, 1.0 },
        { INT64_MAX, INT64_MAX, 1.0 },
    };
    for (const auto& [received, total, expected] : cases)
        EXPECT_DOUBLE_EQ(progressFraction(received, total), expected) << received << " of " << total;
    EXPECT_EQ(progressLine(500, 2'500'000), QStringLiteral("500 bytes of 2.5 MB"));
    EXPECT_EQ(progressLine(0, 0), QStringLiteral("0 bytes of 0 bytes"));
    EXPECT_EQ(progressLine(900'000, 2'500'000'000), QStringLiteral("900 kB of 2.5 GB"));
}

} // namespace
} // namespace tessaly
