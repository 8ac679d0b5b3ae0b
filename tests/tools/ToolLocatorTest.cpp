#include "tools/ToolLocator.h"

#include <filesystem>
#include <fstream>
#include <functional>

#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace tessaly {
namespace {

namespace fs = std::filesystem;
using ToolLocator::Places;

// A throw-away tree: <tmp>/root (the system), <tmp>/home/ana and <tmp>/prefix (the installation).
class Tree {
public:
    Tree()
    {
        for (const std::string& folder : { root(), home(), prefix() })
            fs::create_directories(folder);
    }
    std::string root() const { return m_top + "/root"; }
    std::string home() const { return m_top + "/home/ana"; }
    std::string prefix() const { return m_top + "/prefix"; }
    Places places() const { return { root(), home(), prefix(), ::getuid() }; }
    // A path inside the system root unless it already names a place in the tree.
    std::string at(const std::string& path) const { return path.starts_with(m_top) ? path : root() + path; }
    std::string file(const std::string& path, mode_t mode = 0755) const
    {
        const std::string full = at(path);
        fs::create_directories(fs::path(full).parent_path());
        std::ofstream(full) << "#!/bin/true\n";
        ::chmod(full.c_str(), mode);
        return full;
    }
    std::string folder(const std::string& path) const
    {
        fs::create_directories(at(path));
        ::chmod(at(path).c_str(), 0755);
        return at(path);
    }
    std::string link(const std::string& path, const std::string& target) const
    {
        fs::create_directories(fs::path(at(path)).parent_path());
        fs::create_symlink(target, at(path));
        return at(path);
    }

private:
    QTemporaryDir m_folder;
    const std::string m_top = fs::canonical(m_folder.path().toStdString()).string();
};

class ToolLocatorTest : public ::testing::Test, public Tree { };

TEST_F(ToolLocatorTest, OnlyLockedDownExecutablesInAllowedFoldersAndAdbCandidatesInOrder)
{
    const std::vector<std::string> usrBin = { at("/usr/bin/") };
    EXPECT_EQ(ToolLocator::verifiedExecutable(file("/usr/bin/a"), usrBin), at("/usr/bin/a"));
    // A prefix names a folder, not the start of a name.
    EXPECT_EQ(ToolLocator::verifiedExecutable(file("/usr/binx/a"), { at("/usr/bin") }), std::nullopt);
    for (const std::string& path : { file("/usr/bin/not-executable", 0644), at("/usr/bin/missing"),
             file("/opt/outside"), link("/usr/bin/dangling", at("/usr/bin/none")) })
        EXPECT_EQ(ToolLocator::verifiedExecutable(path, usrBin), std::nullopt) << path;

    EXPECT_EQ(ToolLocator::findADB(places()), std::nullopt);
    const std::string sdk = file(home() + "/Android/Sdk/platform-tools/adb");
    EXPECT_EQ(ToolLocator::findADB(places()), sdk);
    Places noHome = places();
    noHome.home.clear();
    EXPECT_EQ(ToolLocator::findADB(noHome), std::nullopt);
    const std::string local = file("/usr/local/bin/adb", 0775);
    EXPECT_EQ(ToolLocator::findADB(places()), local);
    // A link out of the allowed folders, into the user's own files.
    link("/usr/bin/adb", file(home() + "/Downloads/adb"));
    EXPECT_EQ(ToolLocator::findADB(places()), local);
    ::chmod(local.c_str(), 0777);
    EXPECT_EQ(ToolLocator::findADB(places()), sdk);
    // Debian's adb: a link into the Android SDK folder, resolved.
    fs::remove(at("/usr/bin/adb"));
    link("/usr/bin/adb", "../lib/android-sdk/platform-tools/adb");
    const std::string debian = file("/usr/lib/android-sdk/platform-tools/adb");
    EXPECT_EQ(ToolLocator::findADB(places()), debian);
    const std::string opt = file("/opt/android-sdk/platform-tools/adb");
    EXPECT_EQ(ToolLocator::adbCandidates(places()), (std::vector { debian, sdk, opt }));
}

TEST_F(ToolLocatorTest, ScrcpyFromTheNewestCompleteHomebrewVersion)
{
    const std::string cellar = "/home/linuxbrew/.linuxbrew/Cellar/scrcpy/";
    const std::string oldest = file(cellar + "2.4/bin/scrcpy");
    const std::string older = file(cellar + "2.10/bin/scrcpy");
    folder(cellar + "3.1/bin"); // being installed: no executable yet
    EXPECT_EQ(ToolLocator::findScrcpy(places()), older);
    link("/home/linuxbrew/.linuxbrew/bin/scrcpy", "../Cellar/scrcpy/2.4/bin/scrcpy");
    EXPECT_EQ(ToolLocator::findScrcpy(places()), oldest);
    folder("/usr/bin/scrcpy"); // a directory named like the tool is passed over
    const std::string local = file("/usr/local/bin/scrcpy");
    EXPECT_EQ(ToolLocator::findScrcpy(places()), local);
}

TEST_F(ToolLocatorTest, ScrcpyInstalledOnPurposeWinsOverTheDistributionsAndASnapRunsByItsName)
{
    const std::string distribution = file("/usr/bin/scrcpy");
    // The snap command leads to the launcher, which is run by the command's name.
    const std::string snap = link("/snap/bin/scrcpy", file("/usr/bin/snap"));
    for (const mode_t folderMode : { 0755, 0775 }) {
        ::chmod(at("/snap/bin").c_str(), folderMode);
        EXPECT_EQ(ToolLocator::findScrcpy(places()), folderMode == 0755 ? snap : distribution);
    }
    fs::remove(snap); // a command that leads elsewhere is not the system's
    link("/snap/bin/scrcpy", file(home() + "/scrcpy"));
    ::chmod(at("/snap/bin").c_str(), 0755);
    EXPECT_EQ(ToolLocator::findScrcpy(places()), distribution);
}

// <prefix>/libexec/tessaly with adb and scrcpy, <prefix>/share/tessaly/engine with the server.
struct BuiltIn {
    explicit BuiltIn(const Tree& tree)
        : helpers(tree.folder(tree.prefix() + "/libexec/tessaly"))
        , adb(tree.file(helpers + "/adb"))
        , scrcpy(tree.file(helpers + "/scrcpy"))
        , engine(tree.folder(tree.prefix() + "/share/tessaly/engine"))
        , server(tree.file(engine + "/scrcpy-server", 0644))
    {
    }
    std::string helpers, adb, scrcpy, engine, server;
};

TEST_F(ToolLocatorTest, BuiltInToolsComeFirstWhenLockedDown)
{
    file("/usr/bin/adb");
    file("/usr/bin/scrcpy");
    const BuiltIn own(*this);
    const auto tools = ToolLocator::BuiltInTools::at(places());
    EXPECT_TRUE(tools.usable);
    EXPECT_EQ(tools.tool("../tessaly/adb"), std::nullopt);
    EXPECT_EQ(ToolLocator::findADB(places()), own.adb);
    EXPECT_EQ(ToolLocator::findScrcpy(places()), own.scrcpy);
    EXPECT_EQ(tools.environment(),
        (std::map<std::string, std::string> {
            { "SCRCPY_SERVER_PATH", own.server }, { "SCRCPY_ICON_DIR", own.engine } }));
    // The environment needs a locked-down server file.
    ::chmod(own.server.c_str(), 0664);
    EXPECT_TRUE(tools.environment().empty());
    fs::remove(own.server);
    EXPECT_TRUE(tools.environment().empty());
    EXPECT_TRUE(ToolLocator::BuiltInTools::at(places()).usable);
    // The test binary itself is not installed: no built-in tools, no extra environment.
    EXPECT_FALSE(ToolLocator::builtIn().usable);
    EXPECT_TRUE(ToolLocator::builtInEnvironment().empty());
}

TEST_F(ToolLocatorTest, BuiltInToolsIgnoredUnlessOwnedAndNotWritable)
{
    const std::vector<std::pair<std::string, std::function<void(const BuiltIn&)>>> spoilers = {
        { "group-writable folder", [](const BuiltIn& own) { ::chmod(own.helpers.c_str(), 0775); } },
        { "group-writable file", [](const BuiltIn& own) { ::chmod(own.adb.c_str(), 0775); } },
        { "no helpers folder", [](const BuiltIn& own) { fs::remove_all(own.helpers); } },
    };
    for (const auto& [name, spoil] : spoilers) {
        Tree tree;
        const std::string system = tree.file("/usr/bin/adb");
        spoil(BuiltIn(tree));
        const auto tools = ToolLocator::BuiltInTools::at(tree.places());
        EXPECT_FALSE(tools.usable) << name;
        EXPECT_TRUE(tools.environment().empty()) << name;
        EXPECT_EQ(ToolLocator::findADB(tree.places()), system) << name;
    }
    // Files of another owner.
    const BuiltIn own(*this);
    Places stranger = places();
    stranger.requiredOwner = ::getuid() + 1000;
    EXPECT_FALSE(ToolLocator::BuiltInTools::at(stranger).usable);
}

} // namespace
} // namespace tessaly
