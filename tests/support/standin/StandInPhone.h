#pragma once

// The stand-in adb as a phone: "/sdcard" is a folder of the test's temporary directory, and
// "ls", "push" and "pull" answer as adb does, moving real bytes.

#include "support/standin/StandInFormat.h"

#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tessaly::test::standin {

inline std::string phonePath(const std::string& executable)
{
    return executable + ".phone";
}
inline std::string gonePath(const std::string& executable)
{
    return executable + ".gone";
}

struct Phone {
    std::string root;
    double bytesPerSecond = 0;
    long long vanishAfterBytes = -1; // per copy
};

inline std::string phoneTable(const Phone& phone)
{
    std::string table;
    putToken(table, phone.root);
    putNumber(table, phone.bytesPerSecond);
    putNumber(table, static_cast<double>(phone.vanishAfterBytes));
    return table;
}

inline std::optional<Phone> readPhone(const std::string& executable)
{
    const std::string data = readFile(phonePath(executable));
    if (data.empty())
        return std::nullopt;
    TokenReader in(data);
    Phone phone;
    phone.root = std::string(in.token());
    phone.bytesPerSecond = in.number();
    phone.vanishAfterBytes = static_cast<long long>(in.number());
    return in.ok() ? std::optional(phone) : std::nullopt;
}

class PhonePlayer {
public:
    PhonePlayer(std::string executable, Phone phone, void (*sleep)(double))
        : m_executable(std::move(executable))
        , m_phone(std::move(phone))
        , m_sleep(sleep)
    {
    }

    // The exit status, or -1 when the arguments are not a phone command.
    int play(const std::vector<std::string>& arguments)
    {
        if (arguments.size() < 3 || arguments[0] != "-s")
            return -1;
        const std::string& command = arguments[2];
        if (command != "ls" && command != "push" && command != "pull")
            return -1;
        if (::access(gonePath(m_executable).c_str(), F_OK) == 0)
            return fail("adb: device '" + arguments[1] + "' not found");
        if (command == "ls" && arguments.size() == 4)
            return list(arguments[3]);
        if (command == "push" && arguments.size() == 5)
            return copy(arguments[3], local(arguments[4]), "pushed", arguments[4]);
        const bool keep = arguments.size() == 6 && arguments[3] == "-a";
        if (command == "pull" && (arguments.size() == 5 || keep)) {
            const std::string& from = arguments[arguments.size() - 2];
            return copy(local(from), arguments.back(), "pulled", from);
        }
        return fail("adb: usage: unknown command");
    }

private:
    // "/sdcard/DCIM" -> <root>/DCIM; anything outside "/sdcard" maps to a place that is not there.
    std::string local(const std::string& phone) const
    {
        if (phone == "/sdcard" || phone.rfind("/sdcard/", 0) == 0)
            return m_phone.root + phone.substr(7);
        return m_phone.root + "/../outside-shared-storage" + phone;
    }

    static int fail(const std::string& message)
    {
        const std::string line = message + "\n";
        ::write(STDERR_FILENO, line.data(), line.size());
        return 1;
    }

    int list(const std::string& phone) const
    {
        namespace fs = std::filesystem;
        const std::string folder = local(phone);
        std::error_code error;
        if (!fs::is_directory(folder, error))
            return 0;
        std::vector<std::string> names { ".", ".." };
        for (const auto& entry : fs::directory_iterator(folder, error))
            names.push_back(entry.path().filename().string());
        std::string out;
        for (const std::string& name : names) {
            struct stat info { };
            if (::lstat((folder + "/" + name).c_str(), &info) != 0)
                continue;
            char numbers[64];
            std::snprintf(numbers, sizeof numbers, "%08x %08" PRIx64 " %08" PRIx64 " ", info.st_mode,
                static_cast<std::uint64_t>(info.st_size), static_cast<std::uint64_t>(info.st_mtime));
            out += numbers + name + "\n";
        }
        ::write(STDOUT_FILENO, out.data(), out.size());
        return 0;
    }

