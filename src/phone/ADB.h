#pragma once

#include <optional>
#include <string>
#include <vector>

#include <QCoroTask>

#include "phone/ADBParser.h"
#include "phone/PhoneFiles.h"
#include "phone/WiFiBand.h"
#include "tools/ProcessRunner.h"

namespace tessaly {

// Runs the adb executable found by the tool locator. It holds no connection state: the
// phone's serial is an argument of each command. Commands never throw; failures are values.
struct ADB {
    struct ConnectResult {
        bool ok = false;
        std::string output;
    };

    std::string executable;
    // Every command's time limit is multiplied by this; tests shrink it to tell the limits
    // apart without waiting them out.
    double timeScale = 1;

    // Runs adb with `arguments`, the reduced tool environment and 65,536 bytes of output per stream,
    // for at most `timeoutSeconds` (times `timeScale`).
    QCoro::Task<ProcessResult> run(std::vector<std::string> arguments, double timeoutSeconds) const;

    // Opens a network link to a phone on the home network; never runs adb for any other address.
    QCoro::Task<ConnectResult> connect(std::string ip, int port) const;
    // Whether an answer to "connect" says the phone is connected.
    static bool connectSucceeded(std::string_view output);

    // The phone's IPv4 address on its Wi-Fi interface.
    QCoro::Task<std::optional<std::string>> wifiIP(std::string serial) const;

    // The band of the phone's current Wi-Fi link; none when it is not on Wi-Fi or says nothing readable.
    QCoro::Task<std::optional<WiFiBand>> wifiBand(std::string serial) const;

    // Lists one folder of the shared storage ("adb -s SERIAL ls PATH", 20 s, 8 MiB of output taken
    // as printed); a refused serial or folder runs nothing. `onStart` gets the run's stop handle.
    // Never call it on the GUI thread.
    FolderListing listBlocking(const PhoneFolder& folder, const std::string& serial,
        const std::function<void(const RunHandle&)>& onStart = {}) const;
    // The same on a worker thread, parsing included; the awaiting coroutine resumes on its own thread.
    QCoro::Task<FolderListing> list(PhoneFolder folder, std::string serial) const;

    // The phone's screen as a PNG, byte for byte ("adb -s SERIAL exec-out screencap -p", 20 s,
    // at most 64 MiB); an unsafe serial runs nothing.
    QCoro::Task<ProcessRunner::RawRun> screencap(std::string serial) const;

    static std::vector<Device> parseDevices(std::string_view output)
    {
        return ADBParser::parseDevices(output);
    }
    static Device::Connection connectionType(std::string_view serial)
    {
        return ADBParser::connectionType(serial);
    }
    static std::optional<std::string> parseIPFromRoute(std::string_view output)
    {
        return ADBParser::parseIPFromRoute(output);
    }
    static std::optional<std::string> parseIPFromAddr(std::string_view output)
    {
        return ADBParser::parseIPFromAddr(output);
    }
    static std::optional<int> parseWifiFrequency(std::string_view output)
    {
        return ADBParser::parseWifiFrequency(output);
    }
};

} // namespace tessaly
