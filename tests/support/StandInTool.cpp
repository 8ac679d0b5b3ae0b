#include "support/StandInTool.h"

#include "support/standin/StandInFormat.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef TESSALY_STANDIN_PATH
#error "TESSALY_STANDIN_PATH must name the built tessaly_standin helper"
#endif

namespace tessaly::test {

namespace {

[[noreturn]] void fail(const std::string& what)
{
    throw std::system_error(errno, std::generic_category(), "stand-in tool: " + what);
}

// Written aside and renamed into place, so a running stand-in sees the old file or the
// new one, never half of one. Close-on-exec throughout: a descriptor open for writing
// that leaks into a concurrently spawned child would make exec of the stand-in fail
// with ETXTBSY.
void replaceFile(const std::string& path, std::string_view data, mode_t mode)
{
    const std::string aside = path + ".new";
    const int fd = ::open(aside.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0)
        fail("cannot create " + aside);
    while (!data.empty()) {
        const ssize_t count = ::write(fd, data.data(), data.size());
        if (count <= 0 && errno != EINTR)
            fail("cannot write " + aside);
        data.remove_prefix(static_cast<std::size_t>(std::max<ssize_t>(count, 0)));
    }
    ::fchmod(fd, mode);
    ::close(fd);
    if (::rename(aside.c_str(), path.c_str()) != 0)
        fail("cannot rename " + aside);
}

std::string temporaryFolder()
{
    std::string pattern = std::filesystem::temp_directory_path() / "tessaly-standin-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        fail("cannot create a temporary folder");
    // Canonical, so that paths the code under test resolves compare equal to ours.
    return std::filesystem::canonical(pattern).string();
}

} // namespace

StandInTool::StandInTool(std::string name)
    : StandInTool(std::move(name), std::string())
{
}

StandInTool::StandInTool(std::string name, const std::string& folder)
    : m_name(std::move(name))
    , m_folder(folder.empty() ? temporaryFolder() : folder)
    , m_ownsFolder(folder.empty())
{
    std::filesystem::create_directories(m_folder);
    static const std::string helper = standin::readFile(TESSALY_STANDIN_PATH);
    if (helper.empty())
        fail("cannot read " TESSALY_STANDIN_PATH);
    replaceFile(path(), helper, 0755);
}

StandInTool::~StandInTool()
{
    std::error_code ignored;
    if (m_ownsFolder)
        std::filesystem::remove_all(m_folder, ignored);
}

void StandInTool::addRule(Rule rule)
{
    rule.id = m_nextId++;
    std::erase_if(m_rules, [&](const Rule& old) {
        return old.kind == rule.kind && (rule.kind == 'O' || old.arguments == rule.arguments);
    });
    m_rules.push_back(std::move(rule));
    replaceFile(path() + ".answers", standin::encode(m_rules), 0644);
}

void StandInTool::writeBeside(const std::string& ending, std::string_view data)
{
    replaceFile(path() + ending, data, 0644);
}

void StandInTool::on(const std::vector<std::string>& arguments, const Answer& answer)
{
    addRule({ 'E', 0, arguments, { answer } });
}

void StandInTool::onSequence(const std::vector<std::string>& arguments, const std::vector<Answer>& answers)
{
    if (answers.empty())
        throw std::invalid_argument("stand-in tool: a sequence needs at least one answer");
    addRule({ 'E', 0, arguments, answers });
}

void StandInTool::onPrefix(const std::vector<std::string>& prefix, const Answer& answer)
{
    addRule({ 'P', 0, prefix, { answer } });
}

void StandInTool::otherwise(const Answer& answer)
{
    addRule({ 'O', 0, {}, { answer } });
}

std::string StandInTool::path() const
{
    return m_folder + "/" + m_name;
}

std::string StandInTool::folder() const
{
    return m_folder;
}

std::vector<std::vector<std::string>> StandInTool::calls() const
{
    const int fd = ::open((path() + ".calls").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    // A stand-in still running may be appending its record.
    ::flock(fd, LOCK_SH);
    const std::string data = standin::readAll(fd);
    ::close(fd);
    return standin::readCalls(data);
}

std::vector<std::string> StandInTool::inputs() const
{
    const std::string data = standin::readFile(path() + ".inputs");
    std::vector<std::string> inputs;
    for (const auto& record : standin::readCalls(data))
        inputs.push_back(record.empty() ? std::string() : record.front());
    return inputs;
}

void StandInTool::clearCalls()
{
    const int fd = ::open((path() + ".calls").c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::flock(fd, LOCK_EX);
    const int cleared = ::ftruncate(fd, 0);
    ::close(fd);
    if (cleared != 0)
        fail("cannot clear the calls");
}

void StandInTool::playPhone(const std::string& root, const PhoneOptions& options)
{
    std::filesystem::create_directories(root);
    ::unlink((path() + ".gone").c_str());
    replaceFile(path() + ".phone",
        standin::encode(standin::Phone {
            std::filesystem::canonical(root).string(), options.bytesPerSecond, options.vanishAfterBytes }),
        0644);
}

} // namespace tessaly::test

namespace tessaly::test {

void actAsAdb(StandInTool& adb, const std::string& version)
{
    const std::string about
        = "Android Debug Bridge version 1.0.41\nVersion " + version + "\nInstalled as " + adb.path() + "\n";
    adb.on({ "version" }, { .out = about });
    // The head of adb 29's help; the rest of its 120 lines lists more commands.
    const std::string help = about
        + "global options:\n -a         listen on all network interfaces, not just localhost\n"
          "general commands:\n devices [-l]             list connected devices (-l for long output)\n";
    if (std::strtol(version.c_str(), nullptr, 10) < 30)
        adb.onPrefix({ "pair" }, { .out = help, .exitCode = 1 });
}

} // namespace tessaly::test
