#include "app/MenuContent.h"

#include <algorithm>

#include <QActionGroup>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionMenuItem>
#include <QWidgetAction>

#include "controller/AppState.h"
#include "files/FilesWindowController.h"

namespace tessaly {

namespace {

QString text(std::string_view utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// How far into an item the style draws its title, found by drawing one with and without a
// title: styles place it differently, and a text line should start where the titles do.
int itemTitleIndent(const QMenu& menu)
{
    QStyleOptionMenuItem option;
    option.initFrom(&menu);
    option.menuItemType = QStyleOptionMenuItem::Normal;
    option.checkType = QStyleOptionMenuItem::NotCheckable;
    option.menuHasCheckableItems = true;
    option.font = menu.font();
    option.fontMetrics = QFontMetrics(option.font);
    option.rect = QRect(0, 0, 240, option.fontMetrics.height() + 8);
    const auto draw = [&](const QString& title) {
        option.text = title;
        QImage image(option.rect.size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        menu.style()->drawControl(QStyle::CE_MenuItem, &option, &painter, &menu);
        return image;
    };
    const QChar block(0x2588);
    const QImage plain = draw(QString());
    const QImage titled = draw(QString(block));
    for (int x = 0; x < plain.width(); ++x)
        for (int y = 0; y < plain.height(); ++y)
            if (plain.pixel(x, y) != titled.pixel(x, y))
                return std::max(0, x - option.fontMetrics.leftBearing(block));
    return 0;
}

} // namespace

MenuContent::MenuContent(AppState& state, QObject* parent)
    : QObject(parent)
    , m_state(state)
    , m_menu(new QMenu)
{
    m_status = addText();
    m_mirroringLine = addText();
    m_pocketLines = addText();
    setText(m_pocketLines,
        QStringLiteral("🌙 Pocket mode: the phone’s screen is off. Don’t press its power button.\n"
                       "     Stopping the mirror locks the phone."));
    m_wirelessWarning = addText();
    setText(
        m_wirelessWarning, QStringLiteral("⚠️ Wireless debugging is ON – only use on your home Wi-Fi"));
    m_hotspotData = addText();
    setText(m_hotspotData, text(ConnectionQuality::hotspotDataLine));
    m_quality = addText();
    m_qualityChecking = addText();
    setText(m_qualityChecking, text(ConnectionQuality::checkingLine));
    m_busy = addText();
    m_menu->addSeparator();

    m_phoneMenu = m_menu->addMenu(QStringLiteral("Phone"));
    m_phoneItems = new QActionGroup(this);
    m_phoneItems->setExclusive(true);
    watchOpening(m_phoneMenu);
    m_mirror = m_menu->addAction(QStringLiteral("Mirror Phone"));
    m_mirror->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    connect(m_mirror, &QAction::triggered, this, [this] { m_state.mirror(); });
    m_stopMirroring = m_menu->addAction(QStringLiteral("Stop Mirroring"));
    connect(m_stopMirroring, &QAction::triggered, this, [this] { m_state.stopMirroring(); });
    m_saveScreenshot = m_menu->addAction(QStringLiteral("Save Screenshot"));
    m_saveScreenshot->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    connect(m_saveScreenshot, &QAction::triggered, this, [this] { m_state.saveScreenshot(); });
    m_phoneFiles = m_menu->addAction(QStringLiteral("Phone Files (drag && drop)…"));
    m_phoneFiles->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    connect(m_phoneFiles, &QAction::triggered, this, [] { FilesWindowController::shared().show(); });
    m_menu->addSeparator();

    m_goWireless = m_menu->addAction(QStringLiteral("Go Wireless (home Wi-Fi)"));
    connect(m_goWireless, &QAction::triggered, this, [this] { m_state.goWireless(); });
    m_pairOverWiFi = m_menu->addAction(QStringLiteral("Pair over Wi-Fi (QR code)…"));
    connect(m_pairOverWiFi, &QAction::triggered, this, &MenuContent::pairingRequested);
    m_hotspotMenu = m_menu->addMenu(QStringLiteral("Hotspot Mode (direct link)"));
    for (const QString& line : { QStringLiteral("Fastest wireless option: phone → computer directly."),
             QStringLiteral("1. On your phone, turn on Hotspot (5 GHz band if available)"),
             QStringLiteral("2. On this computer, join the phone’s hotspot Wi-Fi"),
             QStringLiteral("3. Click “Connect via Hotspot” below"),
             QStringLiteral("   If it fails: plug in the USB cable once and click it again") })
        setText(addText(m_hotspotMenu), line);
    m_hotspotMenu->addSeparator();
    m_connectHotspot = m_hotspotMenu->addAction(QStringLiteral("Connect via Hotspot"));
    connect(m_connectHotspot, &QAction::triggered, this, [this] { m_state.connectHotspot(); });
    m_hotspotMenu->addSeparator();
    setText(addText(m_hotspotMenu),
        QStringLiteral("Note: your computer uses the phone’s mobile data while on its hotspot."));
    watchOpening(m_hotspotMenu);
    m_disconnectWireless = m_menu->addAction(QStringLiteral("Disconnect Wireless"));
    connect(m_disconnectWireless, &QAction::triggered, this, [this] { m_state.disconnectWireless(); });
    m_menu->addSeparator();

    m_quickShare = addToggle(
        QStringLiteral("Receive with Quick Share"), [this](bool on) { m_state.setQuickShareOn(on); });
    m_quickShareLine = addText();
    m_menu->addSeparator();

    QAction* qualityTitle = m_menu->addAction(QStringLiteral("Quality"));
    qualityTitle->setEnabled(false);
    qualityTitle->setProperty(kHeadingProperty, true);
    m_presets = new QActionGroup(this);
    m_presets->setExclusive(true);
    for (const QualityPreset preset : allQualityPresets) {
        QAction* item = m_menu->addAction(text(title(preset)));
        item->setCheckable(true);
        item->setData(static_cast<int>(preset));
        m_presets->addAction(item);
        connect(item, &QAction::triggered, this, [this, preset] { m_state.setPreset(preset); });
    }
    m_menu->addSeparator();

    m_pocketMode = addToggle(QStringLiteral("Pocket mode (phone screen off, use it from the computer)"),
        [this](bool on) { m_state.setPocketMode(on); });
    m_stayAwake = addToggle(
        QStringLiteral("Stay awake while charging"), [this](bool on) { m_state.setStayAwake(on); });
    m_realKeyboard
        = addToggle(QStringLiteral("Real keyboard mode"), [this](bool on) { m_state.setRealKeyboard(on); });
    m_audio = addToggle(QStringLiteral("Audio"), [this](bool on) { m_state.setAudio(on); });
    m_showFPS = addToggle(
        QStringLiteral("Show FPS (tray icon + menu)"), [this](bool on) { m_state.setShowFPS(on); });
    m_menu->addSeparator();

    m_autoDisable = addToggle(QStringLiteral("Auto-disable wireless when I quit"),
        [this](bool on) { m_state.setAutoDisableWirelessOnQuit(on); });
    m_launchAtLogin
        = addToggle(QStringLiteral("Launch at login"), [this](bool on) { m_state.setLaunchAtLogin(on); });
    m_menu->addSeparator();

    connect(m_menu->addAction(QStringLiteral("Getting Started…")), &QAction::triggered, this,
        &MenuContent::setupGuideRequested);
    m_lastErrorDetails = m_menu->addAction(QStringLiteral("Show details of last error…"));
    connect(m_lastErrorDetails, &QAction::triggered, this, [this] { m_state.showLastErrorDetails(); });
    connect(m_menu->addAction(QStringLiteral("Show scrcpy output…")), &QAction::triggered, this,
        [this] { m_state.showScrcpyOutput(); });
    m_menu->addSeparator();

    m_quit = m_menu->addAction(QStringLiteral("Quit Tessaly"));
    m_quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(m_quit, &QAction::triggered, this, &MenuContent::quitRequested);

    watchOpening(m_menu);
    connect(&m_state, &AppState::changed, this, &MenuContent::update);
    update();
}

MenuContent::~MenuContent()
{
    delete m_menu;
}

void MenuContent::watchOpening(QMenu* menu)
{
    // A panel that draws the menu itself (exported over D-Bus) never shows these widgets, so
    // only the show and hide signals, which Qt emits either way, say what is open.
    connect(menu, &QMenu::aboutToShow, this, [this, menu] { viewShown(menu); });
    connect(menu, &QMenu::aboutToHide, this, [this, menu] {
        // The main menu takes its submenus with it, whether or not their closing is reported.
        if (menu == m_menu)
            std::erase_if(m_openViews,
                [this](const QObject* view) { return view != m_menu && qobject_cast<const QMenu*>(view); });
        viewHidden(menu);
    });
}

void MenuContent::viewShown(const QObject* view)
{
    const bool wasClosed = m_openViews.empty();
    m_openViews.insert(view);
    if (wasClosed)
        m_state.menuOpened();
}

void MenuContent::viewHidden(const QObject* view)
{
    const bool wasOpen = !m_openViews.empty();
    m_openViews.erase(view);
    if (wasOpen && m_openViews.empty())
        m_state.menuClosed();
}

QAction* MenuContent::addText(QMenu* into)
{
    QMenu* menu = into ? into : m_menu;
    // A label rather than a disabled item: information, not a greyed-out choice.
    auto* item = new QWidgetAction(menu);
    auto* label = new QLabel;
    if (m_titleIndent < 0)
        m_titleIndent = itemTitleIndent(*m_menu);
    // The first line keeps clear of the menu's top border.
    const int top = menu->actions().isEmpty() ? 6 : 3;
    label->setContentsMargins(m_titleIndent, top, m_titleIndent / 2 + 6, 3);
    label->setTextFormat(Qt::PlainText);
    item->setDefaultWidget(label);
    menu->addAction(item);
    return item;
}

void MenuContent::showLine(QAction* item, bool shown)
{
    item->setVisible(shown);
    // The menu lays out only the lines it shows: a label that goes away while the menu is
    // open must be hidden by hand, or it stays drawn over its neighbours.
    static_cast<QWidgetAction*>(item)->defaultWidget()->setVisible(shown);
}

void MenuContent::setText(QAction* item, const QString& text)
{
    item->setText(text);
    static_cast<QLabel*>(static_cast<QWidgetAction*>(item)->defaultWidget())->setText(text);
}

QAction* MenuContent::addToggle(const QString& title, std::function<void(bool)> apply)
{
    QAction* item = m_menu->addAction(title);
    item->setCheckable(true);
    // `triggered` (not `toggled`) so that redrawing the check mark never calls back.
    connect(item, &QAction::triggered, this, std::move(apply));
    return item;
}

void MenuContent::updatePhones()
{
    const std::vector<Phone> phones = m_state.phones();
    m_phoneMenu->menuAction()->setVisible(phones.size() > 1);
    QStringList texts;
    QStringList identities;
    for (const Phone& phone : phones) {
        const bool hotspot = std::any_of(phone.links.begin(), phone.links.end(),
            [this](const Device& link) { return m_state.isHotspot(link); });
        std::string line = phone.name() + " (" + phone.linkText(hotspot ? "Hotspot" : "Wi-Fi") + ")";
        // Two phones of one model are told apart by their serials.
        if (std::count_if(
                phones.begin(), phones.end(), [&](const Phone& p) { return p.name() == phone.name(); })
            > 1)
            line += " – " + phone.identity;
        texts.append(QString::fromStdString(line));
        identities.append(QString::fromStdString(phone.identity));
    }
    QStringList shownTexts;
    QStringList shownIdentities;
    for (const QAction* item : m_phoneItems->actions()) {
        shownTexts.append(item->text());
        shownIdentities.append(item->data().toString());
    }
    // Rebuilt only when the phones change, so an open submenu does not flicker on each refresh.
    if (texts != shownTexts || identities != shownIdentities) {
        for (QAction* item : m_phoneItems->actions())
            delete item;
        for (std::size_t i = 0; i < phones.size(); ++i) {
            QAction* item = m_phoneMenu->addAction(texts[qsizetype(i)]);
            item->setCheckable(true);
            item->setData(identities[qsizetype(i)]);
            m_phoneItems->addAction(item);
            connect(
                item, &QAction::triggered, this, [this, phone = phones[i]] { m_state.choosePhone(phone); });
        }
    }
    const auto actedOn = m_state.actedOnPhone();
    for (QAction* item : m_phoneItems->actions())
        item->setChecked(actedOn && item->data().toString() == QString::fromStdString(*actedOn));
}

void MenuContent::update()
{
    setText(m_status, QString::fromStdString(m_state.statusText()));
    updatePhones();
    const auto mirroring = m_state.mirroringLine();
    showLine(m_mirroringLine, mirroring.has_value());
    setText(m_mirroringLine, mirroring ? QString::fromStdString(*mirroring) : QString());
    showLine(m_pocketLines, m_state.mirroringInPocketMode());

    const auto& quality = m_state.quality();
    showLine(m_quality, quality.has_value());
    if (quality) {
        QString lines = text(quality->summaryLine());
        if (const auto band = quality->bandLine())
            lines += QLatin1Char('\n') + text(*band);
        if (quality->showsTip())
            lines += QLatin1Char('\n') + text(ConnectionQuality::tipLine);
        setText(m_quality, lines);
    }
    showLine(m_qualityChecking, !quality && m_state.isCheckingQuality());
    showLine(m_wirelessWarning, m_state.wirelessActive());
    showLine(m_hotspotData, m_state.isOnHotspot());
    const auto& busy = m_state.busyMessage();
    showLine(m_busy, busy.has_value());
    m_mirror->setText(m_state.isMirroring() ? QStringLiteral("Mirroring…") : QStringLiteral("Mirror Phone"));
    m_mirror->setEnabled(!m_state.isMirroring() && !busy && m_state.toolsFound());
    m_stopMirroring->setEnabled(m_state.isMirroring());
    m_phoneFiles->setEnabled(m_state.adb().has_value());
    m_saveScreenshot->setEnabled(m_state.adb().has_value() && !busy);
    m_goWireless->setEnabled(m_state.hasUSBDevice() && !busy);
    m_pairOverWiFi->setEnabled(m_state.adb().has_value() && !busy);
    m_connectHotspot->setEnabled(!busy);
    m_disconnectWireless->setEnabled(m_state.wirelessActive() && !busy);
    setText(m_busy, busy ? QStringLiteral("⏳ ") + QString::fromStdString(*busy) : QString());

    for (QAction* item : m_presets->actions())
        item->setChecked(item->data().toInt() == static_cast<int>(m_state.preset()));
    m_pocketMode->setChecked(m_state.pocketMode());
    m_stayAwake->setChecked(m_state.stayAwake());
    m_realKeyboard->setChecked(m_state.realKeyboard());
    m_audio->setChecked(m_state.audio());
    m_showFPS->setChecked(m_state.showFPS());
    m_autoDisable->setChecked(m_state.autoDisableWirelessOnQuit());
    m_launchAtLogin->setChecked(m_state.launchAtLogin());
    m_quickShare->setChecked(m_state.quickShareOn());
    const auto quickShareLine = m_state.quickShareLine();
    showLine(m_quickShareLine, quickShareLine.has_value());
    setText(m_quickShareLine, quickShareLine ? QString::fromStdString(*quickShareLine) : QString());
    m_lastErrorDetails->setVisible(m_state.lastError().has_value());
}

} // namespace tessaly
