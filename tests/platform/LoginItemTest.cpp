#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include "TemporaryConfigHome.h"
#include "platform/LoginItem.h"

namespace tessaly {
namespace {

constexpr auto kWritable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;

class LoginItemTest : public ::testing::Test {
protected:
    void TearDown() override { QFile::setPermissions(autostart(), kWritable); }
    QString autostart() const { return m_home.path() + QStringLiteral("/autostart"); }
    QString entry() const { return autostart() + QStringLiteral("/tessaly.desktop"); }
    QByteArray entryText() const
    {
        QFile file(entry());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    test::TemporaryConfigHome m_home;
};

TEST_F(LoginItemTest, EnableWritesAnEntryThatStartsThisProgramAndDisableRemovesIt)
{
    LoginItem item;
    EXPECT_EQ(item.entryPath(), entry());
    EXPECT_FALSE(item.isEnabled());
    EXPECT_EQ(item.setEnabled(false), std::nullopt); // nothing to remove is fine
    // An entry the user switched off counts as disabled, and enabling switches it back on.
    QDir().mkpath(autostart());
    QFile hidden(entry());
    ASSERT_TRUE(hidden.open(QIODevice::WriteOnly));
    hidden.write("[Desktop Entry]\nType=Application\nExec=/usr/bin/tessaly\nHidden=true\n");
    hidden.close();
    EXPECT_FALSE(item.isEnabled());
    for (int twice = 0; twice < 2; ++twice)
        EXPECT_EQ(item.setEnabled(true), std::nullopt);
    EXPECT_TRUE(item.isEnabled());
    EXPECT_EQ(QDir(autostart()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    const QByteArray text = entryText();
    EXPECT_TRUE(text.startsWith("[Desktop Entry]\n") && text.contains("\nType=Application\n"));
    EXPECT_FALSE(text.contains("Hidden"));
    const QByteArray program = QCoreApplication::applicationFilePath().toUtf8();
    EXPECT_TRUE(text.contains("\nExec=" + program + "\n") || text.contains("\nExec=\"" + program + "\"\n"))
        << text.constData();

    EXPECT_EQ(item.setEnabled(false), std::nullopt);
    EXPECT_FALSE(QFile::exists(entry()) || item.isEnabled());
}

TEST(LoginItemRulesTest, HiddenOnlyCountsInTheMainGroup)
{
    const std::pair<const char*, bool> cases[] = {
        { "[Desktop Entry]\nHidden=true\n", true },
        { "[Desktop Entry]\r\nName=Tessaly\r\nHidden = true\r\n", true },
        { "[Desktop Entry]\nHidden=true", true },
        { "[Desktop Entry]\nHidden=false\n", false },
        { "[Desktop Entry]\nHidden=True\n", false },
        { "[Desktop Entry]\nX-Hidden=true\n", false },
        { "[Desktop Entry]\n# Hidden=true\n", false },
        { "[Desktop Action quit]\nHidden=true\n", false },
        { "Hidden=true\n[Desktop Entry]\nName=Tessaly\n", false },
        { "", false },
    };
    for (const auto& [text, hidden] : cases)
        EXPECT_EQ(LoginItem::isHidden(QString::fromUtf8(text)), hidden) << text;
}

TEST(LoginItemRulesTest, ExecLineQuotesWhatTheShellWouldRead)
{
    const std::pair<const char*, const char*> cases[] = {
        { "/usr/bin/tessaly", "Exec=/usr/bin/tessaly\n" },
        { "/opt/My Apps/tessaly", "Exec=\"/opt/My Apps/tessaly\"\n" },
        { "/opt/a$b/tessaly", "Exec=\"/opt/a\\\\$b/tessaly\"\n" },
        { "/opt/say \"hi\"/tessaly", "Exec=\"/opt/say \\\\\"hi\\\\\"/tessaly\"\n" },
        { "/opt/back\\slash/tessaly", "Exec=\"/opt/back\\\\\\\\slash/tessaly\"\n" },
        { "/opt/100%/tessaly", "Exec=/opt/100%%/tessaly\n" },
    };
    for (const auto& [path, exec] : cases) {
        const auto text = LoginItem::desktopEntry(QString::fromUtf8(path));
        EXPECT_TRUE(text && text->contains(QString::fromUtf8(exec))) << path;
    }
    EXPECT_EQ(LoginItem::desktopEntry(QStringLiteral("/opt/new\nline/tessaly")), std::nullopt);
}

TEST_F(LoginItemTest, WhatCannotBeWrittenIsAnError)
{
    for (const char* program : { "/opt/new\nline/tessaly", "tessaly" })
        EXPECT_NE(LoginItem(autostart(), QString::fromUtf8(program)).setEnabled(true), std::nullopt)
            << program;
    EXPECT_FALSE(QFile::exists(entry()));

    QFile blocker(autostart()); // a file where the folder belongs
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    LoginItem item;
    const auto error = item.setEnabled(true);
    EXPECT_NE(error.value_or("").find(autostart().toStdString()), std::string::npos) << error.value_or("");
    EXPECT_FALSE(item.isEnabled());
}

TEST_F(LoginItemTest, UnwritableFolderKeepsTheEntryAndSaysWhich)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "file permissions do not bind root";
    LoginItem item;
    ASSERT_EQ(item.setEnabled(true), std::nullopt);
    ASSERT_TRUE(QFile::setPermissions(autostart(), QFile::ReadOwner | QFile::ExeOwner));
    const auto removeError = item.setEnabled(false);
    EXPECT_NE(removeError.value_or("").find(entry().toStdString()), std::string::npos)
        << removeError.value_or("");
    EXPECT_TRUE(item.isEnabled());
}

} // namespace
} // namespace tessaly
