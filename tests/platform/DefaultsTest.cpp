#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include "TemporaryConfigHome.h"
#include "platform/InMemoryDefaults.h"
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

class QSettingsDefaultsTest : public ::testing::Test {
protected:
    QString settingsFile() const { return m_home.path() + QStringLiteral("/Tessaly/Tessaly.conf"); }
    test::TemporaryConfigHome m_home;
};

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

} // namespace
} // namespace tessaly
