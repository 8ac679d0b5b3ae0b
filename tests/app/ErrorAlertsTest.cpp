#include <QApplication>
#include <QDialog>
#include <QFontInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>

#include <gtest/gtest.h>

#include "app/ErrorAlerts.h"
#include "app/WidgetPresenter.h"
#include "support/Screenshots.h"

namespace tessaly {
namespace {

using test::saveScreenshot;

QStringList buttonTexts(const QWidget& dialog)
{
    QStringList texts;
    for (const QPushButton* button : dialog.findChildren<QPushButton*>())
        texts << button->text();
    texts.sort();
    return texts;
}

QPlainTextEdit* detailsText(const QWidget& dialog)
{
    return dialog.findChild<QPlainTextEdit*>(QLatin1String(ErrorAlerts::kDetailsText));
}

const FriendlyError kMirrorError {
    "Mirroring stopped unexpectedly.",
    "Unplug the cable, plug it back in, then try again.\nIf it keeps happening, restart the phone.",
    "ERROR: Could not open video stream\nINFO: Renderer: opengl\nERROR: Demuxer error",
};

TEST(ErrorAlertsTest, ShowDetailsOnlyWhenThereAreDetails)
{
    const auto plain = ErrorAlerts::buildErrorAlert({ "Phone not found.", "Plug it in.", "" });
    EXPECT_EQ(plain->icon(), QMessageBox::Warning);
    EXPECT_EQ(plain->text(), QStringLiteral("Phone not found."));
    EXPECT_EQ(plain->informativeText(), QStringLiteral("Plug it in."));
    EXPECT_EQ(buttonTexts(*plain), QStringList { QStringLiteral("OK") });

    const auto detailed = ErrorAlerts::buildErrorAlert(kMirrorError);
    EXPECT_EQ(buttonTexts(*detailed), (QStringList { QStringLiteral("OK"), QStringLiteral("Show Details") }));
    EXPECT_EQ(detailed->defaultButton()->text(), QStringLiteral("OK"));
    EXPECT_FALSE(saveScreenshot(detailed.get(), QStringLiteral("error-alert")).isEmpty());
}

TEST(ErrorAlertsTest, TextsFromToolsAreNeverMarkup)
{
    const auto box = ErrorAlerts::buildErrorAlert({ "<b>bold</b> title", "<i>advice</i>", "" });
    EXPECT_EQ(box->textFormat(), Qt::PlainText);
    for (const QLabel* label : box->findChildren<QLabel*>())
        EXPECT_TRUE(!label->text().contains(QLatin1Char('<')) || label->textFormat() == Qt::PlainText)
            << label->text().toStdString();
}

TEST(ErrorAlertsTest, LaunchAtLoginErrorUsesTheAutostartWording)
{
    const auto error = FriendlyError::loginItemFailed("Couldn’t write /x: Permission denied");
    EXPECT_EQ(error,
        (FriendlyError { "Couldn’t change “Launch at login”.",
            "Make sure your autostart folder (~/.config/autostart) can be written, then try again.",
            "Couldn’t write /x: Permission denied" }));
}

TEST(ErrorAlertsTest, DetailsWindowIsAFixedScrollingMonospacedView)
{
    const auto dialog = ErrorAlerts::buildDetailsWindow(QString::fromStdString(kMirrorError.details));
    const auto label
        = [&](const char* name) { return dialog->findChild<QLabel*>(QLatin1String(name))->text(); };
    EXPECT_EQ(label(ErrorAlerts::kMessageLabel), QStringLiteral("Details"));
    EXPECT_EQ(label(ErrorAlerts::kInformativeLabel),
        QStringLiteral("Technical output from adb/scrcpy (kept in memory only, never saved to disk):"));
    EXPECT_EQ(buttonTexts(*dialog), QStringList { QStringLiteral("Close") });
    QPlainTextEdit* text = detailsText(*dialog);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->toPlainText().toStdString(), kMirrorError.details);
    EXPECT_TRUE(text->isReadOnly());
    EXPECT_TRUE(text->textInteractionFlags().testFlag(Qt::TextSelectableByMouse));
    EXPECT_EQ(text->font().pointSizeF(), 11.0);
    EXPECT_TRUE(QFontInfo(text->font()).fixedPitch()) << QFontInfo(text->font()).family().toStdString();
    EXPECT_FALSE(saveScreenshot(dialog.get(), QStringLiteral("details-window")).isEmpty());
    EXPECT_EQ(detailsText(*ErrorAlerts::buildDetailsWindow(QString()))->toPlainText(),
        QStringLiteral("(no output)"));

    QString longText;
    for (int line = 0; line < 1000; ++line)
        longText += QStringLiteral("INFO: frame %1 skipped by the decoder, a long line that has to wrap\n")
                        .arg(line);
    const auto longOne = ErrorAlerts::buildDetailsWindow(longText);
    longOne->show();
    QApplication::processEvents();
    EXPECT_EQ(longOne->size(), dialog->size());
    for (const QPlainTextEdit* view : { text, detailsText(*longOne) })
        EXPECT_EQ(view->size(), QSize(560, 260));
    EXPECT_GT(detailsText(*longOne)->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(detailsText(*longOne)->toPlainText(), longText);
    saveScreenshot(longOne.get(), QStringLiteral("details-window-long"));
}

// Runs `step` on the next modal dialog that comes up, from inside its event loop.
void onNextModal(std::function<void(QWidget*)> step)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, step = std::move(step)] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            step(modal);
        }
    });
    timer->start();
}

void click(QWidget* dialog, const QString& text)
{
    for (QPushButton* button : dialog->findChildren<QPushButton*>())
        if (button->text() == text)
            return button->click();
    ADD_FAILURE() << "no button " << text.toStdString();
    if (auto* asDialog = qobject_cast<QDialog*>(dialog))
        asDialog->reject();
}

TEST(WidgetPresenterTest, ShowDetailsOpensTheDetailsOfThatErrorAndOKDoesNot)
{
    QString shownDetails;
    onNextModal([&](QWidget* alert) {
        EXPECT_EQ(qobject_cast<QMessageBox*>(alert)->text(), QString::fromStdString(kMirrorError.title));
        onNextModal([&](QWidget* details) {
            shownDetails = detailsText(*details)->toPlainText();
            click(details, QStringLiteral("Close"));
        });
        click(alert, QStringLiteral("Show Details"));
    });
    WidgetPresenter presenter;
    presenter.presentError(kMirrorError);
    EXPECT_EQ(shownDetails.toStdString(), kMirrorError.details);

    int modals = 0;
    onNextModal([&](QWidget* alert) {
        ++modals;
        click(alert, QStringLiteral("OK"));
    });
    presenter.presentError(kMirrorError);
    EXPECT_EQ(modals, 1);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(WidgetPresenterTest, InfoAlertHasOneOK)
{
    QStringList buttons;
    QString informative;
    onNextModal([&](QWidget* alert) {
        buttons = buttonTexts(*alert);
        informative = qobject_cast<QMessageBox*>(alert)->informativeText();
        EXPECT_FALSE(saveScreenshot(alert, QStringLiteral("info-alert")).isEmpty());
        click(alert, QStringLiteral("OK"));
    });
    WidgetPresenter().showInfo("Wireless is ready! 🎉", "Connected to your phone at 192.168.1.5.");
    EXPECT_EQ(buttons, QStringList { QStringLiteral("OK") });
    EXPECT_EQ(informative, QStringLiteral("Connected to your phone at 192.168.1.5."));
}

} // namespace
} // namespace tessaly
