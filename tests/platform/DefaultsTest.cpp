#include <cstdlib>

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "platform/InMemoryDefaults.h"
#include "platform/QSettingsDefaults.h"

namespace tessaly {
namespace {

using Object = Defaults::Object;

struct ReadCase {
    const char* name;
    Object stored;
    bool isBool;
    bool asBool;
    std::int64_t asInt;
    std::optional<std::string> asString;
};

TEST(DefaultsTest, ReadingRulesForEveryKindOfObject)
{
    const ReadCase cases[] = {
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
    };
    for (const ReadCase& c : cases) {
        InMemoryDefaults defaults({ { "key", c.stored } });
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(defaults.contains("key"));
        EXPECT_EQ(defaults.isBool("key"), c.isBool);
        EXPECT_EQ(defaults.readBool("key"), c.asBool);
        EXPECT_EQ(defaults.readInt("key"), c.asInt);
        EXPECT_EQ(defaults.readString("key"), c.asString);
    }
}

TEST(DefaultsTest, AbsentKeyReadsAsNothing)
{
    InMemoryDefaults defaults;
    EXPECT_FALSE(defaults.contains("missing"));
    EXPECT_FALSE(defaults.isBool("missing"));
    EXPECT_FALSE(defaults.readBool("missing"));
    EXPECT_EQ(defaults.readInt("missing"), 0);
    EXPECT_EQ(defaults.readString("missing"), std::nullopt);
}

// Each test gets its own configuration folder, as a fresh user account would.
class QSettingsDefaultsTest : public ::testing::Test {
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
        if (m_previous)
            setenv("XDG_CONFIG_HOME", m_previous->c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
    }
    QString settingsFile() const { return m_home.path() + QStringLiteral("/Tessaly/Tessaly.conf"); }
    void writeFile(const QByteArray& text) const
    {
        QDir().mkpath(m_home.path() + QStringLiteral("/Tessaly"));
        QFile file(settingsFile());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }

    QTemporaryDir m_home;
    std::optional<std::string> m_previous;
};

TEST_F(QSettingsDefaultsTest, LivesInTheConfigFolderOfTheEnvironment)
{
    EXPECT_EQ(QSettingsDefaults::standardFileName(), settingsFile());
    setenv("XDG_CONFIG_HOME", "relative/folder", 1);
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
        defaults.writeString("lastPhoneIP", "192.168.1.5");
        defaults.writeString("gone", "soon");
        defaults.remove("gone");
        // Answers within the run are those of a later run.
        EXPECT_TRUE(defaults.isBool("stayAwake"));
        EXPECT_FALSE(defaults.isBool("settingsVersion"));
    }
    QFile file(settingsFile());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray written = file.readAll();
    EXPECT_TRUE(written.contains("stayAwake=false\n")) << written.constData();
    EXPECT_TRUE(written.contains("settingsVersion=2\n")) << written.constData();

    QSettingsDefaults restarted;
    EXPECT_TRUE(restarted.isBool("stayAwake"));
    EXPECT_FALSE(restarted.readBool("stayAwake"));
    EXPECT_TRUE(restarted.isBool("pocketMode"));
    EXPECT_TRUE(restarted.readBool("pocketMode"));
    EXPECT_FALSE(restarted.isBool("settingsVersion"));
    EXPECT_EQ(restarted.readInt("settingsVersion"), 2);
    EXPECT_EQ(restarted.readString("preset"), "smooth");
    EXPECT_EQ(restarted.readString("lastPhoneIP"), "192.168.1.5");
    EXPECT_FALSE(restarted.contains("gone"));
    EXPECT_FALSE(restarted.contains("audio"));
}

TEST_F(QSettingsDefaultsTest, WronglyTypedValuesFromTheFileAreNotBooleans)
{
    writeFile("[General]\n"
              "stayAwake=yes\n"
              "pocketMode=1\n"
              "turnScreenOff=true\n"
              "settingsVersion=two\n"
              "preset=@ByteArray(best)\n"
              "audio=a, b\n");
    QSettingsDefaults defaults;
    EXPECT_FALSE(defaults.isBool("stayAwake"));
    EXPECT_FALSE(defaults.isBool("pocketMode"));
    EXPECT_TRUE(defaults.isBool("turnScreenOff"));
    EXPECT_TRUE(defaults.readBool("turnScreenOff"));
    EXPECT_EQ(defaults.readInt("settingsVersion"), 0);
    EXPECT_TRUE(defaults.contains("preset"));
    EXPECT_EQ(defaults.readString("preset"), std::nullopt);
    EXPECT_TRUE(defaults.contains("audio"));
    EXPECT_FALSE(defaults.isBool("audio"));
    EXPECT_FALSE(defaults.readBool("audio"));
}

TEST_F(QSettingsDefaultsTest, EmptyKeyNeverTouchesOtherSettings)
{
    QSettingsDefaults defaults;
    defaults.writeBool("audio", true);
    defaults.remove("");
    defaults.writeBool("", true);
    EXPECT_FALSE(defaults.contains(""));
    EXPECT_TRUE(defaults.readBool("audio"));
}

} // namespace
} // namespace tessaly
