#include <gtest/gtest.h>

#include <QApplication>
#include <QDropEvent>
#include <QHeaderView>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "files/FileBrowser.h"
#include "files/FileTable.h"
#include "files/FileTableModel.h"
#include "files/FilesWindow.h"
#include "files/PromiseMimeData.h"
#include "files/TransferRig.h"
#include "support/Screenshots.h"

using namespace tessaly;
using namespace tessaly::test;
using Kind = PhoneFile::Kind;

namespace {

struct WindowRig : BrowserRig {
    std::vector<std::string> details;
    FilesWindow window { browser };

    WindowRig()
    {
        window.showDetails = [this](const std::string& text) { details.push_back(text); };
        window.show();
    }
    FileTableModel& model() { return window.table().tableModel(); }
    std::vector<std::string> rows()
    {
        std::vector<std::string> names;
        for (int row = 0; row < model().rowCount(); ++row)
            names.push_back(model().file(row).name);
        return names;
    }
    QPoint rowCenter(const std::string& name)
    {
        return window.table().visualRect(model().index(model().rowOf(name), 0)).center();
    }
    // Drops `urls` at `where` in the table's viewport (or on `target`); whether the drop was taken.
    bool drop(const std::vector<QUrl>& urls, QPoint where, QWidget* target = nullptr)
    {
        QMimeData data;
        data.setUrls(QList<QUrl>(urls.begin(), urls.end()));
        return drop(data, where, target);
    }
    bool drop(const QMimeData& data, QPoint where, QWidget* target = nullptr)
    {
        target = target ? target : window.table().viewport();
        QDragEnterEvent enter(where, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        QDragMoveEvent move(where, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &move);
        QDropEvent dropped(where, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &dropped);
        return dropped.isAccepted();
    }
    QPushButton* button(const QString& text)
    {
        for (QPushButton* b : window.findChildren<QPushButton*>())
            if (b->text() == text)
                return b;
        return nullptr;
    }
};

} // namespace

TEST(FilesWindowTest, FoldersComeFirstAndNamesCompareAsPeopleExpect)
{
    const std::vector<PhoneFile> files
        = { { "A.txt", Kind::file, 5, 30 }, { "B", Kind::folder, 0, 10 }, { "a", Kind::folder, 0, 20 },
              { "file10", Kind::file, 7, 40 }, { "file2", Kind::file, 7, 40 }, { "x", Kind::file, 5, 40 } };
    FileOrder order;
    order.setFiles(files);
    const auto names = [&](FileOrder::Key key, bool ascending) {
        std::vector<std::string> shown;
        for (std::size_t i : order.sorted(key, ascending))
            shown.push_back(files[i].name);
        return shown;
    };
    using Names = std::vector<std::string>;
    EXPECT_EQ(names(FileOrder::Key::name, true), (Names { "a", "B", "A.txt", "file2", "file10", "x" }));
    EXPECT_EQ(names(FileOrder::Key::name, false), (Names { "B", "a", "x", "file10", "file2", "A.txt" }));
    EXPECT_EQ(names(FileOrder::Key::size, true), (Names { "a", "B", "A.txt", "x", "file2", "file10" }));
    EXPECT_EQ(names(FileOrder::Key::size, false), (Names { "a", "B", "file2", "file10", "A.txt", "x" }));
    EXPECT_EQ(names(FileOrder::Key::date, false), (Names { "a", "B", "file2", "file10", "x", "A.txt" }));
}

TEST(FilesWindowTest, SelectionFollowsNamesAcrossReloadsAndSortsAndIsClearedByAFolderChange)
{
    WindowRig rig;
    for (const std::string name : { "b.txt", "c.txt", "Album/x.jpg" })
        writeFile(rig.phone + "/Download/" + name, name);
    std::filesystem::last_write_time(rig.phone + "/Download/c.txt",
        std::filesystem::file_time_type::clock::now() + std::chrono::seconds(10));
    ASSERT_TRUE(rig.reload());
    ASSERT_EQ(rig.rows(), (std::vector<std::string> { "Album", "c.txt", "b.txt" }));
    FileTable& table = rig.window.table();
    table.selectRow(rig.model().rowOf("b.txt"));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return rig.browser.selectedNames() == std::set<std::string> { "b.txt" }; }));
    EXPECT_TRUE(rig.button(QStringLiteral("Save to Downloads"))->isEnabled());
    table.horizontalHeader()->sectionClicked(FileTableModel::NameColumn);
    EXPECT_EQ(rig.rows(), (std::vector<std::string> { "Album", "b.txt", "c.txt" }));
    writeFile(rig.phone + "/Download/a.txt", "a");
    ASSERT_TRUE(rig.reload());
    EXPECT_EQ(rig.rows(), (std::vector<std::string> { "Album", "a.txt", "b.txt", "c.txt" }));
    ASSERT_EQ(table.selectionModel()->selectedRows().size(), 1);
    EXPECT_EQ(table.selectionModel()->selectedRows().front().row(), rig.model().rowOf("b.txt"));

    emit table.doubleClicked(rig.model().index(rig.model().rowOf("Album"), 0));
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.rows() == std::vector<std::string> { "x.jpg" }; }));
    EXPECT_TRUE(table.selectionModel()->selectedRows().isEmpty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return rig.browser.selectedNames().empty(); }));
}

