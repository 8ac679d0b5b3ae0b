#include "files/FileBrowser.h"

#include <algorithm>
#include <filesystem>
#include <unordered_set>

#include <QDir>
#include <QFileDialog>
#include <QPointer>
#include <QStandardPaths>
#include <QtConcurrent/QtConcurrentRun>

#include <QCoroFuture>

#include "controller/AppState.h"
#include "files/TransferRules.h"
#include "platform/XdgDesktopLauncher.h"
#include "tools/Validation.h"

namespace tessaly {

namespace {

std::string itemCount(int count)
{
    return count == 1 ? std::string("1 item") : std::to_string(count) + " items";
}

std::shared_ptr<const FileOrder> nothingShown()
{
    return std::make_shared<const FileOrder>();
}

// The entries a person sees, with their collation keys; a large folder takes a while.
QCoro::Task<std::shared_ptr<const FileOrder>> arrange(std::vector<PhoneFile> entries)
{
    QFuture<std::shared_ptr<const FileOrder>> future
        = QtConcurrent::run([entries = std::move(entries)]() mutable {
              std::erase_if(entries, [](const PhoneFile& file) {
                  return file.kind == PhoneFile::Kind::other || file.name.starts_with(".");
              });
              auto order = std::make_shared<FileOrder>();
              order->setFiles(std::move(entries));
              return std::shared_ptr<const FileOrder>(std::move(order));
          });
    co_return co_await future;
}

std::optional<std::string> systemDownloads()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (folder.isEmpty() || !QDir(folder).exists())
        return std::nullopt;
    return QFile::encodeName(folder).toStdString();
}

} // namespace

FileBrowser::FileBrowser(PhoneFinder findPhone, QObject* parent)
    : QObject(parent)
    , downloadsFolder(systemDownloads)
    , revealFiles([](const std::vector<std::string>& paths) { XdgDesktopLauncher().showInFolder(paths); })
    , m_shown(nothingShown())
    , m_transfers(std::make_unique<FileTransfers>())
    , m_findPhone(std::move(findPhone))
{
    m_transfers->onActivity = [self = QPointer(this)](const std::string& line) {
        if (!self)
            return;
        self->m_activity = line;
        self->m_resultLine.reset();
        self->m_failureDetails.reset();
        emit self->changed();
    };
    m_transfers->onFinished = [self = QPointer(this)](const FileTransfers::Summary& summary) {
        if (self)
            self->finished(summary);
    };
}

FileBrowser::~FileBrowser() = default;

FileBrowser& FileBrowser::shared()
{
    static FileBrowser* browser = [] {
        auto* made = new FileBrowser(&FileBrowser::findWithController);
        AppState::shared().setFileCopiesStop([made] { made->transfers().stopAndWait(); });
        return made;
    }();
    return *browser;
}

QCoro::Task<FileBrowser::Found> FileBrowser::findWithController()
{
    const std::optional<ADB> adb = AppState::shared().adb();
    if (!adb)
        co_return Found {};
    std::vector<std::string> arguments { "devices", "-l" };
    const ProcessResult listed = co_await adb->run(std::move(arguments), 5);
    std::vector<Device> devices = ADB::parseDevices(listed.stdOut);
    std::optional<Device> phone = AppState::pickDevice(co_await AppState::shared().chosenLinks(devices));
    co_return Found { adb, std::move(devices), std::move(phone) };
}

void FileBrowser::setSelectedNames(std::set<std::string> names)
{
    if (names == m_selectedNames)
        return;
    m_selectedNames = std::move(names);
    emit changed();
}

void FileBrowser::setDropTarget(bool on)
{
    if (on == m_isDropTarget)
        return;
    m_isDropTarget = on;
    emit changed();
}

void FileBrowser::open(const PhoneFolder& folder)
{
    if (!Validation::isSafePhonePath(folder.path()))
        return;
    m_folder = folder;
    m_shown = nothingShown();
    m_notice.reset();
    m_selectedNames.clear();
    emit changed();
    reload();
}

void FileBrowser::goUp()
{
    if (canGoUp())
        open(m_folder.parent());
}

void FileBrowser::reload()
{
    const int number = ++m_loadNumber;
    m_isLoading = true;
    emit changed();
    QCoro::connect(reloadNow(number, m_folder), this, [] {});
}

QCoro::Task<> FileBrowser::reloadNow(int number, PhoneFolder folder)
{
    QPointer self(this);
    Found found = co_await m_findPhone();
    std::optional<FolderListing> listing;
    std::shared_ptr<const FileOrder> shown;
    if (found.adb && found.phone) {
        listing = co_await found.adb->list(folder, found.phone->serial);
        if (auto* files = std::get_if<FolderListing::Files>(&listing->value))
            shown = co_await arrange(std::move(files->files));
    }
    // Only the newest reload may publish: an older answer would show a stale folder.
    if (!self || m_loadNumber != number)
        co_return;
    m_isLoading = false;
    m_adb = std::move(found.adb);
    m_phone = std::move(found.phone);
    show(listing, std::move(shown), found.devices);
    emit changed();
    emit loaded();
}

