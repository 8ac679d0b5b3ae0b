#include "files/FilesWindow.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include "files/ElidedLabel.h"
#include "files/FileBrowser.h"
#include "files/FileTable.h"
#include "files/PromiseMimeData.h"

namespace tessaly {

namespace {

QString text(const std::string& utf8)
{
    return QString::fromStdString(utf8);
}

// Secondary text: a little smaller and lighter than the table's.
void makeSecondary(QWidget* label)
{
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.92);
    label->setFont(font);
    QPalette palette = label->palette();
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(0.65f);
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}

QFrame* divider()
{
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

// The accent-coloured border shown while files are dragged over the window.
class DropHighlight : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setPen(Qt::NoPen);
        painter.setBrush(palette().color(QPalette::Highlight));
        const QRect all = rect();
        painter.drawRect(QRect(all.left(), all.top(), all.width(), 3));
        painter.drawRect(QRect(all.left(), all.bottom() - 2, all.width(), 3));
        painter.drawRect(QRect(all.left(), all.top(), 3, all.height()));
        painter.drawRect(QRect(all.right() - 2, all.top(), 3, all.height()));
    }
};

struct ButtonIcons {
    QIcon up;
    QIcon reload;
};

// Without a desktop's platform theme Qt looks for icons nowhere but in its resources, and every
// file would get the same plain page: point it at the system's icon themes. The buttons keep
// the style's own arrows, taken before that, which stay legible where the file-type theme's
// grey ones would look disabled.
const ButtonIcons& buttonIcons()
{
    static const ButtonIcons icons = [] {
        QStyle* style = QApplication::style();
        if (!QIcon::themeName().isEmpty()) {
            return ButtonIcons { QIcon::fromTheme(QStringLiteral("go-previous"),
                                     style->standardIcon(QStyle::SP_ArrowBack)),
                QIcon::fromTheme(
                    QStringLiteral("view-refresh"), style->standardIcon(QStyle::SP_BrowserReload)) };
        }
        ButtonIcons own { style->standardIcon(QStyle::SP_ArrowBack),
            style->standardIcon(QStyle::SP_BrowserReload) };
        QStringList paths = QIcon::themeSearchPaths();
        const QString dataDirs
            = qEnvironmentVariable("XDG_DATA_DIRS", QStringLiteral("/usr/local/share:/usr/share"));
        for (const QString& folder : dataDirs.split(QLatin1Char(':'), Qt::SkipEmptyParts))
            paths << folder + QStringLiteral("/icons");
        QIcon::setThemeSearchPaths(paths);
        QIcon::setThemeName(QStringLiteral("Adwaita"));
        QIcon::setFallbackThemeName(QStringLiteral("hicolor"));
        return own;
    }();
    return icons;
}

} // namespace

FilesWindow::FilesWindow(FileBrowser& browser, QWidget* parent)
    : QWidget(parent)
    , m_browser(browser)
{
    buttonIcons();
    setWindowTitle(QStringLiteral("Phone Files"));
    setMinimumSize(560, 320);
    resize(660, 480);
    setAcceptDrops(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(makeTopBar());
    layout->addWidget(divider());
    m_table = new FileTable(browser);
    layout->addWidget(m_table, 1);
    layout->addWidget(divider());
    layout->addWidget(makeBottomBar());

    m_notice = new QLabel(m_table->viewport());
    m_notice->setAlignment(Qt::AlignCenter);
    m_notice->setWordWrap(true);
    m_notice->setContentsMargins(24, 24, 24, 24);
    m_notice->setAttribute(Qt::WA_TransparentForMouseEvents);
    makeSecondary(m_notice);
    m_loading = new QProgressBar(m_table->viewport());
    m_loading->setRange(0, 0);
    m_loading->setTextVisible(false);
    m_loading->setFixedSize(120, 8);
    m_loading->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_table->viewport()->installEventFilter(this);

    m_highlight = new DropHighlight(this);
    m_highlight->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_highlight->hide();

    auto* close = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_W), this);
    connect(close, &QShortcut::activated, this, &QWidget::close);

    connect(&browser, &FileBrowser::changed, this, &FilesWindow::update);
    update();
}

QWidget* FilesWindow::makeTopBar()
{
    auto* bar = new QWidget;
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(10, 8, 10, 8);
    row->setSpacing(8);

    m_up = new QToolButton;
    m_up->setIcon(buttonIcons().up);
    m_up->setAutoRaise(true);
    m_up->setToolTip(QStringLiteral("Go to the folder that contains this one"));
    connect(m_up, &QToolButton::clicked, &m_browser, &FileBrowser::goUp);
    row->addWidget(m_up);

    m_places = new QToolButton;
    m_places->setIcon(
        QIcon::fromTheme(QStringLiteral("folder"), QApplication::style()->standardIcon(QStyle::SP_DirIcon)));
    m_places->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_places->setPopupMode(QToolButton::InstantPopup);
    m_places->setToolTip(QStringLiteral("Jump to a folder on your phone"));
    auto* menu = new QMenu(m_places);
    for (const PhoneFolder::Place& place : PhoneFolder::places()) {
        const PhoneFolder folder = place.folder;
        connect(menu->addAction(text(place.title)), &QAction::triggered, this,
            [this, folder] { m_browser.open(folder); });
    }
    m_places->setMenu(menu);
    row->addWidget(m_places);

    auto* path = new ElidedLabel(Qt::ElideLeft);
    makeSecondary(path);
    m_path = path;
    row->addWidget(m_path, 1);

    m_link = new QLabel;
    makeSecondary(m_link);
    row->addWidget(m_link);

    m_reload = new QToolButton;
    m_reload->setIcon(buttonIcons().reload);
    m_reload->setAutoRaise(true);
    m_reload->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    m_reload->setToolTip(QStringLiteral("Read this folder again (Ctrl+R)"));
    connect(m_reload, &QToolButton::clicked, &m_browser, &FileBrowser::reload);
    row->addWidget(m_reload);
    return bar;
}

