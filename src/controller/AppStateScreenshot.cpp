#include "controller/AppState.h"

#include <algorithm>

#include <QtConcurrent/QtConcurrentRun>

#include <QCoroFuture>

#include "controller/ScreenshotFile.h"
#include "phone/ScreenImage.h"
#include "tools/Text.h"

namespace tessaly {

namespace {

const char* const kTryAgainAdvice
    = "Unlock your phone and try again. Some apps don’t allow pictures of their screen.";

// Why the phone's answer is no picture, in the user's words; none when it is one.
std::optional<FriendlyError> problemWith(const ProcessRunner::RawRun& run, const ScreenImage::Check& image)
{
    const std::string said = run.result.stdErr;
    const std::string lowered = asciiLowercase(said);
    if (run.result.timedOut)
        return FriendlyError { "Your phone took too long to send the screenshot.",
            "Unlock your phone, keep its screen on, and try again.", said };
    if (run.overflowed)
        return FriendlyError { "The screenshot was too large.",
            "Your phone sent more than 64 MB, more than any screen needs. Try again, or restart the "
            "phone if it keeps happening.",
            said };
    switch (image.problem) {
    case ScreenImage::Problem::none:
        return std::nullopt;
    case ScreenImage::Problem::empty:
        if (lowered.find("unauthorized") != std::string::npos)
            return AppState::waitingForPermissionError();
        if (lowered.find("not found") != std::string::npos || lowered.find("offline") != std::string::npos
            || lowered.find("no devices") != std::string::npos)
            return AppState::phoneNotFoundError(said);
        return FriendlyError { "Your phone didn’t send a picture.", kTryAgainAdvice, said };
    case ScreenImage::Problem::notPNG:
        return FriendlyError { "Your phone didn’t send a picture.", kTryAgainAdvice, said };
    case ScreenImage::Problem::truncated:
        return FriendlyError { "The screenshot arrived incomplete.",
            "The link to your phone was interrupted. Check the cable or the Wi-Fi and try again.", said };
    case ScreenImage::Problem::implausibleSize:
        return FriendlyError { "The screenshot isn’t a picture Tessaly can use.",
            "Your phone described a picture of " + std::to_string(image.width) + " × "
                + std::to_string(image.height)
                + " pixels, which no screen has. Try again, or restart the phone.",
            said };
    }
    return std::nullopt;
}

} // namespace

void AppState::saveScreenshot()
{
    if (m_busyMessage)
        return;
    launchTask(saveScreenshotNow());
}

QCoro::Task<> AppState::saveScreenshotNow()
{
    if (!m_adb) {
        showError(missingToolsError());
        co_return;
    }
    const ADB adb = *m_adb;
    setBusyMessage("Taking a screenshot…");
    const std::vector<Device> listed = co_await listDevices();
    setDevices(listed);
    const std::optional<Device> device = pickDevice(co_await chosenLinks(listed));
    if (!device) {
        const bool waiting = std::any_of(
            listed.begin(), listed.end(), [](const Device& d) { return d.state == "unauthorized"; });
        showError(waiting ? waitingForPermissionError() : phoneNotFoundError(""));
        co_return;
    }

    ProcessRunner::RawRun taken = co_await adb.screencap(device->serial);
    const ScreenImage::Check image = ScreenImage::check(taken.bytes);
    if (const auto problem = problemWith(taken, image)) {
        showError(*problem);
        co_return;
    }

    const std::optional<std::string> folder
        = m_services.picturesFolder ? m_services.picturesFolder() : std::nullopt;
    if (!folder) {
        showError({ "Couldn’t save the screenshot.",
            "Tessaly couldn’t find or make your Pictures folder. Check that your home folder can be written.",
            "" });
        co_return;
    }
    const std::string name
        = ScreenshotFile::name(m_services.localTime ? m_services.localTime() : QDateTime::currentDateTime());
    // Up to 64 MiB reach the disk off the GUI thread.
    taken.bytes.resize(image.end);
    // Built outside the co_await: GCC 12 destroys a lambda temporary there twice.
    auto write = [folder = *folder, name, bytes = std::move(taken.bytes)] {
        return ScreenshotFile::save(folder, name, bytes);
    };
    QFuture<ScreenshotFile::Saved> writing = QtConcurrent::run(std::move(write));
    const ScreenshotFile::Saved saved = co_await writing;
    if (!saved.path) {
        showError({ "Couldn’t save the screenshot.",
            "Check that your Pictures folder (" + *folder
                + ") has free space and can be written, then try again. Nothing was left behind.",
            saved.error });
        co_return;
    }
    setBusyMessage(std::nullopt);
    const std::string savedName = saved.path->substr(saved.path->rfind('/') + 1);
    m_services.presenter->showSaved(
        "Screenshot saved", "“" + savedName + "” is in your Pictures folder.", *saved.path);
}

} // namespace tessaly
