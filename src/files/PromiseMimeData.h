#pragma once

#include <mutex>
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
class PromiseMimeData : public QMimeData {
    Q_OBJECT

public:
    explicit PromiseMimeData(std::vector<PromisedFile> promises);

    QStringList formats() const override;
    bool hasFormat(const QString& type) const override;
    const std::vector<PromisedFile>& promises() const { return m_promises; }

protected:
    QVariant retrieveData(const QString& type, QMetaType preferred) const override;

private:
    QList<QUrl> fulfil() const;

    std::vector<PromisedFile> m_promises;
    mutable std::once_flag m_fulfilled;
    mutable QList<QUrl> m_urls;
};

} // namespace tessaly
