// A developer tool: the Quick Share receiver on 127.0.0.1, unadvertised, answering every offer
// the same way and printing one JSON line per event. Runs until SIGTERM.
//
//   quickshare-harness --port P --save DIR --answer accept|decline|never

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>

#include "platform/LocalFiles.h"
#include "quickshare/QuickShareReceiver.h"

using namespace tessaly;

namespace {

int g_signalPipe[2] = { -1, -1 };

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_signalPipe[1], &byte, 1);
}

QString text(const std::string& utf8)
{
    return QString::fromStdString(utf8);
}

void print(QJsonObject line)
{
    std::fputs(QJsonDocument(line).toJson(QJsonDocument::Compact).constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

QJsonObject statusLine(const QuickShareReceiver::Status& status, std::uint16_t port)
{
    using Kind = QuickShareReceiver::Status::Kind;
    static const char* const names[] = { "on", "failed", "off", "starting" };
    QJsonObject line { { "event", "status" }, { "status", names[static_cast<int>(status.kind)] } };
    if (status.kind == Kind::on) {
        line["name"] = text(status.text);
        line["port"] = port;
    } else if (status.kind == Kind::failed) {
        line["reason"] = text(status.text);
    }
    return line;
}

QJsonObject askLine(const IncomingShare& share)
{
    static const char* const kinds[] = { "files", "text", "link" };
    QJsonObject contents { { "kind", kinds[static_cast<int>(share.contentKind)] } };
    if (share.contentKind == IncomingShare::ContentKind::files) {
        QJsonArray files;
        for (const auto& file : share.files)
            files.append(QJsonObject { { "name", text(file.name) }, { "size", qint64(file.size) } });
        contents["files"] = files;
    } else {
        contents["title"] = text(share.title);
    }
    return { { "event", "ask" }, { "id", share.id.toString(QUuid::WithoutBraces) },
        { "sender", text(share.sender) }, { "code", text(share.code) }, { "contents", contents },
        { "totalBytes", qint64(share.totalBytes) } };
}

QJsonObject finishedLine(const QUuid& id, const ShareResult& result)
{
    using Kind = ShareResult::Kind;
    static const char* const names[]
        = { "saved", "text", "link", "failed", "declined", "stopped", "cancelledByPhone", "missed" };
    QJsonObject line { { "event", "finished" }, { "id", id.toString(QUuid::WithoutBraces) },
        { "result", names[static_cast<int>(result.kind)] } };
    if (result.kind == Kind::saved) {
        QJsonArray files;
        for (const auto& path : result.savedFiles)
            files.append(text(path));
        line["files"] = files;
    } else if (result.kind == Kind::text) {
        line["text"] = text(result.text);
    } else if (result.kind == Kind::link) {
        line["link"] = text(result.text);
    } else if (result.kind == Kind::failed) {
        line["reason"] = text(result.text);
    }
    return line;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOptions({ { "port", "Port on 127.0.0.1 (0: any).", "P", "0" },
        { "save", "Folder for received files.", "DIR" },
        { "answer", "accept, decline or never.", "ANSWER", "accept" } });
    parser.addHelpOption();
    parser.process(app);
    bool portOK = false;
    const uint port = parser.value("port").toUInt(&portOK);
    const QString answer = parser.value("answer");
    const QString save = parser.value("save");
    if (!portOK || port > 65535 || save.isEmpty() || !QDir(save).exists()
        || !QStringList { "accept", "decline", "never" }.contains(answer)) {
        std::fputs("usage: quickshare-harness --port P --save DIR --answer accept|decline|never\n", stderr);
        return 2;
    }

    if (::pipe2(g_signalPipe, O_CLOEXEC) != 0)
        return 1;
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    QSocketNotifier stopper(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stopper, &QSocketNotifier::activated, &app, &QCoreApplication::quit);

    QuickShareReceiver receiver({ nullptr, steadyQuickShareClock(), &LocalFiles::availableCapacity, 5000 });
    receiver.onStatus
        = [&](const QuickShareReceiver::Status& status) { print(statusLine(status, receiver.port())); };
    receiver.onRequest = [&](const IncomingShare& share) {
        print(askLine(share));
        if (answer != "never")
            receiver.answer(share.id, answer == "accept");
    };
    receiver.onProgress = [](const QUuid& id, std::int64_t bytes) {
        print({ { "event", "progress" }, { "id", id.toString(QUuid::WithoutBraces) },
            { "bytes", qint64(bytes) } });
    };
    receiver.onFinished = [](const QUuid& id, const ShareResult& result) { print(finishedLine(id, result)); };
    receiver.start({ "Quick Share harness", QDir(save).absolutePath().toStdString(), false,
        static_cast<std::uint16_t>(port) });
    const int status = app.exec();
    receiver.stopAndWait();
    return status;
}
