#pragma once

// The stand-in adb as a phone: "/sdcard" is a folder of the test's temporary directory, and
// "ls", "push" and "pull" answer as adb does, moving real bytes.

#include "support/standin/StandInFormat.h"

#include <chrono>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tessaly::test::standin {

class PhonePlayer {
public:
    PhonePlayer(std::string executable, Phone phone)
        : m_gone(std::move(executable) + ".gone")
        , m_phone(std::move(phone))
    {
    }

    // The exit status, or -1 when the arguments are not a phone command.
    int play(const std::vector<std::string>& arguments)
    {
        const std::size_t count = arguments.size();
        if (count < 3 || arguments[0] != "-s"
            || (arguments[2] != "ls" && arguments[2] != "push" && arguments[2] != "pull"))
            return -1;
        const std::string& command = arguments[2];
        if (::access(m_gone.c_str(), F_OK) == 0)
            return fail("adb: device '" + arguments[1] + "' not found");
        if (command == "ls" && count == 4)
            return list(local(arguments[3]));
        m_pushing = command == "push";
        if (m_pushing && count == 5)
            return copy(arguments[3], local(arguments[4]), arguments[4]);
        if (command == "pull" && (count == 5 || (count == 6 && arguments[3] == "-a")))
            return copy(local(arguments[count - 2]), arguments.back(), arguments[count - 2]);
        return fail("adb: usage: unknown command");
    }

private:
    // "/sdcard/DCIM" -> <root>/DCIM; anything outside "/sdcard" maps to a place that is not there.
    std::string local(const std::string& phone) const
    {
        if (phone == "/sdcard" || phone.starts_with("/sdcard/"))
            return m_phone.root + phone.substr(7);
        return m_phone.root + "/../outside-shared-storage" + phone;
    }

    static int fail(const std::string& message)
    {
        const std::string line = message + "\n";
        ::write(STDERR_FILENO, line.data(), line.size());
        return 1;
    }

    static int list(const std::string& folder)
    {
        std::error_code error;
        if (!std::filesystem::is_directory(folder, error))
            return 0;
        std::vector<std::string> names { ".", ".." };
        for (const auto& entry : std::filesystem::directory_iterator(folder, error))
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

    int copy(const std::string& from, std::string to, const std::string& shown)
    {
        namespace fs = std::filesystem;
        std::error_code error;
        if (!fs::exists(from, error)) {
            return fail(m_pushing
                    ? "adb: error: cannot stat '" + from + "': No such file or directory"
                    : "adb: error: failed to stat remote object '" + shown + "': No such file or directory");
        }
        if (fs::is_directory(to, error))
            to += "/" + fs::path(from).filename().string();
        else if (m_pushing) // adb push makes the folders on the way
            fs::create_directories(fs::path(to).parent_path(), error);
        if (const int status = copyTree(from, to); status != 0)
            return status;
        const std::string done = shown + ": " + std::to_string(m_files) + " file" + (m_files == 1 ? "" : "s")
            + (m_pushing ? " pushed" : " pulled") + ", 0 skipped. (" + std::to_string(m_written)
            + " bytes)\n";
        ::write(STDOUT_FILENO, done.data(), done.size());
        return 0;
    }

    int copyTree(const std::string& from, const std::string& to)
    {
        std::error_code error;
        if (!std::filesystem::is_directory(from, error))
            return copyFile(from, to);
        std::filesystem::create_directories(to, error);
        for (const auto& entry : std::filesystem::directory_iterator(from, error)) {
            const std::string name = "/" + entry.path().filename().string();
            if (const int status = copyTree(from + name, to + name); status != 0)
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
        if (out < 0) {
            ::close(in);
            return fail("adb: error: failed to copy '" + from + "' to '" + to
                + "': remote couldn't create file: Permission denied");
        }
        // The phone's adbd deletes a file whose push was cut off; a pull leaves its part behind.
        if (m_pushing)
            removeWhenStopped(to);
        std::vector<char> buffer(m_phone.bytesPerSecond > 0 ? 16384 : 1 << 20);
        int status = 0;
        for (ssize_t count; status == 0 && (count = ::read(in, buffer.data(), buffer.size())) > 0;) {
            if (m_phone.vanishAfterBytes >= 0 && m_written + count > m_phone.vanishAfterBytes) {
                ::write(out, buffer.data(), static_cast<std::size_t>(m_phone.vanishAfterBytes - m_written));
                ::close(::open(m_gone.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
                if (m_pushing)
                    ::unlink(to.c_str());
                status = fail("adb: error: failed to copy '" + from + "' to '" + to
                    + "': no response: Connection reset by peer");
            } else if (::write(out, buffer.data(), static_cast<std::size_t>(count)) != count) {
                status = fail("adb: error: write failed: No space left on device");
            } else {
                m_written += count;
                if (m_phone.bytesPerSecond > 0)
                    std::this_thread::sleep_for(
                        std::chrono::duration<double>(static_cast<double>(count) / m_phone.bytesPerSecond));
            }
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

    std::string m_gone;
    Phone m_phone;
    bool m_pushing = false;
    long long m_written = 0;
    int m_files = 0;
};

} // namespace tessaly::test::standin
