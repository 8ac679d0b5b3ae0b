#include "files/PromiseMimeData.h"

#include <memory>

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

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

PromiseMimeData::PromiseMimeData(std::vector<PromisedFile> promises, std::chrono::milliseconds waitLimit)
    : m_promises(std::move(promises))
    , m_waitLimit(waitLimit)
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
    // A second request, also one made while the first still waits, gets what there is.
    if (std::exchange(m_asked, true) || m_promises.empty())
        return m_urls;
    const QString staging = newStagingFolder();
    if (staging.isEmpty())
        return {};
    struct Waiting {
        std::vector<std::optional<QUrl>> urls;
        std::size_t answered = 0;
        QEventLoop loop;
    };
    // Answers that come after the wait has ended find it gone.
    auto waiting = std::make_shared<Waiting>();
    waiting->urls.resize(m_promises.size());
    for (std::size_t i = 0; i < m_promises.size(); ++i) {
        const PromisedFile& promised = m_promises[i];
        const std::string destination = QFile::encodeName(staging).toStdString() + "/" + promised.item.name;
        const QUrl url = QUrl::fromLocalFile(QFile::decodeName(destination.c_str()));
        promised.transfers->promise(promised.item, destination, promised.adb, promised.serial,
            [weak = std::weak_ptr(waiting), i, url](const std::optional<FileTransfers::Failure>& failure) {
                const auto alive = weak.lock();
                if (!alive)
                    return;
                if (!failure)
                    alive->urls[i] = url;
                if (++alive->answered == alive->urls.size())
                    alive->loop.quit();
            });
    }
    QTimer::singleShot(m_waitLimit, &waiting->loop, &QEventLoop::quit);
    waiting->loop.exec();
    if (waiting->answered < m_promises.size()) {
        // The time limit, or the application is quitting.
        m_promises.front().transfers->abandon(
            "The place you dropped on stopped waiting, so the copy was stopped. For big files, use "
            "“Save to Downloads”.");
    }
    for (const auto& url : waiting->urls) {
        if (url)
            m_urls << *url;
    }
    return m_urls;
}

} // namespace tessaly
