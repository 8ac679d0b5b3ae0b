#include <QApplication>
#include <QFontInfo>
#include <QFontMetricsF>
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

const FriendlyError kMirrorError { "Mirroring stopped unexpectedly.",
    "Unplug the cable, plug it back in, then try again.\nIf it keeps happening, restart the phone.",
    "ERROR: Could not open video stream\nINFO: Renderer: opengl\nERROR: Demuxer error" };

TEST(ErrorAlertsTest, WarningOffersShowDetailsOnlyWhenThereAreDetailsAndShowsNoMarkup)
{
    const auto plain = ErrorAlerts::buildErrorAlert({ "<b>Phone</b> not found.", "Plug it in.", "" });
    EXPECT_EQ(plain->icon(), QMessageBox::Warning);
    EXPECT_EQ(plain->text(), QStringLiteral("<b>Phone</b> not found."));
    EXPECT_EQ(plain->informativeText(), QStringLiteral("Plug it in."));
    EXPECT_EQ(buttonTexts(*plain), QStringList { QStringLiteral("OK") });
    for (const QLabel* label : plain->findChildren<QLabel*>()) // texts from tools are never markup
        EXPECT_TRUE(!label->text().contains(QLatin1Char('<')) || label->textFormat() == Qt::PlainText);

    const auto detailed = ErrorAlerts::buildErrorAlert(kMirrorError);
    EXPECT_EQ(buttonTexts(*detailed), (QStringList { QStringLiteral("OK"), QStringLiteral("Show Details") }));
    EXPECT_EQ(detailed->defaultButton()->text(), QStringLiteral("OK"));
    saveScreenshot(detailed.get(), QStringLiteral("error-alert"));
    EXPECT_LT(detailed->buttons().last()->x(), detailed->buttons().first()->x()); // details on the left
}

TEST(ErrorAlertsTest, DetailsWindowIsAFixedScrollingMonospacedView)
{
    const auto dialog = ErrorAlerts::buildDetailsWindow(QString::fromStdString(kMirrorError.details));
    EXPECT_EQ(buttonTexts(*dialog), QStringList { QStringLiteral("Close") });
    QPlainTextEdit* text = detailsText(*dialog);
    EXPECT_EQ(text->toPlainText().toStdString(), kMirrorError.details);
    EXPECT_TRUE(text->isReadOnly() && text->textInteractionFlags().testFlag(Qt::TextSelectableByMouse));
    EXPECT_EQ(text->font().pointSizeF(), 11.0);
    // Monospaced as the reader sees it: fontconfig does not mark every such family fixed-pitch.
    const QFontMetricsF metrics(text->font());
    EXPECT_EQ(metrics.horizontalAdvance(QLatin1Char('i')), metrics.horizontalAdvance(QLatin1Char('M')))
        << QFontInfo(text->font()).family().toStdString();
    saveScreenshot(dialog.get(), QStringLiteral("details-window"));
    EXPECT_EQ(
        detailsText(*ErrorAlerts::buildDetailsWindow({}))->toPlainText(), QStringLiteral("(no output)"));

    QString longText;
    for (int line = 0; line < 1000; ++line)
        longText += QStringLiteral("INFO: frame %1 skipped by the decoder, a long line that has to wrap\n")
                        .arg(line);
    const auto longOne = ErrorAlerts::buildDetailsWindow(longText);
    saveScreenshot(longOne.get(), QStringLiteral("details-window-long"));
    EXPECT_EQ(longOne->size(), dialog->size());
    for (const QPlainTextEdit* view : { text, detailsText(*longOne) })
        EXPECT_EQ(view->size(), QSize(560, 260));
    EXPECT_GT(detailsText(*longOne)->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(detailsText(*longOne)->toPlainText(), longText);
}

// Runs `step` on the next modal dialog that comes up, from inside its event loop.
void onNextModal(std::function<void(QWidget*)> step)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, step = std::move(step)] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->deleteLater();
            timer->stop();
            step(modal);
        }
    });
    timer->start();
}

// Clicks the button (or, when it is missing, rejects the dialog so that the test goes on).
void click(QWidget* dialog, const QString& text)
{
    for (QPushButton* button : dialog->findChildren<QPushButton*>())
        if (button->text() == text)
            return button->click();
    ADD_FAILURE() << "no button " << text.toStdString();
    qobject_cast<QDialog*>(dialog)->reject();
}

TEST(WidgetPresenterTest, ShowDetailsOpensTheDetailsOfThatErrorAndOKEndsIt)
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

    onNextModal([&](QWidget* alert) { click(alert, QStringLiteral("OK")); });
    presenter.presentError(kMirrorError); // returns: no details window after "OK"
    QStringList infoButtons;
    onNextModal([&](QWidget* info) {
        infoButtons = buttonTexts(*info);
        EXPECT_EQ(qobject_cast<QMessageBox*>(info)->informativeText(), QStringLiteral("At 192.168.1.5."));
        saveScreenshot(info, QStringLiteral("info-alert"));
        click(info, QStringLiteral("OK"));
    });
    presenter.showInfo("Wireless is ready! 🎉", "At 192.168.1.5.");
    EXPECT_EQ(infoButtons, QStringList { QStringLiteral("OK") });
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

} // namespace
} // namespace tessaly
