#pragma once

// The files a stand-in tool <folder>/<name> shares with the test that scripts it, named
// <name>.answers, .calls, .inputs, .phone, .gone and .sequence-<rule>. Every value is a token
// "<length>:<bytes>", so arguments and answers may hold any byte, line breaks and NULs included.

#include "support/StandInTool.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace tessaly::test::standin {

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

using Rule = StandInTool::Rule;

struct Phone {
    std::string root;
    double bytesPerSecond = 0;
    long long vanishAfterBytes = -1; // per copy
};

// Every field of the shared records, listed once for writing and reading alike.
template <typename F> void fields(F& f, StandInTool::Chunk& c)
{
    f(c.text, c.toStderr, c.delayBefore, c.repeat);
}
template <typename F> void fields(F& f, StandInTool::Answer& a)
{
    f(a.out, a.err, a.exitCode, a.delay, a.chunks, a.ignoreSigterm, a.ignoreSigint, a.backgroundChildSeconds,
        a.printEnvironment, a.raiseSignal, a.readsInput);
}
template <typename F> void fields(F& f, Rule& r)
{
    f(r.kind, r.id, r.arguments, r.answers);
}
template <typename F> void fields(F& f, Phone& p)
{
    f(p.root, p.bytesPerSecond, p.vanishAfterBytes);
}

class Writer {
public:
    std::string out;
    template <typename... T> void operator()(T&... values) { (put(values), ...); }

private:
    void put(std::string& token) { put(std::as_const(token)); }
    void put(const std::string& token) { out += std::to_string(token.size()) + ':' + token; }
    template <typename T>
    requires std::is_arithmetic_v<T>
    void put(T& value)
    {
        char text[64];
        const auto written = std::to_chars(text, text + sizeof text, static_cast<double>(value));
        put(std::string(text, written.ptr));
    }
    template <typename T> void put(std::vector<T>& items)
    {
        std::size_t count = items.size();
        put(count);
        for (T& item : items)
            put(item);
    }
    template <typename T> void put(T& record) { fields(*this, record); }
};

template <typename T> std::string encode(T value)
{
    Writer writer;
    writer(value);
    return writer.out;
}

// Reads what Writer wrote; a damaged file reads as not ok, and cannot ask for much memory.
class Reader {
public:
    explicit Reader(std::string_view data)
        : m_data(data)
    {
    }
    bool ok() const { return m_ok; }
    bool atEnd() const { return m_pos >= m_data.size(); }
    template <typename... T> void operator()(T&... values) { (get(values), ...); }

private:
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
    void get(std::string& value) { value = token(); }
    template <typename T>
    requires std::is_arithmetic_v<T>
    void get(T& value)
    {
        const std::string text(token());
        value = static_cast<T>(m_ok ? std::strtod(text.c_str(), nullptr) : 0);
    }
    template <typename T> void get(std::vector<T>& items)
    {
        double count = 0;
        get(count);
        m_ok = m_ok && count >= 0 && count <= static_cast<double>(m_data.size() - m_pos);
        for (std::size_t i = 0; m_ok && i < static_cast<std::size_t>(count); ++i)
            get(items.emplace_back());
    }
    template <typename T> void get(T& record) { fields(*this, record); }

    std::string_view m_data;
    std::size_t m_pos = 0;
    bool m_ok = true;
};

// The value in `data`, or none when it is damaged or missing.
template <typename T> std::optional<T> decode(std::string_view data)
{
    Reader reader(data);
    T value {};
    reader(value);
    return reader.ok() ? std::optional(std::move(value)) : std::nullopt;
}

// The calls file holds one argument list after another.
inline std::vector<std::vector<std::string>> readCalls(std::string_view data)
{
    Reader reader(data);
    std::vector<std::vector<std::string>> calls;
    while (!reader.atEnd()) {
        std::vector<std::string> arguments;
        reader(arguments);
        if (!reader.ok())
            break;
        calls.push_back(std::move(arguments));
    }
    return calls;
}

} // namespace tessaly::test::standin