TEST(FilesWindowTest, DropsGoIntoAFolderRowOrTheShownFolderAndDragsOutDeliverTheFile)
{
    WindowRig rig;
    writeFile(rig.phone + "/Download/notes.txt", "phone notes");
    std::filesystem::create_directories(rig.phone + "/Download/Album");
    ASSERT_TRUE(rig.reload());
    EXPECT_TRUE(rig.drop({ rig.local("one.jpg", "1") }, rig.rowCenter("Album")));
    EXPECT_TRUE(rig.drop({ rig.local("two.jpg", "2") }, rig.rowCenter("notes.txt")));
    EXPECT_TRUE(rig.drop({ rig.local("four.jpg", "4") }, rig.rowCenter("notes.txt") + QPoint(0, 200)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.rows().size() == 4; }));
    EXPECT_EQ(readFile(rig.phone + "/Download/Album/one.jpg"), "1");
    EXPECT_EQ(readFile(rig.phone + "/Download/two.jpg"), "2");
    EXPECT_EQ(readFile(rig.phone + "/Download/four.jpg"), "4");

    // A drag out pulls the file only when the drop target asks for it.
    const int row = rig.model().rowOf("notes.txt");
    std::unique_ptr<QMimeData> dragged(rig.model().mimeData({ rig.model().index(row, 0) }));
    ASSERT_NE(dragged, nullptr);
    EXPECT_EQ(rig.adb.calls().back().at(2), "ls");
    EXPECT_FALSE(rig.drop(std::vector<QUrl> {}, rig.rowCenter("Album"))) << "nothing to drop";
    const QList<QUrl> urls = dragged->urls();
    ASSERT_EQ(urls.size(), 1);
    EXPECT_EQ(readFile(urls.front().toLocalFile().toStdString()), "phone notes");
    EXPECT_TRUE(urls.front().toLocalFile().endsWith(QStringLiteral("/notes.txt")));

    rig.unplug();
    ASSERT_TRUE(rig.reload());
    EXPECT_FALSE(rig.button(QStringLiteral("Send Files…"))->isEnabled());
    // The table refuses; the window takes the drop only to say what is missing.
    rig.drop({ rig.local("three.jpg", "3") }, QPoint(10, 10));
    EXPECT_EQ(rig.browser.resultLine(), "Connect your phone first, then drop the files again.");
    QTest::qWait(200);
    EXPECT_FALSE(std::filesystem::exists(rig.phone + "/Download/three.jpg"));
}

// A drag's own rows come back as the drag itself or, from some platforms, as plain file URLs.
TEST(FilesWindowTest, RowsDroppedBackOntoTheirWindowDoNothing)
{
    WindowRig rig;
    std::filesystem::create_directories(rig.phone + "/Download/Album/inside");
    ASSERT_TRUE(rig.reload());
    std::unique_ptr<QMimeData> dragged(rig.model().mimeData({ rig.model().index(0, 0) }));
    rig.browser.setDraggingOut(true);
    for (QWidget* target :
        { static_cast<QWidget*>(rig.window.table().viewport()), static_cast<QWidget*>(&rig.window) }) {
        EXPECT_FALSE(rig.drop(*dragged, QPoint(10, 10), target));
        EXPECT_FALSE(rig.drop({ rig.local("Album", "") }, QPoint(10, 10), target));
    }
    rig.browser.setDraggingOut(false);
    QTest::qWait(200);
    for (const auto& call : rig.adb.calls())
        EXPECT_EQ(call.at(2), "ls");
}

