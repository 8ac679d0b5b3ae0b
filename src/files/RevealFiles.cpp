#include "files/RevealFiles.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QUrl>

namespace tessaly::RevealFiles {

void show(const std::vector<std::string>& paths)
{
    if (paths.empty())
        return;
    QStringList uris;
    for (const std::string& path : paths)
        uris << QUrl::fromLocalFile(QFile::decodeName(path.c_str())).toString();
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"), QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("ShowItems"));
    call << uris << QString();
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 3000);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return;
    const QString folder = QFileInfo(QFile::decodeName(paths.front().c_str())).absolutePath();
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

} // namespace tessaly::RevealFiles