QWidget* FilesWindow::makeBottomBar()
{
    auto* bar = new QWidget;
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(10, 8, 10, 8);
    row->setSpacing(8);

    // At the left end, as in the other windows, apart from the buttons that act.
    m_details = new QPushButton(QStringLiteral("Details…"));
    connect(m_details, &QPushButton::clicked, this, [this] {
        if (m_browser.failureDetails() && showDetails)
            showDetails(*m_browser.failureDetails());
    });
    row->addWidget(m_details);
    m_copying = new QProgressBar;
    m_copying->setRange(0, 0);
    m_copying->setTextVisible(false);
    m_copying->setFixedSize(48, 8);
    row->addWidget(m_copying);
    auto* activity = new ElidedLabel(Qt::ElideMiddle);
    m_activity = activity;
    row->addWidget(m_activity, 1);
    m_result = new QLabel;
    m_result->setWordWrap(true);
    m_result->setTextFormat(Qt::PlainText);
    makeSecondary(m_result);
    row->addWidget(m_result, 1);

    m_stop = new QPushButton(QStringLiteral("Stop"));
    connect(m_stop, &QPushButton::clicked, this, [this] { m_browser.transfers().cancel(); });
    row->addWidget(m_stop);
    m_send = new QPushButton(QStringLiteral("Send Files…"));
    connect(m_send, &QPushButton::clicked, this, [this] { m_browser.chooseFilesToSend(window()); });
    row->addWidget(m_send);
    m_save = new QPushButton(QStringLiteral("Save to Downloads"));
    m_save->setToolTip(QStringLiteral("Copy the selected files to this computer’s Downloads folder"));
    connect(m_save, &QPushButton::clicked, &m_browser, &FileBrowser::saveSelectionToDownloads);
    row->addWidget(m_save);
    return bar;
}

void FilesWindow::update()
{
    m_up->setEnabled(m_browser.canGoUp());
    m_places->setText(text(m_browser.folder().title()));
    QString path = QStringLiteral("Internal storage");
    for (const std::string& name : m_browser.folder().names)
        path += QStringLiteral(" › ") + text(name);
    static_cast<ElidedLabel*>(m_path)->setFullText(path);
    m_link->setText(text(m_browser.linkLine()));
    m_link->setVisible(!m_browser.linkLine().empty());

    m_table->showListing();
    const auto& notice = m_browser.notice();
    m_notice->setText(notice ? text(*notice) : QString());
    m_notice->setVisible(notice.has_value());
    m_loading->setVisible(!notice && m_browser.isLoading() && m_browser.files().empty());

    const auto& activity = m_browser.activity();
    m_copying->setVisible(activity.has_value());
    m_activity->setVisible(activity.has_value());
    static_cast<ElidedLabel*>(m_activity)->setFullText(activity ? text(*activity) : QString());
    m_result->setVisible(!activity);
    m_result->setText(text(m_browser.resultLine().value_or(
        "Drag files in to send them to your phone, or out to copy them to your computer.")));
    m_details->setVisible(!activity && m_browser.failureDetails().has_value());
    m_stop->setVisible(activity.has_value());
    m_send->setEnabled(m_browser.isConnected());
    m_save->setEnabled(!m_browser.selectedNames().empty());

    m_highlight->setVisible(m_browser.isDropTarget());
    if (m_browser.isDropTarget())
        m_highlight->raise();
    placeOverlays();
}

void FilesWindow::placeOverlays()
{
    const QRect area = m_table->viewport()->rect();
    m_notice->setGeometry(area);
    m_loading->move(area.center() - QPoint(m_loading->width() / 2, m_loading->height() / 2));
    m_highlight->setGeometry(rect());
}

bool FilesWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_table->viewport() && event->type() == QEvent::Resize)
        placeOverlays();
    return QWidget::eventFilter(watched, event);
}

void FilesWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeOverlays();
}

void FilesWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // Coming back to the window always shows the phone as it is now.
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        m_browser.reload();
}

bool FilesWindow::acceptable(const QDropEvent* event) const
{
    // Rows of our own table are files still on the phone: asking for their URLs would copy them.
    return qobject_cast<const PromiseMimeData*>(event->mimeData()) == nullptr && !m_browser.isDraggingOut()
        && event->mimeData()->hasUrls();
}

void FilesWindow::dragEnterEvent(QDragEnterEvent* event)
{
    if (answerDrag(event, acceptable(event)))
        m_browser.setDropTarget(true);
}

void FilesWindow::dragMoveEvent(QDragMoveEvent* event)
{
    answerDrag(event, acceptable(event));
}

void FilesWindow::dragLeaveEvent(QDragLeaveEvent*)
{
    m_browser.setDropTarget(false);
}

void FilesWindow::dropEvent(QDropEvent* event)
{
    m_browser.setDropTarget(false);
    if (!acceptable(event)) {
        event->ignore();
        return;
    }
    const QList<QUrl> urls = event->mimeData()->urls();
    m_browser.send(std::vector<QUrl>(urls.begin(), urls.end()));
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

} // namespace tessaly
