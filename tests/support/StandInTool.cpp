#include "support/StandInTool.h"

#include "support/standin/StandInFormat.h"
#include "support/standin/StandInPhone.h"

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

void writeAll(int fd, std::string_view data, const std::string& what)
{
    while (!data.empty()) {
        const ssize_t count = ::write(fd, data.data(), data.size());
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            fail("cannot write " + what);
        data.remove_prefix(static_cast<std::size_t>(count));
    }
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
    writeAll(fd, data, aside);
    ::fchmod(fd, mode);
    ::close(fd);
    if (::rename(aside.c_str(), path.c_str()) != 0)
        fail("cannot rename " + aside);
}

std::string temporaryFolder()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern
        = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/tessaly-standin-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        fail("cannot create a temporary folder");
    // Canonical, so that paths the code under test resolves compare equal to ours.
    return std::filesystem::canonical(pattern).string();
}

} // namespace

StandInTool::StandInTool(std::string name)
    : m_name(std::move(name))
    , m_folder(temporaryFolder())
{
    if (m_name.empty() || m_name.find('/') != std::string::npos)
        throw std::invalid_argument("stand-in tool: a plain file name is needed");
    static const std::string helper = standin::readFile(TESSALY_STANDIN_PATH);
    if (helper.empty())
        fail("cannot read " TESSALY_STANDIN_PATH);
    replaceFile(path(), helper, 0755);
    writeTable();
}

StandInTool::~StandInTool()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
}

void StandInTool::addRule(Rule rule)
{
    rule.id = m_nextId++;
    std::erase_if(m_rules, [&](const Rule& old) {
        return old.kind == rule.kind
            && (rule.kind == Rule::Kind::Otherwise || old.arguments == rule.arguments);
    });
    m_rules.push_back(std::move(rule));
    writeTable();
}

void StandInTool::on(const std::vector<std::string>& arguments, const Answer& answer)
{
    addRule({ Rule::Kind::Exact, 0, arguments, { answer } });
}

void StandInTool::onSequence(const std::vector<std::string>& arguments, const std::vector<Answer>& answers)
{
    if (answers.empty())
        throw std::invalid_argument("stand-in tool: a sequence needs at least one answer");
    addRule({ Rule::Kind::Exact, 0, arguments, answers });
}

void StandInTool::onPrefix(const std::vector<std::string>& prefix, const Answer& answer)
{
    addRule({ Rule::Kind::Prefix, 0, prefix, { answer } });
}

void StandInTool::otherwise(const Answer& answer)
{
    addRule({ Rule::Kind::Otherwise, 0, {}, { answer } });
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
    const std::string log = standin::callsPath(path());
    const int fd = ::open(log.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    // A stand-in still running may be appending its record.
    ::flock(fd, LOCK_SH);
    const std::string data = standin::readAll(fd);
    ::close(fd);
    return standin::readCalls(data);
}

void StandInTool::clearCalls()
{
    const std::string log = standin::callsPath(path());
    const int fd = ::open(log.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::flock(fd, LOCK_EX);
    if (::ftruncate(fd, 0) != 0) {
        ::close(fd);
        fail("cannot clear " + log);
    }
    ::close(fd);
}

void StandInTool::playPhone(const std::string& root, const PhoneOptions& options)
{
    std::filesystem::create_directories(root);
    ::unlink(standin::gonePath(path()).c_str());
    replaceFile(standin::phonePath(path()),
        standin::phoneTable(
            { std::filesystem::canonical(root).string(), options.bytesPerSecond, options.vanishAfterBytes }),
        0644);
}

void StandInTool::writeTable() const
{
    std::string table;
    standin::putNumber(table, static_cast<double>(m_rules.size()));
    for (const Rule& rule : m_rules) {
        standin::putToken(table, std::string_view("EPO").substr(static_cast<std::size_t>(rule.kind), 1));
        standin::putNumber(table, static_cast<double>(rule.id));
        standin::putNumber(table, static_cast<double>(rule.arguments.size()));
        for (const std::string& argument : rule.arguments)
            standin::putToken(table, argument);
        standin::putNumber(table, static_cast<double>(rule.answers.size()));
        for (const Answer& answer : rule.answers)
            standin::putAnswer(table, answer);
    }
    replaceFile(standin::tablePath(path()), table, 0644);
}

} // namespace tessaly::test
