#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <QUrl>

#include "platform/DesktopLauncher.h"
#include "platform/ServiceAdvertiser.h"
#include "quickshare/QuickShareWire.h"

namespace tessaly::test {

// Announces at once, or reports `failure` instead; every published service is kept.
struct FakeAdvertiser : ServiceAdvertiser {
    std::optional<std::string> failure;
    std::vector<Service> published;
    void publish(Service service, std::function<std::string()>, Handlers handlers) override
    {
        published.push_back(service);
        failure ? handlers.failed(*failure) : handlers.established(service.name);
    }
    void withdraw() override { }
};

// What would have been shown in the file manager or opened in the browser.
struct RecordingDesktop : DesktopLauncher {
    std::vector<std::vector<std::string>> shown;
    std::vector<QUrl> opened;
    void showInFolder(const std::vector<std::string>& paths) override { shown.push_back(paths); }
    void openLink(const QUrl& link) override { opened.push_back(link); }
};

// Bytes written as hexadecimal pairs; spaces between them are skipped.
inline Bytes hex(std::string_view text)
{
    Bytes out;
    for (std::size_t i = 0; i + 1 < text.size();) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16)));
        i += 2;
    }
    return out;
}

} // namespace tessaly::test
