#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <QObject>
#include <QUrl>

#include <QCoroTask>

#include "files/FileOrder.h"
#include "files/FileTransfers.h"
#include "phone/ADB.h"
#include "phone/PhoneFiles.h"

class QWidget;

namespace tessaly {

// What a row dragged out of the files window promises to deliver.
struct PromisedFile {
    PhoneItem item;
    ADB adb;
    std::string serial;
    FileTransfers* transfers = nullptr;
};

// The model of the files window: the phone folder shown, its entries, the notice that replaces
// them, the copy progress and results. Everything here runs on the GUI thread.
class FileBrowser : public QObject {
    Q_OBJECT

public:
    struct Found {
        std::optional<ADB> adb;
        std::vector<Device> devices;
        std::optional<Device> phone;
    };
    using PhoneFinder = std::function<QCoro::Task<Found>()>;

    explicit FileBrowser(PhoneFinder findPhone, QObject* parent = nullptr);
    ~FileBrowser() override;

    // The application's browser, finding the phone through the controller's adb.
    static FileBrowser& shared();
    static QCoro::Task<Found> findWithController();

    const PhoneFolder& folder() const { return m_folder; }
    const std::vector<PhoneFile>& files() const { return m_shown->files(); }
    // The entries shown with their collation keys, made off the GUI thread.
    const std::shared_ptr<const FileOrder>& shown() const { return m_shown; }
    const std::optional<std::string>& notice() const { return m_notice; }
    bool isLoading() const { return m_isLoading; }
    const std::string& linkLine() const { return m_linkLine; }
    const std::optional<std::string>& activity() const { return m_activity; }
    const std::optional<std::string>& resultLine() const { return m_resultLine; }
    const std::optional<std::string>& failureDetails() const { return m_failureDetails; }
    const std::set<std::string>& selectedNames() const { return m_selectedNames; }
    bool isDropTarget() const { return m_isDropTarget; }
    // Rows of this window are being dragged out: whatever is dropped on the window meanwhile is
    // those rows coming back (a platform may hand them over as plain file URLs), and is refused.
    bool isDraggingOut() const { return m_isDraggingOut; }
    FileTransfers& transfers() { return *m_transfers; }
    bool canGoUp() const { return !m_folder.names.empty(); }
    bool isConnected() const { return m_phone.has_value(); }

    void setSelectedNames(std::set<std::string> names);
    void setDropTarget(bool on);
    void setDraggingOut(bool on) { m_isDraggingOut = on; }

    void open(const PhoneFolder& folder);
    void goUp();
    void reload();
    // Local files into `folder`, or into the shown one.
    void send(const std::vector<QUrl>& urls, const std::optional<PhoneFolder>& folder = std::nullopt);
    // Lets the user pick files to send into the shown folder.
    void chooseFilesToSend(QWidget* window);
    std::optional<PromisedFile> promise(const PhoneFile& file);
    void saveSelectionToDownloads();
    PhoneItem item(const PhoneFile& file) const;

    static std::string resultText(const FileTransfers::Summary& summary);

    // Where "Save to Downloads" saves (none: there is no Downloads folder) and how the saved
    // files are shown afterwards; tests replace both.
    std::function<std::optional<std::string>()> downloadsFolder;
    std::function<void(const std::vector<std::string>&)> revealFiles;

signals:
    // Any published value changed.
    void changed();
    // A reload published its result.
    void loaded();

private:
    QCoro::Task<> reloadNow(int number, PhoneFolder folder);
    void show(const std::optional<FolderListing>& listing, std::shared_ptr<const FileOrder> shown,
        const std::vector<Device>& devices);
    void finished(const FileTransfers::Summary& summary);

    PhoneFolder m_folder { { "Download" } };
    std::shared_ptr<const FileOrder> m_shown;
    std::optional<std::string> m_notice;
    bool m_isLoading = false;
    std::string m_linkLine;
    std::optional<std::string> m_activity;
    std::optional<std::string> m_resultLine;
    std::optional<std::string> m_failureDetails;
    std::set<std::string> m_selectedNames;
    bool m_isDropTarget = false;
    bool m_isDraggingOut = false;
    std::unique_ptr<FileTransfers> m_transfers;
    PhoneFinder m_findPhone;
    std::optional<ADB> m_adb;
    std::optional<Device> m_phone;
    int m_loadNumber = 0;
};

} // namespace tessaly
