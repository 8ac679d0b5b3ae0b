#pragma once

// The files a stand-in tool shares with the test that scripts it. Every value is a token
// "<length>:<bytes>", so arguments and answers may hold any byte, line breaks and NULs included.

#include "support/StandInTool.h"

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace tessaly::test::standin {

// Files beside the executable <folder>/<name>.
inline std::string tablePath(const std::string& executable)
{
    return executable + ".answers";
}
inline std::string callsPath(const std::string& executable)
{
    return executable + ".calls";
}
inline std::string counterPath(const std::string& executable, std::uint64_t ruleId)
{
    return executable + ".sequence-" + std::to_string(ruleId);
}

inline std::string readAll(int fd)
{
    std::string data;
    char buffer[65536];
    ssize_t count;
    while ((count = ::read(fd, buffer, sizeof buffer)) > 0 || (count < 0 && errno == EINTR)) {
        if (count > 0)
            data.append(buffer, static_cast<std::size_t>(count));
    }
    return data;
}

// Empty when the file cannot be read.
inline std::string readFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    std::string data = readAll(fd);
    ::close(fd);
    return data;
}

inline void putToken(std::string& out, std::string_view token)
{
    out += std::to_string(token.size());
    out += ':';
    out += token;
}

inline void putNumber(std::string& out, double value)
{
    char text[64];
    const auto written = std::to_chars(text, text + sizeof text, value);
    putToken(out, std::string_view(text, static_cast<std::size_t>(written.ptr - text)));
}

class TokenReader {
public:
    explicit TokenReader(std::string_view data)
        : m_data(data)
    {
    }

    bool ok() const { return m_ok; }
    bool atEnd() const { return m_pos >= m_data.size(); }

    std::string_view token()
    {
        const auto colon = m_data.find(':', m_pos);
        std::size_t length = 0;
        if (colon == std::string_view::npos
            || std::from_chars(m_data.data() + m_pos, m_data.data() + colon, length).ptr
                != m_data.data() + colon
            || length > m_data.size() - colon - 1) {
            m_ok = false;
            m_pos = m_data.size();
            return {};
        }
        m_pos = colon + 1 + length;
        return m_data.substr(colon + 1, length);
    }

    double number()
    {
        const std::string text(token());
        return m_ok ? std::strtod(text.c_str(), nullptr) : 0;
    }

    // A count of following items, bounded by what is left so a damaged file cannot ask for much.
    std::size_t count()
    {
        const double value = number();
        if (!(value >= 0) || value > static_cast<double>(m_data.size() - m_pos)) {
            m_ok = false;
            return 0;
        }
        return static_cast<std::size_t>(value);
    }

private:
    std::string_view m_data;
    std::size_t m_pos = 0;
    bool m_ok = true;
};

inline void putAnswer(std::string& out, const StandInTool::Answer& answer)
{
    putToken(out, answer.out);
    putToken(out, answer.err);
    putNumber(out, answer.exitCode);
    putNumber(out, answer.delay);
    putNumber(out, static_cast<double>(answer.chunks.size()));
    for (const StandInTool::Chunk& chunk : answer.chunks) {
        putToken(out, chunk.text);
        putNumber(out, chunk.toStderr ? 1 : 0);
        putNumber(out, chunk.delayBefore);
        putNumber(out, static_cast<double>(chunk.repeat));
    }
    putNumber(out, answer.ignoreSigterm ? 1 : 0);
    putNumber(out, answer.ignoreSigint ? 1 : 0);
    putNumber(out, answer.backgroundChildSeconds);
    putNumber(out, answer.printEnvironment ? 1 : 0);
    putNumber(out, answer.raiseSignal);
}

inline StandInTool::Answer readAnswer(TokenReader& in)
{
    StandInTool::Answer answer;
    answer.out = in.token();
    answer.err = in.token();
    answer.exitCode = static_cast<int>(in.number());
    answer.delay = in.number();
    const std::size_t chunks = in.count();
    for (std::size_t i = 0; i < chunks && in.ok(); ++i) {
        StandInTool::Chunk chunk;
        chunk.text = in.token();
        chunk.toStderr = in.number() != 0;
        chunk.delayBefore = in.number();
        chunk.repeat = static_cast<std::size_t>(in.number());
        answer.chunks.push_back(std::move(chunk));
    }
    answer.ignoreSigterm = in.number() != 0;
    answer.ignoreSigint = in.number() != 0;
    answer.backgroundChildSeconds = in.number();
    answer.printEnvironment = in.number() != 0;
    answer.raiseSignal = static_cast<int>(in.number());
    return answer;
}

// The table: a rule count, then per rule its kind ('E'xact, 'P'refix, 'O'therwise), id,
// arguments and answers.
struct Rule {
    char kind = 'O';
    std::uint64_t id = 0;
    std::vector<std::string> arguments;
    std::vector<StandInTool::Answer> answers;
};

inline std::vector<Rule> readTable(std::string_view data)
{
    TokenReader in(data);
    std::vector<Rule> rules;
    const std::size_t count = in.count();
    for (std::size_t i = 0; i < count && in.ok(); ++i) {
        Rule rule;
        const std::string_view kind = in.token();
        rule.kind = kind.empty() ? 'O' : kind.front();
        rule.id = static_cast<std::uint64_t>(in.number());
        const std::size_t arguments = in.count();
        for (std::size_t a = 0; a < arguments && in.ok(); ++a)
            rule.arguments.emplace_back(in.token());
        const std::size_t answers = in.count();
        for (std::size_t a = 0; a < answers && in.ok(); ++a)
            rule.answers.push_back(readAnswer(in));
        if (in.ok() && !rule.answers.empty())
            rules.push_back(std::move(rule));
    }
    return rules;
}

// One record per call: the argument count, then the arguments.
inline std::string callRecord(const std::vector<std::string>& arguments)
{
    std::string record;
    putNumber(record, static_cast<double>(arguments.size()));
    for (const std::string& argument : arguments)
        putToken(record, argument);
    return record;
}

inline std::vector<std::vector<std::string>> readCalls(std::string_view data)
{
    TokenReader in(data);
    std::vector<std::vector<std::string>> calls;
    while (!in.atEnd()) {
        const std::size_t count = in.count();
        std::vector<std::string> arguments;
        for (std::size_t i = 0; i < count && in.ok(); ++i)
            arguments.emplace_back(in.token());
        if (!in.ok())
            break;
        calls.push_back(std::move(arguments));
    }
    return calls;
}

} // namespace tessaly::test::standin
