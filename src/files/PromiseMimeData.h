#pragma once

#include <chrono>
#include <optional>
#include <vector>

#include <QList>
#include <QMimeData>
#include <QUrl>

#include "files/FileBrowser.h"

namespace tessaly {

// Rows dragged out of the files table. Their files are fetched only when the drop target asks
// for the "text/uri-list": each is pulled, behind the other copies, into a staging folder
// made for this drag, and the URLs of the copies are handed over.
//
// The drop target asks synchronously, on the GUI thread, and cannot be answered later. So the
// answer waits in a nested event loop: the window keeps drawing its progress and its Stop button
// works. Drop targets stop waiting after a while (Qt's after seconds, GTK's after 30 s of
// silence), so after `waitLimit` the copies are stopped and the window says why.
class PromiseMimeData : public QMimeData {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kWaitLimit { 30000 };

    explicit PromiseMimeData(
        std::vector<PromisedFile> promises, std::chrono::milliseconds waitLimit = kWaitLimit);

    QStringList formats() const override;
    bool hasFormat(const QString& type) const override;
    const std::vector<PromisedFile>& promises() const { return m_promises; }

protected:
    QVariant retrieveData(const QString& type, QMetaType preferred) const override;

private:
    QList<QUrl> fulfil() const;

    std::vector<PromisedFile> m_promises;
    std::chrono::milliseconds m_waitLimit;
    mutable bool m_asked = false;
    mutable QList<QUrl> m_urls;
};

} // namespace tessaly