    int copy(const std::string& from, std::string to, const std::string& verb, const std::string& shown)
    {
        namespace fs = std::filesystem;
        std::error_code error;
        if (!fs::exists(from, error)) {
            return fail(verb == "pushed"
                    ? "adb: error: cannot stat '" + from + "': No such file or directory"
                    : "adb: error: failed to stat remote object '" + shown + "': No such file or directory");
        }
        if (fs::is_directory(to, error))
            to += "/" + fs::path(from).filename().string();
        else if (verb == "pushed") // adb push makes the folders on the way
            fs::create_directories(fs::path(to).parent_path(), error);
        m_pushing = verb == "pushed";
        const int status = fs::is_directory(from, error) ? copyFolder(from, to) : copyFile(from, to);
        if (status != 0)
            return status;
        const std::string done = shown + ": " + std::to_string(m_files) + " file" + (m_files == 1 ? "" : "s")
            + " " + verb + ", 0 skipped. (" + std::to_string(m_written) + " bytes)\n";
        ::write(STDOUT_FILENO, done.data(), done.size());
        return 0;
    }

    int copyFolder(const std::string& from, const std::string& to)
    {
        namespace fs = std::filesystem;
        std::error_code error;
        fs::create_directories(to, error);
        for (const auto& entry : fs::directory_iterator(from, error)) {
            const std::string name = entry.path().filename().string();
            const int status = entry.is_directory() ? copyFolder(from + "/" + name, to + "/" + name)
                                                    : copyFile(from + "/" + name, to + "/" + name);
            if (status != 0)
                return status;
        }
        return 0;
    }

    int copyFile(const std::string& from, const std::string& to)
    {
        const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
        if (in < 0)
            return fail("adb: error: cannot open '" + from + "': Permission denied");
        const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        // The phone's adbd deletes a file whose push was cut off; a pull leaves its part behind.
        if (out >= 0 && m_pushing)
            removeWhenStopped(to);
        if (out < 0) {
            ::close(in);
            return fail("adb: error: failed to copy '" + from + "' to '" + to
                + "': remote couldn't create file: Permission denied");
        }
        const std::size_t chunk = m_phone.bytesPerSecond > 0 ? 16384 : 1 << 20;
        std::vector<char> buffer(chunk);
        int status = 0;
        while (true) {
            const ssize_t count = ::read(in, buffer.data(), buffer.size());
            if (count <= 0)
                break;
            if (m_phone.vanishAfterBytes >= 0 && m_written + count > m_phone.vanishAfterBytes) {
                const auto part = static_cast<std::size_t>(m_phone.vanishAfterBytes - m_written);
                ::write(out, buffer.data(), part);
                ::close(::open(gonePath(m_executable).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
                if (m_pushing)
                    ::unlink(to.c_str());
                status = fail("adb: error: failed to copy '" + from + "' to '" + to
                    + "': no response: Connection reset by peer");
                break;
            }
            if (::write(out, buffer.data(), static_cast<std::size_t>(count)) != count) {
                status = fail("adb: error: write failed: No space left on device");
                break;
            }
            m_written += count;
            if (m_phone.bytesPerSecond > 0)
                m_sleep(static_cast<double>(count) / m_phone.bytesPerSecond);
        }
        ::close(in);
        ::close(out);
        ++m_files;
        return status;
    }

    static void removeWhenStopped(const std::string& path)
    {
        static std::string partial;
        partial = path;
        std::signal(SIGTERM, [](int) {
            ::unlink(partial.c_str());
            _exit(143);
        });
    }

    std::string m_executable;
    bool m_pushing = false;
    Phone m_phone;
    void (*m_sleep)(double);
    long long m_written = 0;
    int m_files = 0;
};

} // namespace tessaly::test::standin
