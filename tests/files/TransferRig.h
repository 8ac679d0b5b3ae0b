#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <QCoroTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include "files/FileBrowser.h"
#include "files/FileTransfers.h"
#include "support/StandInTool.h"

namespace tessaly {
inline void PrintTo(const FileTransfers::Summary& summary, std::ostream* out)
{
    *out << "{copied " << summary.copied << ", cancelled " << summary.cancelled << ", changedPhone "
         << summary.changedPhone << ", failures:";
    for (const std::string& line : summary.failures)
        *out << " [" << line << "]";
    *out << "}";
}
} // namespace tessaly

namespace tessaly::test {

inline void writeFile(const std::string& path, const std::string& contents)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << contents;
}

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

// Sorted names in a folder.
inline std::vector<std::string> namesIn(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A stand-in phone whose shared storage is `phone`, and a folder `computer` for this side.
struct TransferRig {
    QTemporaryDir temporary;
    std::string phone = temporary.path().toStdString() + "/sdcard";
    std::string computer = temporary.path().toStdString() + "/computer";
    StandInTool adb { "adb" };
    ADB tool { adb.path() };
    std::string serial = "R58M12ABCDE";
    FileTransfers transfers;
    std::vector<std::string> activity;
    std::vector<FileTransfers::Summary> summaries;

    TransferRig()
    {
        std::filesystem::create_directories(computer);
        adb.playPhone(phone);
        transfers.onActivity = [this](const std::string& line) { activity.push_back(line); };
        transfers.onFinished
            = [this](const FileTransfers::Summary& summary) { summaries.push_back(summary); };
    }

    QUrl local(const std::string& relative, const std::string& contents)
    {
        writeFile(computer + "/" + relative, contents);
        return QUrl::fromLocalFile(QString::fromStdString(computer + "/" + relative));
    }

    bool waitForSummaries(std::size_t count, int timeoutMs = 10000)
    {
        return QTest::qWaitFor([&] { return summaries.size() >= count; }, timeoutMs);
    }
};

inline const Device kUsbPhone { "R58M12ABCDE", "device", "SM_G991B", Device::Connection::usb };

// A browser over the stand-in phone on USB, or over what `found` says; the search for the phone
// takes `findDelay` seconds.
struct BrowserRig : TransferRig {
    std::optional<FileBrowser::Found> found;
    double findDelay = 0;
    std::vector<std::vector<std::string>> revealed;
    FileBrowser browser { [this]() -> QCoro::Task<FileBrowser::Found> {
        const FileBrowser::Found answer
            = found.value_or(FileBrowser::Found { tool, { kUsbPhone }, kUsbPhone });
        if (findDelay > 0)
            co_await QCoro::sleepFor(std::chrono::milliseconds(int(findDelay * 1000)));
        co_return answer;
    } };

    BrowserRig()
    {
        browser.downloadsFolder = [this] { return std::optional(computer); };
        browser.revealFiles = [this](const std::vector<std::string>& paths) { revealed.push_back(paths); };
    }
    void unplug() { found = FileBrowser::Found { tool, {}, std::nullopt }; }
    bool reload()
    {
        int loads = 0;
        const auto connection = QObject::connect(&browser, &FileBrowser::loaded, [&] { ++loads; });
        browser.reload();
        const bool done = QTest::qWaitFor([&] { return loads > 0; }, 10000);
        QObject::disconnect(connection);
        return done;
    }
};

} // namespace tessaly::test
