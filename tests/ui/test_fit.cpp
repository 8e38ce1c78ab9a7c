// Layouts from the real font: at the designed font size and at one and a half times it (what
// 144 dpi gives), every text of the dialogs and every toolbar button is shown whole, and the
// designed sizes stay the smallest. The font dialog keeps a font that is not installed.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFontDialog>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>

#include "core/ImageStore.h"
#include "core/Settings.h"
#include "core/StoreCommands.h"
#include "support/TempEnv.h"
#include "ui/TfrmAbout.h"
#include "ui/TfrmLoc.h"
#include "ui/TfrmLogoPos.h"
#include "ui/TfrmMain.h"
#include "ui/TfrmOptions.h"
#include "ui/TfrmOverwrite.h"
#include "ui/TfrmResize.h"
#include "ui/TfrmSetLogo.h"
#include "ui_dialog_driver.h"

namespace {

// "dialog.control at 9 pt", for failure messages.
std::string Where(QWidget* w, QWidget* control, double points)
{
    return (w->objectName() + "." + control->objectName() + " at " + QString::number(points) + " pt").toStdString();
}

// Every label, button, group box title and tab of w shows its whole text at its present size.
void ExpectTextsFit(QWidget* w, double points)
{
    for (QLabel* l : w->findChildren<QLabel*>()) {
        if (!l->isVisible() || l->text().isEmpty()) continue;
        const std::string what = Where(w, l, points);
        if (l->wordWrap()) {
            EXPECT_LE(l->heightForWidth(l->width()), l->height()) << what;
        } else {
            EXPECT_LE(l->sizeHint().width(), l->width()) << what;
            EXPECT_LE(l->sizeHint().height(), l->height()) << what;
        }
    }
    for (QAbstractButton* b : w->findChildren<QAbstractButton*>()) {
        if (!b->isVisible() || b->text().isEmpty()) continue;
        const std::string what = Where(w, b, points);
        EXPECT_LE(b->sizeHint().width(), b->width()) << what;
        EXPECT_LE(b->sizeHint().height(), b->height()) << what;
    }
    // A group box's smallest size holds its title.
    for (QGroupBox* g : w->findChildren<QGroupBox*>()) {
        if (!g->isVisible() || g->title().isEmpty()) continue;
        const std::string what = Where(w, g, points);
        EXPECT_LE(g->minimumSizeHint().width(), g->width()) << what;
    }
    // Every tab at its full width, none scrolled away or elided.
    for (QTabBar* t : w->findChildren<QTabBar*>()) {
        if (!t->isVisible()) continue;
        const std::string what = Where(w, t->parentWidget(), points);
        EXPECT_LE(t->sizeHint().width(), t->width()) << what;
        for (int i = 0; i < t->count(); ++i)
            EXPECT_TRUE(t->rect().contains(t->tabRect(i))) << what << " tab " << i;
    }
}

// Every push button of w keeps its caption a line's height clear of either edge.
void ExpectCaptionsClearOfEdges(QWidget* w)
{
    for (QPushButton* b : w->findChildren<QPushButton*>()) {
        const int text = b->fontMetrics().horizontalAdvance(QString(b->text()).remove(QLatin1Char('&')));
        EXPECT_GE(b->width() - text, 2 * b->fontMetrics().height()) << b->objectName().toStdString();
    }
}

// ExpectTextsFit on every page of every tab widget of w, each page shown in turn.
void ExpectEveryPageFits(QWidget* w, double points)
{
    ExpectTextsFit(w, points);
    for (QTabWidget* tabs : w->findChildren<QTabWidget*>()) {
        for (int i = 0; i < tabs->count(); ++i) {
            tabs->setCurrentIndex(i);
            QCoreApplication::processEvents();
            ExpectTextsFit(tabs->currentWidget(), points);
        }
    }
}

class FitTest : public ::testing::TestWithParam<double> {
protected:
    TempEnv env;
    QFont saved_ = QApplication::font();
    void SetUp() override
    {
        LoadSettings();
        QFont f = saved_;
        f.setPointSizeF(GetParam());
        QApplication::setFont(f);
    }
    void TearDown() override { QApplication::setFont(saved_); }
    void Show(QWidget& w)
    {
        w.show();
        QCoreApplication::processEvents();
    }
};

TEST_P(FitTest, PositionAndResizeModeTextsFitAndDesignedSizesStayTheLeast)
{
    TfrmLogoPos pos;
    pos.Fill(5, POSITIONS_TEXT);
    Show(pos);
    ExpectTextsFit(&pos, GetParam());
    EXPECT_GE(pos.width(), 410);
    EXPECT_GE(pos.height(), 207);
    EXPECT_GE(pos.memoText->height(), 78);

    TfrmResize resize;
    resize.Fill();
    Show(resize);
    ExpectTextsFit(&resize, GetParam());
    EXPECT_GE(resize.width(), 485);
    EXPECT_GE(resize.height(), 393);
}

TEST_P(FitTest, OverwriteCaptionsKeepClearOfTheirEdges)
{
    TfrmOverwrite dlg;
    dlg.Fill("Image Already Exists", "Image \"a.png\" already exists in the destination folder. What to do with it?");
    Show(dlg);
    ExpectTextsFit(&dlg, GetParam());
    ExpectCaptionsClearOfEdges(&dlg);
    // Six lines of text fit before the scroll bar rule starts.
    EXPECT_GE(dlg.memo1->height(), 6 * dlg.memo1->fontMetrics().lineSpacing());

    TfrmAbout about;
    Show(about);
    ExpectTextsFit(&about, GetParam());
}

TEST_P(FitTest, SetLogoLocationAndOptionsTextsFitOnEveryPage)
{
    TfrmSetLogo setLogo;
    setLogo.Fill({0, SET_LOGO_EXPLANATION, "Hello", "Please wait", "Bye"});
    Show(setLogo);
    ExpectTextsFit(&setLogo, GetParam());
    ExpectCaptionsClearOfEdges(&setLogo);
    EXPECT_EQ(setLogo.memoText->verticalScrollBar()->maximum(), 0);
    EXPECT_GE(setLogo.width(), 471);
    EXPECT_GE(setLogo.height(), 383);
    EXPECT_GE(setLogo.memo0->width(), 395);

    TfrmLoc loc;
    loc.Fill();
    Show(loc);
    ExpectEveryPageFits(&loc, GetParam());
    ExpectCaptionsClearOfEdges(&loc);
    EXPECT_GE(loc.width(), 433);
    EXPECT_GE(loc.height(), 307);

    TfrmOptions options;
    OptionsFillWorkCopy(OptionsWork);
    options.Fill(OptionsWork);
    Show(options);
    ExpectEveryPageFits(&options, GetParam());
    ExpectCaptionsClearOfEdges(&options);
    EXPECT_GE(options.width(), 426);
    EXPECT_GE(options.height(), 397);
    EXPECT_GE(options.memo0->width(), 403);
    EXPECT_GE(options.memo0->height(), 265);
}

TEST_P(FitTest, SmallestWindowKeepsEveryToolbarButton)
{
    StoreFree();
    TfrmMain w(false);
    w.resize(400, 250);
    Show(w);
    EXPECT_GE(w.width(), w.minimumWidth());
    for (QToolButton* b : w.panTools->findChildren<QToolButton*>()) {
        EXPECT_LE(b->geometry().right(), w.panTools->contentsRect().right()) << b->objectName().toStdString();
        EXPECT_LE(b->geometry().bottom(), w.panTools->contentsRect().bottom()) << b->objectName().toStdString();
    }
    ExpectTextsFit(w.panTools, GetParam());
    EXPECT_LE(w.panStatus->fontMetrics().height(), w.panStatus->contentsRect().height());
    // The glyphs grow with the captions, as 144 dpi makes them grow.
    EXPECT_GE(w.btnAdd->iconSize().height(), qRound(22 * GetParam() / 9.0) - 1);

    // A long confirmation and a long drive path each stay in their own section of the status line.
    w.ShowImageCount();
    w.ShowStatus(std::string(200, 'x') + " done", true);
    for (int width : {w.minimumWidth(), 900}) {
        w.resize(width, w.height());
        QCoreApplication::processEvents();
        const QRect status = w.panStatus->geometry(), drive = w.panDrive->geometry();
        EXPECT_FALSE(status.intersects(drive)) << width;
        EXPECT_TRUE(w.panStatusBar->rect().contains(drive)) << width;
        EXPECT_GT(status.width(), drive.width()) << width;
        EXPECT_LE(w.panDrive->fontMetrics().horizontalAdvance(w.panDrive->text()), w.panDrive->contentsRect().width())
            << width;
        EXPECT_TRUE(w.panDrive->toolTip().startsWith("Drive: ")) << width;
    }
    w.close();
    StoreFree();
}

INSTANTIATE_TEST_SUITE_P(DesignedAndLarge, FitTest, ::testing::Values(9.0, 13.5));

// Verdana is not installed here: the dialog shows its substitute, bold and size kept, and OK
// without a change leaves the settings file as it was, byte for byte.
TEST(FontDialog, MissingFontSurvivesARoundTrip)
{
    TempEnv env;
    LoadSettings();
    LoadMessages();
    FontName = "Verdana";
    FontSize = 10;
    FontBold = true;
    FontItalic = FontUnderline = FontStrikeout = false;
    ASSERT_TRUE(SaveSettings());
    const std::string before = TempEnv::Read(env.prog + "Kvs.ini");
    QFont shown;
    WhenModal([&](QWidget* options) {
        WhenModal([&](QWidget* fonts) {
            auto* d = qobject_cast<QFontDialog*>(fonts);
            ASSERT_NE(d, nullptr);
            shown = d->currentFont();
            d->accept();
        });
        options->findChild<QPushButton*>("btnFontSelect")->click();
        options->findChild<QPushButton*>("btnOK")->click();
    });
    EXPECT_TRUE(OptionsDialog());
    EXPECT_EQ(shown.family(), QFontInfo(QFont(QStringLiteral("Verdana"))).family());
    EXPECT_TRUE(shown.bold());
    EXPECT_EQ(shown.pointSize(), 10);
    EXPECT_EQ(TempEnv::Read(env.prog + "Kvs.ini"), before);
    EXPECT_EQ(FontName, "Verdana");
    EXPECT_TRUE(FontBold);
}

}  // namespace
