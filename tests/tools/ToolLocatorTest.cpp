#include "tools/ToolLocator.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace tessaly {
namespace {

namespace fs = std::filesystem;
using ToolLocator::Places;

// A throw-away file-system tree: <tmp>/root (the system), <tmp>/home/ana and <tmp>/prefix.
class Tree {
public:
    Tree()
    {
        std::string pattern = (fs::temp_directory_path() / "tessaly-locator-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("no temporary folder");
        m_top = fs::canonical(pattern).string();
        fs::create_directories(root());
        fs::create_directories(home());
        fs::create_directories(prefix());
    }
    ~Tree()
    {
        std::error_code ignored;
        fs::remove_all(m_top, ignored);
    }
    Tree(const Tree&) = delete;
    Tree& operator=(const Tree&) = delete;

    std::string root() const { return m_top + "/root"; }
    std::string home() const { return m_top + "/home/ana"; }
    std::string prefix() const { return m_top + "/prefix"; }

    // `path` is absolute inside the tree's system root unless it already names a place in the tree.
    std::string at(const std::string& path) const { return path.starts_with(m_top) ? path : root() + path; }

    std::string file(const std::string& path, mode_t mode = 0755) const
    {
        const std::string full = at(path);
        fs::create_directories(fs::path(full).parent_path());
        std::ofstream(full) << "#!/bin/true\n";
        ::chmod(full.c_str(), mode);
        return full;
    }
    std::string folder(const std::string& path, mode_t mode = 0755) const
    {
        const std::string full = at(path);
        fs::create_directories(full);
        ::chmod(full.c_str(), mode);
        return full;
    }
    std::string link(const std::string& path, const std::string& target) const
    {
        const std::string full = at(path);
        fs::create_directories(fs::path(full).parent_path());
        fs::create_symlink(target, full);
        return full;
    }

    Places places() const { return { root(), home(), prefix(), ::getuid() }; }

private:
    std::string m_top;
};

TEST(ToolLocatorTest, VerifiedExecutableChecksTheRealFile)
{
    Tree tree;
    const std::vector<std::string> usrBin = { tree.at("/usr/bin/") };
    const std::string real = tree.file("/usr/lib/android-sdk/platform-tools/adb");
    struct Case {
        std::string name;
        std::string path;
        std::vector<std::string> prefixes;
        std::optional<std::string> result;
    };
    const std::vector<Case> cases = {
        { "plain tool", tree.file("/usr/bin/a", 0755), usrBin, tree.at("/usr/bin/a") },
        { "0775 passes", tree.file("/usr/bin/b", 0775), usrBin, tree.at("/usr/bin/b") },
        { "0777 is writable by others", tree.file("/usr/bin/c", 0777), usrBin, std::nullopt },
        { "0757 is writable by others", tree.file("/usr/bin/d", 0757), usrBin, std::nullopt },
        { "not executable", tree.file("/usr/bin/e", 0644), usrBin, std::nullopt },
        { "a directory", tree.folder("/usr/bin/f"), usrBin, std::nullopt },
        { "missing", tree.at("/usr/bin/g"), usrBin, std::nullopt },
        { "outside the prefixes", tree.file("/opt/h"), usrBin, std::nullopt },
        { "no prefixes", tree.at("/usr/bin/a"), {}, std::nullopt },
        { "a prefix is a folder, not a name start", tree.file("/usr/binx/i"), { tree.at("/usr/bin") },
            std::nullopt },
        { "link into an allowed folder", tree.link("/usr/bin/adb", "../lib/android-sdk/platform-tools/adb"),
            { tree.at("/usr/bin/"), tree.at("/usr/lib/") }, real },
        { "link resolved before the check", tree.at("/usr/bin/adb"), usrBin, std::nullopt },
        { "link leading outside", tree.link("/usr/bin/j", tree.file(tree.home() + "/bin/adb")), usrBin,
            std::nullopt },
        { "link to a link", tree.link("/usr/bin/k", tree.at("/usr/bin/adb")), { tree.at("/usr/") }, real },
        { "dangling link", tree.link("/usr/bin/l", tree.at("/usr/bin/none")), usrBin, std::nullopt },
    };
    for (const Case& c : cases)
        EXPECT_EQ(ToolLocator::verifiedExecutable(c.path, c.prefixes), c.result) << c.name;
}

TEST(ToolLocatorTest, FindsDebiansAdbThroughItsLink)
{
    Tree tree;
    const std::string real = tree.file("/usr/lib/android-sdk/platform-tools/adb");
    tree.link("/usr/bin/adb", "../lib/android-sdk/platform-tools/adb");
    tree.file("/usr/local/bin/adb");
    EXPECT_EQ(ToolLocator::findADB(tree.places()), real);
}

TEST(ToolLocatorTest, RejectedAdbCandidatesFallThroughInOrder)
{
    Tree tree;
    EXPECT_EQ(ToolLocator::findADB(tree.places()), std::nullopt);

    const std::string sdk = tree.file(tree.home() + "/Android/Sdk/platform-tools/adb");
    EXPECT_EQ(ToolLocator::findADB(tree.places()), sdk);
    Places noHome = tree.places();
    noHome.home.clear();
    EXPECT_EQ(ToolLocator::findADB(noHome), std::nullopt);

    const std::string local = tree.file("/usr/local/bin/adb", 0775);
    EXPECT_EQ(ToolLocator::findADB(tree.places()), local);

    // A link out of the allowed folders, into the user's own files.
    tree.link("/usr/bin/adb", tree.file(tree.home() + "/Downloads/adb"));
    EXPECT_EQ(ToolLocator::findADB(tree.places()), local);

    ::chmod(local.c_str(), 0777);
    EXPECT_EQ(ToolLocator::findADB(tree.places()), sdk);
}

TEST(ToolLocatorTest, DirectoryNamedLikeTheToolIsSkipped)
{
    Tree tree;
    tree.folder("/usr/bin/scrcpy");
    const std::string local = tree.file("/usr/local/bin/scrcpy");
    EXPECT_EQ(ToolLocator::findScrcpy(tree.places()), local);
}

TEST(ToolLocatorTest, ScrcpyFromTheNewestCompleteHomebrewVersion)
{
    Tree tree;
    const std::string cellar = "/home/linuxbrew/.linuxbrew/Cellar/scrcpy/";
    tree.file(cellar + "2.4/bin/scrcpy");
    const std::string older = tree.file(cellar + "2.10/bin/scrcpy");
    tree.folder(cellar + "3.1/bin"); // being installed: no executable yet
    EXPECT_EQ(ToolLocator::findScrcpy(tree.places()), older);

    const std::string linked
        = tree.link("/home/linuxbrew/.linuxbrew/bin/scrcpy", "../Cellar/scrcpy/2.4/bin/scrcpy");
    EXPECT_EQ(ToolLocator::findScrcpy(tree.places()), tree.at(cellar + "2.4/bin/scrcpy"));

    const std::string system = tree.file("/usr/bin/scrcpy");
    EXPECT_EQ(ToolLocator::findScrcpy(tree.places()), system);
    (void)linked;
}

TEST(ToolLocatorTest, VersionsCompareNumerically)
{
    struct Case {
        std::string lower, higher;
    };
    const std::vector<Case> cases = {
        { "35.0.9", "35.0.10" },
        { "34.0.5", "35.0.1" },
        { "2.4", "2.10" },
        { "2.4", "2.4.1" },
        { "3.1", "3.1_1" },
        { "09", "10" },
        { "a", "b" },
        { "", "1" },
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(ToolLocator::versionLess(c.lower, c.higher)) << c.lower << " < " << c.higher;
        EXPECT_FALSE(ToolLocator::versionLess(c.higher, c.lower)) << c.higher << " > " << c.lower;
    }
    EXPECT_FALSE(ToolLocator::versionLess("2.4", "2.4"));
}

// <prefix>/libexec/tessaly with adb and scrcpy, <prefix>/share/tessaly/engine with the server.
struct BuiltIn {
    explicit BuiltIn(const Tree& tree)
    {
        helpers = tree.folder(tree.prefix() + "/libexec/tessaly");
        adb = tree.file(helpers + "/adb");
        scrcpy = tree.file(helpers + "/scrcpy");
        engine = tree.folder(tree.prefix() + "/share/tessaly/engine");
        server = tree.file(engine + "/scrcpy-server", 0644);
    }
    std::string helpers, adb, scrcpy, engine, server;
};

TEST(ToolLocatorTest, BuiltInToolsComeFirstWhenLockedDown)
{
    Tree tree;
    tree.file("/usr/bin/adb");
    tree.file("/usr/bin/scrcpy");
    const BuiltIn own(tree);

    const auto tools = ToolLocator::BuiltInTools::at(tree.places());
    EXPECT_TRUE(tools.usable);
    EXPECT_EQ(tools.helpers, own.helpers);
    EXPECT_EQ(tools.engineFiles, own.engine);
    EXPECT_EQ(tools.tool("adb"), own.adb);
    EXPECT_EQ(tools.tool("../tessaly/adb"), std::nullopt);
    EXPECT_EQ(ToolLocator::findADB(tree.places()), own.adb);
    EXPECT_EQ(ToolLocator::findScrcpy(tree.places()), own.scrcpy);
    EXPECT_EQ(tools.environment(),
        (std::map<std::string, std::string> {
            { "SCRCPY_SERVER_PATH", own.server }, { "SCRCPY_ICON_DIR", own.engine } }));
}

TEST(ToolLocatorTest, BuiltInToolsIgnoredUnlessOwnedAndNotWritable)
{
    struct Case {
        std::string name;
        std::function<bool(const BuiltIn&)> spoil; // false: cannot be arranged here
    };
    const std::vector<Case> cases = {
        { "group-writable folder",
            [](const BuiltIn& own) { return ::chmod(own.helpers.c_str(), 0775) == 0; } },
        { "world-writable file", [](const BuiltIn& own) { return ::chmod(own.scrcpy.c_str(), 0757) == 0; } },
        { "group-writable file", [](const BuiltIn& own) { return ::chmod(own.adb.c_str(), 0775) == 0; } },
        { "no helpers folder", [](const BuiltIn& own) { return fs::remove_all(own.helpers) > 0; } },
        { "a file of another owner",
            [](const BuiltIn& own) {
                // Changing owners needs root.
                return ::chown(own.adb.c_str(), ::getuid() + 1000, static_cast<gid_t>(-1)) == 0;
            } },
    };
    for (const Case& c : cases) {
        Tree tree;
        const std::string system = tree.file("/usr/bin/adb");
        const BuiltIn own(tree);
        if (!c.spoil(own))
            continue;
        const auto tools = ToolLocator::BuiltInTools::at(tree.places());
        EXPECT_FALSE(tools.usable) << c.name;
        EXPECT_EQ(tools.tool("scrcpy"), std::nullopt) << c.name;
        EXPECT_TRUE(tools.environment().empty()) << c.name;
        EXPECT_EQ(ToolLocator::findADB(tree.places()), system) << c.name;
    }

    Tree tree;
    const BuiltIn own(tree);
    Places stranger = tree.places();
    stranger.requiredOwner = ::getuid() + 1000;
    EXPECT_FALSE(ToolLocator::BuiltInTools::at(stranger).usable);
}

TEST(ToolLocatorTest, BuiltInEnvironmentNeedsTheServerFile)
{
    Tree tree;
    const BuiltIn own(tree);
    ::chmod(own.server.c_str(), 0664);
    EXPECT_TRUE(ToolLocator::BuiltInTools::at(tree.places()).environment().empty());
    fs::remove(own.server);
    const auto tools = ToolLocator::BuiltInTools::at(tree.places());
    EXPECT_TRUE(tools.usable);
    EXPECT_TRUE(tools.environment().empty());
}

TEST(ToolLocatorTest, NoBuiltInsOutsideAnInstallation)
{
    // The test binary is not installed: no built-in tools, no extra environment.
    EXPECT_FALSE(ToolLocator::builtIn().usable);
    EXPECT_TRUE(ToolLocator::builtInEnvironment().empty());
    EXPECT_EQ(&ToolLocator::builtInEnvironment(), &ToolLocator::builtInEnvironment());
}

} // namespace
} // namespace tessaly
