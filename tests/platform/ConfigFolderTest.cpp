#include <functional>
#include <thread>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "platform/InMemoryDefaults.h"
#include "platform/LoginItem.h"
#include "platform/QSettingsDefaults.h"

namespace tessaly {
namespace {

using Object = Defaults::Object;

TEST(DefaultsTest, ReadingRulesForEveryKindOfObject)
{
    const struct {
        const char* name;
        std::optional<Object> stored;
        bool isBool, asBool;
        std::int64_t asInt;
        std::optional<std::string> asString;
    } cases[] = {
        { "true", Object(true), true, true, 1, "true" },
        { "false", Object(false), true, false, 0, "false" },
        { "number", Object(std::int64_t { 2 }), false, true, 2, "2" },
        { "zero", Object(std::int64_t { 0 }), false, false, 0, "0" },
        { "text yes", Object(std::string("YES")), false, true, 0, "YES" },
        { "text number", Object(std::string(" 7 ")), false, true, 7, " 7 " },
        { "text zero", Object(std::string("0")), false, false, 0, "0" },
        { "text word", Object(std::string("auto")), false, false, 0, "auto" },
        { "text too big", Object(std::string("99999999999999999999")), false, false, 0,
            "99999999999999999999" },
        { "empty text", Object(std::string()), false, false, 0, "" },
        { "other", Object(Defaults::Other {}), false, false, 0, std::nullopt },
        { "absent", std::nullopt, false, false, 0, std::nullopt },
    };
    for (const auto& c : cases) {
        const InMemoryDefaults defaults(c.stored ? std::map<std::string, Object> { { "key", *c.stored } }
                                                 : std::map<std::string, Object> {});
        SCOPED_TRACE(c.name);
        EXPECT_EQ(defaults.contains("key"), c.stored.has_value());
        EXPECT_EQ(defaults.isBool("key"), c.isBool);
        EXPECT_EQ(defaults.readBool("key"), c.asBool);
        EXPECT_EQ(defaults.readInt("key"), c.asInt);
        EXPECT_EQ(defaults.readString("key"), c.asString);
    }
}

// Points XDG_CONFIG_HOME at a fresh folder for each test, as a new user account would have.
class ConfigFolderTest : public ::testing::Test {
protected:
    ConfigFolderTest() { qputenv("XDG_CONFIG_HOME", m_home.path().toUtf8()); }
    ~ConfigFolderTest() override
    {
        QFile::setPermissions(autostart(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_wasSet ? qputenv("XDG_CONFIG_HOME", m_previous) : qunsetenv("XDG_CONFIG_HOME");
    }
    QString settingsFile() const { return m_home.path() + QStringLiteral("/Tessaly/Tessaly.conf"); }
    QString autostart() const { return m_home.path() + QStringLiteral("/autostart"); }
    QString entry() const { return autostart() + QStringLiteral("/tessaly.desktop"); }
    QByteArray entryText() const
    {
        QFile file(entry());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir m_home;
    const bool m_wasSet = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    const QByteArray m_previous = qgetenv("XDG_CONFIG_HOME");
};

using QSettingsDefaultsTest = ConfigFolderTest;
using LoginItemTest = ConfigFolderTest;

TEST_F(QSettingsDefaultsTest, LivesInTheConfigFolderOfTheEnvironment)
{
    EXPECT_EQ(QSettingsDefaults::standardFileName(), settingsFile());
    qputenv("XDG_CONFIG_HOME", "relative/folder"); // not absolute: ignored
    EXPECT_EQ(QSettingsDefaults::standardFileName(),
        QDir::homePath() + QStringLiteral("/.config/Tessaly/Tessaly.conf"));
}

TEST_F(QSettingsDefaultsTest, ValuesSurviveARestartWithTheirTypes)
{
    {
        QSettingsDefaults defaults;
        defaults.writeBool("stayAwake", false);
        defaults.writeBool("pocketMode", true);
        defaults.writeInt("settingsVersion", 2);
        defaults.writeString("preset", "smooth");
        defaults.writeString("gone", "soon");
        defaults.remove("gone");
        defaults.remove(""); // to QSettings, every key
        defaults.writeBool("", true);
        EXPECT_TRUE(defaults.isBool("stayAwake")); // within the run as after a restart
        EXPECT_FALSE(defaults.isBool("settingsVersion"));
    }
    QSettingsDefaults restarted;
    EXPECT_TRUE(restarted.isBool("stayAwake") && !restarted.readBool("stayAwake"));
    EXPECT_TRUE(restarted.isBool("pocketMode") && restarted.readBool("pocketMode"));
    EXPECT_FALSE(restarted.isBool("settingsVersion"));
    EXPECT_EQ(restarted.readInt("settingsVersion"), 2);
    EXPECT_EQ(restarted.readString("preset"), "smooth");
    EXPECT_FALSE(restarted.contains("gone") || restarted.contains("audio") || restarted.contains(""));
}

TEST_F(QSettingsDefaultsTest, WronglyTypedValuesFromTheFileAreNotBooleans)
{
    QDir().mkpath(m_home.path() + QStringLiteral("/Tessaly"));
    QFile file(settingsFile());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[General]\nstayAwake=yes\npocketMode=1\nturnScreenOff=true\nsettingsVersion=two\n"
               "preset=@ByteArray(best)\naudio=a, b\n");
    file.close();
    QSettingsDefaults defaults;
    EXPECT_FALSE(defaults.isBool("stayAwake"));
    EXPECT_FALSE(defaults.isBool("pocketMode"));
    EXPECT_TRUE(defaults.isBool("turnScreenOff") && defaults.readBool("turnScreenOff"));
    EXPECT_EQ(defaults.readInt("settingsVersion"), 0);
    EXPECT_TRUE(defaults.contains("preset") && defaults.contains("audio"));
    EXPECT_EQ(defaults.readString("preset"), std::nullopt);
    EXPECT_FALSE(defaults.isBool("audio") || defaults.readBool("audio"));
}

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
    const std::pair<const char*, bool> cases[] = { { "[Desktop Entry]\nHidden=true\n", true },
        { "[Desktop Entry]\r\nName=Tessaly\r\nHidden = true\r\n", true },
        { "[Desktop Entry]\nHidden=true", true }, { "[Desktop Entry]\nHidden=false\n", false },
        { "[Desktop Entry]\nHidden=True\n", false }, { "[Desktop Entry]\nX-Hidden=true\n", false },
        { "[Desktop Entry]\n# Hidden=true\n", false }, { "[Desktop Action quit]\nHidden=true\n", false },
        { "Hidden=true\n[Desktop Entry]\nName=Tessaly\n", false }, { "", false } };
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

// Runs `body` on a thread without the capabilities by which root passes over file permissions
// (each thread holds its own), so that permissions bind the test as they bind a user.
void withFilePermissionsBinding(const std::function<void()>& body)
{
    std::thread([&] {
        __user_cap_header_struct header { _LINUX_CAPABILITY_VERSION_3, 0 };
        __user_cap_data_struct capabilities[_LINUX_CAPABILITY_U32S_3] {};
        ASSERT_EQ(::syscall(SYS_capget, &header, capabilities), 0);
        for (const unsigned capability : { CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER })
            capabilities[capability / 32].effective &= ~(1u << (capability % 32));
        ASSERT_EQ(::syscall(SYS_capset, &header, capabilities), 0);
        body();
    }).join();
}

TEST_F(LoginItemTest, UnwritableFolderKeepsTheEntryAndSaysWhich)
{
    LoginItem item;
    ASSERT_EQ(item.setEnabled(true), std::nullopt);
    ASSERT_TRUE(QFile::setPermissions(autostart(), QFile::ReadOwner | QFile::ExeOwner));
    withFilePermissionsBinding([&] {
        const auto removeError = item.setEnabled(false);
        EXPECT_NE(removeError.value_or("").find(entry().toStdString()), std::string::npos)
            << removeError.value_or("");
        EXPECT_TRUE(item.isEnabled());
    });
}

} // namespace
} // namespace tessaly
