#include <cstdlib>

#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "platform/LoginItem.h"

namespace tessaly {
namespace {

class LoginItemTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid());
        if (const char* previous = std::getenv("XDG_CONFIG_HOME"))
            m_previous = previous;
        setenv("XDG_CONFIG_HOME", m_home.path().toUtf8().constData(), 1);
    }
    void TearDown() override
    {
        QFile::setPermissions(autostart(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        if (m_previous)
            setenv("XDG_CONFIG_HOME", m_previous->c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
    }
    QString autostart() const { return m_home.path() + QStringLiteral("/autostart"); }
    QString entry() const { return autostart() + QStringLiteral("/tessaly.desktop"); }
    QByteArray entryText() const
    {
        QFile file(entry());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void writeEntry(const QByteArray& text) const
    {
        QDir().mkpath(autostart());
        QFile file(entry());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }

    QTemporaryDir m_home;
    std::optional<std::string> m_previous;
};

TEST_F(LoginItemTest, EnableWritesAnEntryThatStartsThisProgram)
{
    LoginItem item;
    EXPECT_EQ(item.entryPath(), entry());
    EXPECT_FALSE(item.isEnabled());

    EXPECT_EQ(item.setEnabled(true), std::nullopt);
    EXPECT_TRUE(item.isEnabled());
    const QByteArray text = entryText();
    EXPECT_TRUE(text.startsWith("[Desktop Entry]\n"));
    EXPECT_TRUE(text.contains("\nType=Application\n"));
    const QByteArray program = QCoreApplication::applicationFilePath().toUtf8();
    ASSERT_TRUE(program.startsWith('/'));
    EXPECT_TRUE(text.contains("\nExec=" + program + "\n") || text.contains("\nExec=\"" + program + "\"\n"))
        << text.constData();

    // Enabling twice keeps one entry.
    EXPECT_EQ(item.setEnabled(true), std::nullopt);
    EXPECT_EQ(QDir(autostart()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST_F(LoginItemTest, DisableRemovesTheEntryAndIsFineWithoutOne)
{
    LoginItem item;
    ASSERT_EQ(item.setEnabled(true), std::nullopt);
    EXPECT_EQ(item.setEnabled(false), std::nullopt);
    EXPECT_FALSE(QFile::exists(entry()));
    EXPECT_FALSE(item.isEnabled());
    EXPECT_EQ(item.setEnabled(false), std::nullopt);
}

TEST_F(LoginItemTest, HiddenEntryCountsAsDisabledUntilEnabledAgain)
{
    writeEntry("[Desktop Entry]\nType=Application\nExec=/usr/bin/tessaly\nHidden=true\n");
    LoginItem item;
    EXPECT_FALSE(item.isEnabled());
    EXPECT_EQ(item.setEnabled(true), std::nullopt);
    EXPECT_TRUE(item.isEnabled());
    EXPECT_FALSE(entryText().contains("Hidden"));
}

TEST(LoginItemRulesTest, HiddenOnlyCountsInTheMainGroup)
{
    const struct {
        const char* text;
        bool hidden;
    } cases[] = {
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
    for (const auto& c : cases)
        EXPECT_EQ(LoginItem::isHidden(QString::fromUtf8(c.text)), c.hidden) << c.text;
}

TEST(LoginItemRulesTest, ExecLineQuotesWhatTheShellWouldRead)
{
    const struct {
        const char* path;
        const char* exec;
    } cases[] = {
        { "/usr/bin/tessaly", "Exec=/usr/bin/tessaly\n" },
        { "/opt/My Apps/tessaly", "Exec=\"/opt/My Apps/tessaly\"\n" },
        { "/opt/a$b/tessaly", "Exec=\"/opt/a\\\\$b/tessaly\"\n" },
        { "/opt/say \"hi\"/tessaly", "Exec=\"/opt/say \\\\\"hi\\\\\"/tessaly\"\n" },
        { "/opt/back\\slash/tessaly", "Exec=\"/opt/back\\\\\\\\slash/tessaly\"\n" },
        { "/opt/100%/tessaly", "Exec=/opt/100%%/tessaly\n" },
    };
    for (const auto& c : cases) {
        const auto text = LoginItem::desktopEntry(QString::fromUtf8(c.path));
        ASSERT_TRUE(text.has_value()) << c.path;
        EXPECT_TRUE(text->contains(QString::fromUtf8(c.exec))) << c.path << "\n" << text->toStdString();
    }
    EXPECT_EQ(LoginItem::desktopEntry(QStringLiteral("/opt/new\nline/tessaly")), std::nullopt);
}

TEST_F(LoginItemTest, ProgramPathThatCannotBeWrittenIsAnError)
{
    LoginItem item(autostart(), QStringLiteral("/opt/new\nline/tessaly"));
    EXPECT_NE(item.setEnabled(true), std::nullopt);
    LoginItem relative(autostart(), QStringLiteral("tessaly"));
    EXPECT_NE(relative.setEnabled(true), std::nullopt);
    EXPECT_FALSE(QFile::exists(entry()));
}

TEST_F(LoginItemTest, FileInPlaceOfTheFolderGivesAnError)
{
    QFile blocker(autostart());
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    LoginItem item;
    const auto error = item.setEnabled(true);
    ASSERT_NE(error, std::nullopt);
    EXPECT_NE(error->find(autostart().toStdString()), std::string::npos) << *error;
    EXPECT_FALSE(item.isEnabled());
}

TEST_F(LoginItemTest, UnwritableFolderGivesAnErrorBothWays)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "file permissions do not bind root";
    LoginItem item;
    ASSERT_EQ(item.setEnabled(true), std::nullopt);
    ASSERT_TRUE(QFile::setPermissions(autostart(), QFile::ReadOwner | QFile::ExeOwner));

    const auto removeError = item.setEnabled(false);
    ASSERT_NE(removeError, std::nullopt);
    EXPECT_NE(removeError->find(entry().toStdString()), std::string::npos) << *removeError;
    EXPECT_TRUE(item.isEnabled());

    QFile::setPermissions(autostart(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ASSERT_TRUE(QFile::remove(entry()));
    QFile::setPermissions(autostart(), QFile::ReadOwner | QFile::ExeOwner);
    EXPECT_NE(item.setEnabled(true), std::nullopt);
    EXPECT_FALSE(item.isEnabled());
}

} // namespace
} // namespace tessaly
