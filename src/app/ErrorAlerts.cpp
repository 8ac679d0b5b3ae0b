#include "app/ErrorAlerts.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QVBoxLayout>

namespace tessaly::ErrorAlerts {

namespace {

QString applicationTitle()
{
    return QStringLiteral("Tessaly");
}

// Windows' button order puts help last; the desktops' orders (and the other windows) put it first.
class HelpAtLeftStyle : public QProxyStyle {
public:
    explicit HelpAtLeftStyle(QObject* owner)
        : QProxyStyle(QApplication::style()->name())
    {
        setParent(owner);
    }

    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
        QStyleHintReturn* returned) const override
    {
        const int answer = QProxyStyle::styleHint(hint, option, widget, returned);
        return hint == SH_DialogButtonLayout && answer == QDialogButtonBox::WinLayout
            ? QDialogButtonBox::KdeLayout
            : answer;
    }
};

// Wide enough that a sentence or two of advice reads as a paragraph, not a column.
constexpr int kAlertTextWidth = 380;

// Texts come from tools and phones: never let a "<" turn them into markup.
// The message reads as a heading, as alerts show it.
void styleLabels(QMessageBox& box)
{
    box.setTextFormat(Qt::PlainText);
    if (auto* message = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
        QFont font = message->font();
        font.setBold(true);
        message->setFont(font);
        message->setMinimumWidth(kAlertTextWidth);
    }
    if (auto* informative = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"))) {
        informative->setTextFormat(Qt::PlainText);
        informative->setMinimumWidth(kAlertTextWidth);
    }
}

std::unique_ptr<QMessageBox> buildAlert(QMessageBox::Icon icon, const QString& title, const QString& text)
{
    auto box = std::make_unique<QMessageBox>();
    box->setIcon(icon);
    box->setWindowTitle(applicationTitle());
    box->setWindowModality(Qt::ApplicationModal);
    box->setText(title);
    box->setInformativeText(text);
    styleLabels(*box);
    QPushButton* ok = box->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    ok->setObjectName(QStringLiteral("okButton"));
    box->setDefaultButton(ok);
    box->setEscapeButton(ok);
    return box;
}

QFont detailsFont()
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setStyleHint(QFont::Monospace);
    font.setWeight(QFont::Normal);
    font.setPointSizeF(kDetailsFontPointSize);
    return font;
}

} // namespace

std::unique_ptr<QMessageBox> buildErrorAlert(const FriendlyError& error)
{
    auto box = buildAlert(
        QMessageBox::Warning, QString::fromStdString(error.title), QString::fromStdString(error.advice));
    if (!error.details.empty()) {
        // At the left end of the buttons, where the other windows have their details button too.
        QPushButton* details = box->addButton(QStringLiteral("Show Details"), QMessageBox::HelpRole);
        if (auto* buttons = box->findChild<QDialogButtonBox*>())
            buttons->setStyle(new HelpAtLeftStyle(buttons));
        details->setObjectName(QLatin1String(kShowDetailsButton));
    }
    return box;
}

std::unique_ptr<QMessageBox> buildSavedAlert(const QString& title, const QString& text)
{
    auto box = buildAlert(QMessageBox::Information, title, text);
    QPushButton* show = box->addButton(QStringLiteral("Show in Folder"), QMessageBox::ActionRole);
    show->setObjectName(QLatin1String(kShowInFolderButton));
    return box;
}

std::unique_ptr<QMessageBox> buildInfoAlert(const QString& title, const QString& text)
{
    return buildAlert(QMessageBox::Information, title, text);
}

std::unique_ptr<QDialog> buildDetailsWindow(const QString& text)
{
    auto dialog = std::make_unique<QDialog>();
    dialog->setWindowTitle(applicationTitle());
    dialog->setWindowModality(Qt::ApplicationModal);

    auto* layout = new QVBoxLayout(dialog.get());
    // The window keeps the size of its parts: a long text scrolls, the window never grows.
    layout->setSizeConstraint(QLayout::SetFixedSize);

    auto* message = new QLabel(QStringLiteral("Details"));
    message->setObjectName(QLatin1String(kMessageLabel));
    message->setTextFormat(Qt::PlainText);
    QFont messageFont = message->font();
    messageFont.setBold(true);
    message->setFont(messageFont);
    layout->addWidget(message);

    auto* informative = new QLabel(
        QStringLiteral("Technical output from adb/scrcpy (kept in memory only, never saved to disk):"));
    informative->setObjectName(QLatin1String(kInformativeLabel));
    informative->setTextFormat(Qt::PlainText);
    layout->addWidget(informative);

    auto* output = new QPlainTextEdit;
    output->setObjectName(QLatin1String(kDetailsText));
    output->setReadOnly(true);
    output->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    output->setUndoRedoEnabled(false);
    // The window opens with focus on "Close": no caret in the output until it is clicked.
    output->setFocusPolicy(Qt::ClickFocus);
    output->setFont(detailsFont());
    output->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    output->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    output->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    output->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    output->setFixedSize(kDetailsWidth, kDetailsHeight);
    output->setPlainText(text.isEmpty() ? QStringLiteral("(no output)") : text);
    layout->addWidget(output);

    auto* buttons = new QDialogButtonBox;
    QPushButton* close = buttons->addButton(QStringLiteral("Close"), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("closeButton"));
    close->setDefault(true);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog.get(), &QDialog::reject);
    layout->addWidget(buttons);

    return dialog;
}

} // namespace tessaly::ErrorAlerts