void FileBrowser::show(const std::optional<FolderListing>& listing, std::shared_ptr<const FileOrder> shown,
    const std::vector<Device>& devices)
{
    m_shown = shown ? std::move(shown) : nothingShown();
    if (!m_adb) {
        m_notice = "adb is missing.\nInstall it with: sudo apt install adb";
    } else if (!m_phone) {
        m_linkLine.clear();
        const bool unauthorized = std::any_of(
            devices.begin(), devices.end(), [](const Device& d) { return d.state == "unauthorized"; });
        m_notice = unauthorized
            ? "Unlock your phone and tap “Allow”,\nthen click the reload button (Ctrl+R)"
            : "Phone not found.\nPlug in the USB cable (or connect wirelessly from the Tessaly "
              "menu), then click the reload button (Ctrl+R)";
    } else {
        m_linkLine = m_phone->connection == Device::Connection::usb
            ? "USB cable"
            : "Wi-Fi – slower; use the cable for big files";
        if (!listing) {
            m_notice = "Couldn’t read this folder.";
        } else if (const auto* failed = listing->failed()) {
            m_notice = "Couldn’t read this folder.\n" + TransferRules::lastLine(failed->message);
        } else if (!files().empty()) {
            m_notice.reset();
        } else if (listing->files()->folderSeen) {
            m_notice = "This folder is empty.\nDrag files here to copy them to your phone.";
        } else {
            m_notice = "Nothing to show here.\nThis folder is empty, or it isn’t on your phone.";
        }
    }
    if (m_selectedNames.empty())
        return;
    std::unordered_set<std::string_view> present;
    present.reserve(files().size());
    for (const PhoneFile& file : files())
        present.insert(file.name);
    std::erase_if(m_selectedNames, [&](const std::string& name) { return present.count(name) == 0; });
}

void FileBrowser::finished(const FileTransfers::Summary& summary)
{
    m_activity.reset();
    m_failureDetails.reset();
    if (!summary.failures.empty()) {
        std::string lines;
        for (const std::string& line : summary.failures)
            lines += (lines.empty() ? "" : "\n") + line;
        m_failureDetails = lines;
    }
    m_resultLine = resultText(summary);
    emit changed();
    if (summary.changedPhone)
        reload();
}

void FileBrowser::send(const std::vector<QUrl>& urls, const std::optional<PhoneFolder>& folder)
{
    std::vector<QUrl> local;
    std::copy_if(urls.begin(), urls.end(), std::back_inserter(local),
        [](const QUrl& url) { return url.isLocalFile(); });
    if (local.empty())
        return;
    if (!m_adb || !m_phone) {
        m_resultLine = "Connect your phone first, then drop the files again.";
        emit changed();
        return;
    }
    m_transfers->send(std::move(local), folder.value_or(m_folder), *m_adb, m_phone->serial);
}

void FileBrowser::chooseFilesToSend(QWidget* window)
{
    auto* dialog = new QFileDialog(window);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setLabelText(QFileDialog::Accept, QStringLiteral("Send to Phone"));
    dialog->setWindowTitle(QStringLiteral("Choose what to copy to “%1” on your phone")
                               .arg(QString::fromStdString(m_folder.title())));
    connect(dialog, &QFileDialog::urlsSelected, this,
        [this](const QList<QUrl>& urls) { send(std::vector<QUrl>(urls.begin(), urls.end())); });
    dialog->open();
}

PhoneItem FileBrowser::item(const PhoneFile& file) const
{
    return { file.name, m_folder.path() + "/" + file.name, file.kind == PhoneFile::Kind::folder, file.size };
}

std::optional<PromisedFile> FileBrowser::promise(const PhoneFile& file)
{
    if (!m_adb || !m_phone || file.kind == PhoneFile::Kind::other || file.name.starts_with("."))
        return std::nullopt;
    return PromisedFile { item(file), *m_adb, m_phone->serial, m_transfers.get() };
}

void FileBrowser::saveSelectionToDownloads()
{
    std::vector<PhoneItem> items;
    for (const PhoneFile& file : files()) {
        if (m_selectedNames.count(file.name) != 0)
            items.push_back(item(file));
    }
    const auto downloads = downloadsFolder ? downloadsFolder() : std::nullopt;
    if (items.empty() || !m_adb || !m_phone || !downloads)
        return;
    m_transfers->save(std::move(items), *downloads, *m_adb, m_phone->serial,
        [self = QPointer(this)](const std::vector<std::string>& saved) {
            if (self && !saved.empty() && self->revealFiles)
                self->revealFiles(saved);
        });
}

std::string FileBrowser::resultText(const FileTransfers::Summary& summary)
{
    const int copied = summary.copied;
    const std::size_t failed = summary.failures.size();
    if (summary.cancelled)
        return copied == 0 ? "Stopped. Nothing was copied."
                           : "Stopped. " + itemCount(copied) + " copied before that.";
    if (failed == 0)
        return "✓ Copied " + itemCount(copied);
    if (copied == 0)
        return failed == 1 ? "⚠️ " + summary.failures.front()
                           : "⚠️ " + std::to_string(failed) + " items couldn’t be copied";
    return "Copied " + itemCount(copied) + ", but " + std::to_string(failed) + " couldn’t be copied";
}

} // namespace tessaly