// The drop target waits on the GUI thread for a dragged-out file: the window stays live, its Stop
// works, and once nobody can be waiting any more the copy stops with a message.
TEST(FilesWindowTest, ADragOutKeepsTheWindowLiveAndStopsWhenNobodyWaits)
{
    using namespace std::chrono_literals;
    WindowRig rig;
    writeFile(rig.phone + "/Download/big.bin", std::string(200000, 'b'));
    ASSERT_TRUE(rig.reload());
    rig.adb.playPhone(rig.phone, { .bytesPerSecond = 20000 });
    const auto dragOut = [&](std::chrono::milliseconds limit) {
        return PromiseMimeData({ *rig.browser.promise(rig.browser.files().front()) }, limit).urls();
    };
    bool stopShown = false;
    QTimer::singleShot(500, [&] {
        stopShown = rig.button(QStringLiteral("Stop"))->isVisible();
        rig.button(QStringLiteral("Stop"))->click();
    });
    EXPECT_TRUE(dragOut(30s).isEmpty());
    EXPECT_TRUE(stopShown);
    EXPECT_TRUE(QTest::qWaitFor([&] { return rig.browser.resultLine() == "Stopped. Nothing was copied."; }));
    EXPECT_TRUE(dragOut(300ms).isEmpty());
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return rig.browser.resultLine().value_or("").find("stopped waiting") != std::string::npos; }));
}

TEST(FilesWindowTest, CtrlWClosesTheWindowButCtrlShiftWDoesNot)
{
    WindowRig rig;
    rig.window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&rig.window));
    QTest::keyClick(&rig.window, Qt::Key_W, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(rig.window.isVisible());
    QTest::keyClick(&rig.window, Qt::Key_W, Qt::ControlModifier);
    EXPECT_FALSE(rig.window.isVisible());
}

TEST(FilesWindowTest, Screenshots)
{
    WindowRig rig;
    for (const auto& [name, size, age] :
        std::vector<std::tuple<std::string, int, int>> { { "IMG_20240105_101500.jpg", 2400000, 3600 },
            { "Holiday video.mp4", 48000000, 90000 }, { "invoice-2024-03.pdf", 183000, 400000 },
            { "notes.txt", 1200, 60 }, { "music.mp3", 5100000, 9000000 } }) {
        writeFile(rig.phone + "/Download/" + name, std::string(std::min(size, 1000), 'x'));
        std::filesystem::resize_file(rig.phone + "/Download/" + name, size);
        std::filesystem::last_write_time(rig.phone + "/Download/" + name,
            std::filesystem::file_time_type::clock::now() - std::chrono::seconds(age));
    }
    for (const std::string folder : { "Receipts", "WhatsApp Images" })
        std::filesystem::create_directories(rig.phone + "/Download/" + folder);
    ASSERT_TRUE(rig.reload());
    saveScreenshot(&rig.window, QStringLiteral("files-listing"));

    std::filesystem::create_directories(rig.phone + "/Movies");
    rig.browser.open({ { "Movies" } });
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return rig.browser.notice().has_value() && !rig.browser.isLoading(); }));
    saveScreenshot(&rig.window, QStringLiteral("files-empty"));
    rig.browser.open({ { "DCIM", "Camera" } });
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return rig.browser.notice().has_value() && !rig.browser.isLoading(); }));
    saveScreenshot(&rig.window, QStringLiteral("files-not-found"));

    rig.browser.open({ { "Download" } });
    rig.adb.playPhone(rig.phone, { .bytesPerSecond = 20000 });
    rig.browser.send(
        { rig.local("Big presentation.pptx", std::string(200000, 'p')), rig.local("b.bin", "b") });
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return rig.browser.activity() && rig.browser.activity()->starts_with("Copying"); }));
    EXPECT_TRUE(rig.button(QStringLiteral("Stop"))->isVisible());
    for (const QProgressBar* bar : rig.window.findChildren<QProgressBar*>())
        EXPECT_TRUE(bar->isHidden() || bar->maximum() == 0) << "a copy's bar only shows that it runs";
    saveScreenshot(&rig.window, QStringLiteral("files-copying"));
    rig.button(QStringLiteral("Stop"))->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.browser.resultLine() == "Stopped. Nothing was copied."; }));
    EXPECT_FALSE(std::filesystem::exists(rig.phone + "/Download/Big presentation.pptx"));

    rig.adb.playPhone(rig.phone);
    rig.browser.send({ rig.local("ok.txt", "ok"),
        QUrl::fromLocalFile(QStringLiteral("/nonexistent/gone.txt")), rig.local("bad\x01name.txt", "x") });
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return rig.browser.resultLine() == "Copied 1 item, but 2 couldn’t be copied"; }));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig.browser.isLoading(); }));
    QPushButton* detailsButton = rig.button(QStringLiteral("Details…"));
    ASSERT_TRUE(detailsButton->isVisible());
    saveScreenshot(&rig.window, QStringLiteral("files-result"));
    EXPECT_LT(detailsButton->x(), 20); // at the left end of its row
    detailsButton->click();
    EXPECT_EQ(rig.details,
        (std::vector<std::string> { "gone.txt: it can't be read on this computer\n"
                                    "bad\x01name.txt: its name has characters the phone can't use" }));

    rig.unplug();
    ASSERT_TRUE(rig.reload());
    saveScreenshot(&rig.window, QStringLiteral("files-no-phone"));
}
