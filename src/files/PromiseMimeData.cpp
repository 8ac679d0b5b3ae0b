#include "files/PromiseMimeData.h"

#include <memory>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace tessaly {

namespace {

// The drop target copies from the staging folders after the drag has ended, so they stay
// until the application quits.
QString newStagingFolder()
{
    static std::vector<std::unique_ptr<QTemporaryDir>> folders;
    static std::mutex lock;
    auto folder = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/tessaly-drag-XXXXXX"));
    if (!folder->isValid())
        return {};
    const QString path = folder->path();
    const std::lock_guard guard(lock);
    folders.push_back(std::move(folder));
    return path;
}

} // namespace

PromiseMimeData::PromiseMimeData(std::vector<PromisedFile> promises)
    : m_promises(std::move(promises))
{
}

QStringList PromiseMimeData::formats() const
{
    return { QStringLiteral("text/uri-list") };
}

bool PromiseMimeData::hasFormat(const QString& type) const
{
    return type == QStringLiteral("text/uri-list");
}

QVariant PromiseMimeData::retrieveData(const QString& type, QMetaType preferred) const
{
    if (type != QStringLiteral("text/uri-list"))
        return {};
    const QList<QUrl> urls = fulfil();
    if (preferred.id() == QMetaType::QByteArray || preferred.id() == QMetaType::QString) {
        QByteArray list;
        for (const QUrl& url : urls)
            list += url.toEncoded() + "\r\n";
        return list;
    }
    QList<QVariant> values;
    for (const QUrl& url : urls)
        values << url;
    return values;
}

QList<QUrl> PromiseMimeData::fulfil() const
{
    std::call_once(m_fulfilled, [this] {
        const QString staging = newStagingFolder();
        if (staging.isEmpty())
            return;
        for (const PromisedFile& promised : m_promises) {
            const std::string destination
                = QFile::encodeName(staging).toStdString() + "/" + promised.item.name;
            const auto failure
                = promised.transfers->fulfil(promised.item, destination, promised.adb, promised.serial);
            if (!failure)
                m_urls << QUrl::fromLocalFile(QFile::decodeName(destination.c_str()));
        }
    });
    return m_urls;
}

} // namespace tessaly
