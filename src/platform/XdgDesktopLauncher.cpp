#include "platform/XdgDesktopLauncher.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileInfo>
#include <QStringList>

namespace tessaly {

namespace {

// Long enough for a file manager that is started on demand.
constexpr int kFileManagerTimeoutMs = 5000;

void openFolderOf(const QString& path)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
}

} // namespace

void XdgDesktopLauncher::showInFolder(const std::vector<std::string>& paths)
{
    if (paths.empty())
        return;
    QStringList uris;
    for (const std::string& path : paths)
        uris << QUrl::fromLocalFile(QString::fromStdString(path)).toString(QUrl::FullyEncoded);
    const QString first = QString::fromStdString(paths.front());

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolderOf(first);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"), QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("ShowItems"));
    call.setArguments({ uris, QString() });
    // Asynchronous: the file manager may take a moment to start, and the card must not freeze.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kFileManagerTimeoutMs));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [watcher, first] {
        if (watcher->isError())
            openFolderOf(first);
        watcher->deleteLater();
    });
}

void XdgDesktopLauncher::openLink(const QUrl& link)
{
    QDesktopServices::openUrl(link);
}

} // namespace tessaly
