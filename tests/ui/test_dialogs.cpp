// The dialogs' fill and read-back rules, and the entry functions run for real with a button
// pressed from inside the modal loop.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTabWidget>

#include <filesystem>

#include "core/Settings.h"
#include "support/TempEnv.h"
#include "ui/TfrmLoc.h"
#include "ui/TfrmLogoPos.h"
#include "ui/TfrmOptions.h"
#include "ui/TfrmOverwrite.h"
#include "ui/TfrmRename.h"
#include "ui/TfrmResize.h"
#include "ui/TfrmSetLogo.h"
#include "ui_dialog_driver.h"

// ---------------------------------------------------------------- set logo, logo position

static SetLogoRequest Request_()
{
    SetLogoRequest r;
    r.positions = 0;
    r.explanation = "Choose where";
    r.message1 = "Hello\r\nworld";
    r.message2 = "Please wait";
    r.message4 = "Bye";
    return r;
}

TEST(SetLogoDialog, OpensUncheckedWithGreyMessages)
{
    TfrmSetLogo dlg;
    dlg.Fill(Request_());
    for (QCheckBox* c : {dlg.chk0, dlg.chk1, dlg.chk2}) EXPECT_FALSE(c->isChecked());
    for (QPlainTextEdit* m : {dlg.memo0, dlg.memo1, dlg.memo2}) {
        EXPECT_FALSE(m->isEnabled());
        EXPECT_TRUE(ControlIsGreyed(m));
    }
    EXPECT_EQ(dlg.memo0->toPlainText(), "Hello\nworld");
    EXPECT_EQ(dlg.memoText->toPlainText(), "Choose where");
    EXPECT_EQ(dlg.memoText->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(dlg.windowTitle(), "Select Logo Position");
}

TEST(SetLogoDialog, CheckBoxEnablesOnlyItsMessage)
{
    TfrmSetLogo dlg;
    dlg.Fill(Request_());
    dlg.chk2->click();
    EXPECT_TRUE(dlg.memo2->isEnabled());
    EXPECT_FALSE(ControlIsGreyed(dlg.memo2));
    EXPECT_FALSE(dlg.memo0->isEnabled());
    EXPECT_FALSE(dlg.memo1->isEnabled());
    dlg.chk2->click();
    EXPECT_FALSE(dlg.memo2->isEnabled());
    EXPECT_TRUE(ControlIsGreyed(dlg.memo2));
    EXPECT_EQ(dlg.memo2->toPlainText(), "Bye");
}

TEST(SetLogoDialog, ReadBackGivesCheckedPositionsAndAllTexts)
{
    TfrmSetLogo dlg;
    SetLogoRequest r = Request_();
    dlg.Fill(r);
    dlg.memo1->setPlainText("Edited wait");
    dlg.chk0->click();
    dlg.ReadBack(r);
    EXPECT_EQ(r.positions, 1);
    EXPECT_EQ(r.message1, "Hello\r\nworld");
    EXPECT_EQ(r.message2, "Edited wait");
    EXPECT_EQ(r.message4, "Bye");
}

TEST(SetLogoDialog, OkReturnsChoicesCancelKeepsRequest)
{
    SetLogoRequest r = Request_();
    r.positions = 4;
    WhenModal([](QWidget* w) {
        w->findChild<QCheckBox*>("chk0")->click();
        w->findChild<QPlainTextEdit*>("memo0")->setPlainText("New");
        w->findChild<QPushButton*>("BitBtn1")->click();
    });
    ASSERT_TRUE(SetLogoDialog(r));
    EXPECT_EQ(r.positions, 5);
    EXPECT_EQ(r.message1, "New");

    const SetLogoRequest before = r;
    WhenModal([](QWidget* w) {
        w->findChild<QCheckBox*>("chk1")->click();
        w->findChild<QPushButton*>("BitBtn2")->click();
    });
    EXPECT_FALSE(SetLogoDialog(r));
    EXPECT_EQ(r.positions, before.positions);
    EXPECT_EQ(r.message1, before.message1);
}

TEST(LogoPosDialog, MaskInAndOut)
{
    TfrmLogoPos dlg;
    dlg.Fill(1 | 4, "Where may they be used?");
    EXPECT_TRUE(dlg.chk0->isChecked());
    EXPECT_FALSE(dlg.chk1->isChecked());
    EXPECT_TRUE(dlg.chk2->isChecked());
    dlg.chk1->click();
    EXPECT_EQ(dlg.ReadBack(), 7);

    int32_t mask = 2;
    WhenModal([](QWidget* w) {
        w->findChild<QCheckBox*>("chk1")->click();
        w->findChild<QPushButton*>("BitBtn2")->click();
    });
    EXPECT_FALSE(LogoPosDialog(mask, "x"));
    EXPECT_EQ(mask, 2);
    WhenModal([](QWidget* w) {
        w->findChild<QCheckBox*>("chk0")->click();
        w->findChild<QPushButton*>("BitBtn1")->click();
    });
    EXPECT_TRUE(LogoPosDialog(mask, "x"));
    EXPECT_EQ(mask, 3);
}

// ---------------------------------------------------------------- options

class OptionsDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        LoadSettings();
        LoadMessages();
        SetMessageText(POS_STARTUP, "One\r\n--\r\nTwo");
        SetMessageText(POS_WAIT, "Wait");
        SetMessageText(POS_TURNOFF, "Off");
        FontName = "Verdana";
        FontSize = 10;
        FontBold = true;
        FontItalic = FontUnderline = FontStrikeout = false;
        OptionsFillWorkCopy(work);
    }
    TempEnv env;
    OptionsWorkCopy work;
};

TEST_F(OptionsDialogTest, OutOfRangePickMethodsShowSequentialAndSaveZero)
{
    LogoPickMethod = 2;
    MsgPickMethod = 2;
    TfrmOptions dlg;
    dlg.Fill(work);
    EXPECT_TRUE(dlg.radLogoPick0->isChecked());
    EXPECT_FALSE(dlg.radLogoPick1->isChecked());
    EXPECT_TRUE(dlg.radMsgPick2->isChecked());
    EXPECT_EQ(dlg.PageControl1->currentWidget(), dlg.TabSheet1);
    dlg.ReadBack(work);
    EXPECT_EQ(LogoPickMethod, 0);
    EXPECT_EQ(MsgPickMethod, 2);

    LogoPickMethod = 1;
    MsgPickMethod = 7;
    dlg.Fill(work);
    EXPECT_TRUE(dlg.radLogoPick1->isChecked());
    EXPECT_TRUE(dlg.radMsgPick0->isChecked());
    dlg.ReadBack(work);
    EXPECT_EQ(LogoPickMethod, 1);
    EXPECT_EQ(MsgPickMethod, 0);
}

TEST_F(OptionsDialogTest, AnimShapeTakesTheNearestRow)
{
    AnimShape = 5;
    AnimMove = -3;
    TfrmOptions dlg;
    dlg.Fill(work);
    EXPECT_EQ(dlg.lstAnimShape->count(), 3);
    EXPECT_EQ(dlg.lstAnimShape->currentText(), "Vertical - left and right bar");
    EXPECT_EQ(dlg.lstAnimMove->currentIndex(), 0);
    dlg.ReadBack(work);
    EXPECT_EQ(AnimShape, 2);
    EXPECT_EQ(AnimMove, 0);
}

TEST_F(OptionsDialogTest, AnimationGroupFollowsItsCheckBox)
{
    AnimEnabled = false;
    TfrmOptions dlg;
    dlg.Fill(work);
    EXPECT_FALSE(dlg.boxAnimOptions->isEnabled());
    EXPECT_FALSE(dlg.lstAnimShape->isEnabled());
    EXPECT_TRUE(ControlIsGreyed(dlg.lstAnimMove));
    dlg.chkAnimEnabled->click();
    EXPECT_TRUE(dlg.lstAnimShape->isEnabled());
    EXPECT_TRUE(dlg.panAnimColor1->isEnabled());
    EXPECT_FALSE(ControlIsGreyed(dlg.lstAnimMove));
    dlg.ReadBack(work);
    EXPECT_TRUE(AnimEnabled);
}

TEST_F(OptionsDialogTest, UncheckedMessageIsGreyButSaved)
{
    Msg2Enabled = true;
    TfrmOptions dlg;
    dlg.Fill(work);
    EXPECT_TRUE(dlg.memo2->isEnabled());
    dlg.chkMsg2->click();
    EXPECT_FALSE(dlg.memo2->isEnabled());
    EXPECT_TRUE(ControlIsGreyed(dlg.memo2));
    dlg.ReadBack(work);
    EXPECT_FALSE(Msg2Enabled);
    EXPECT_EQ(work.messages4, "Off");
    EXPECT_EQ(work.messages1, "One\r\n--\r\nTwo");
}

TEST_F(OptionsDialogTest, FontTextAndSizeClamp)
{
    TfrmOptions dlg;
    dlg.Fill(work);
    EXPECT_EQ(dlg.edFont->text(), "Verdana, size 10, bold");
    OptionsWorkCopy w = work;
    OptionsTakeFont(w, "Arial", false, true, true, true, 80, 238);
    EXPECT_EQ(w.font.Size, 72);
    EXPECT_EQ(w.font.CharSet, 238);
    EXPECT_EQ(OptionsFontText(w), "Arial, size 72, italic, underline, strikeout");
    OptionsTakeFont(w, "Arial", false, false, false, false, 4, 0);
    EXPECT_EQ(w.font.Size, 6);
}

TEST_F(OptionsDialogTest, ColourSwatchesReadBack)
{
    TfrmOptions dlg;
    dlg.Fill(work);
    dlg.panTextColor2->SetColor(0x00FF00);
    dlg.panAnimColor1->SetColor(0x0000FF);
    dlg.ReadBack(work);
    EXPECT_EQ(work.textBorderColor, 0x00FF00);
    EXPECT_EQ(AnimColor1, 0x0000FF);
}

TEST_F(OptionsDialogTest, CancelChangesNothing)
{
    SaveSettings();
    SaveMessages();
    const std::string ini = TempEnv::Read(env.prog + "Kvs.ini");
    const std::string msg = TempEnv::Read(GetMessageFileName(POS_STARTUP));
    LogoPickMethod = 0;
    AnimShape = 1;
    WhenModal([](QWidget* w) {
        w->findChild<QPlainTextEdit*>("memo0")->setPlainText("Changed");
        w->findChild<QRadioButton*>("radLogoPick1")->setChecked(true);
        w->findChild<QComboBox*>("lstAnimShape")->setCurrentIndex(0);
        w->findChild<QPushButton*>("btnCancel")->click();
    });
    EXPECT_FALSE(OptionsDialog());
    EXPECT_EQ(LogoPickMethod, 0);
    EXPECT_EQ(AnimShape, 1);
    EXPECT_EQ(GetMessageText(POS_STARTUP), "One\r\n--\r\nTwo");
    EXPECT_EQ(TempEnv::Read(env.prog + "Kvs.ini"), ini);
    EXPECT_EQ(TempEnv::Read(GetMessageFileName(POS_STARTUP)), msg);
}

TEST_F(OptionsDialogTest, OkSavesSettingsMessagesAndBootSwitch)
{
    const auto msdos = std::filesystem::path(env.win).parent_path().parent_path() / "MSDOS.SYS";
    TempEnv::Write(msdos.string(), "[Paths]\r\nWinDir=C:\\WINDOWS\r\n[Options]\r\nLogo=0\r\n");
    LogoPickMethod = 2;
    AutoChange = false;
    WhenModal([](QWidget* w) {
        w->findChild<QPlainTextEdit*>("memo1")->setPlainText("Goodbye\nfor now");
        w->findChild<QCheckBox*>("chkAutoStart")->setChecked(true);
        w->findChild<QPushButton*>("btnOK")->click();
    });
    EXPECT_TRUE(OptionsDialog());
    EXPECT_EQ(LogoPickMethod, 0);
    EXPECT_TRUE(AutoChange);
    EXPECT_EQ(GetMessageText(POS_WAIT), "Goodbye\r\nfor now");
    EXPECT_NE(TempEnv::Read(GetMessageFileName(POS_WAIT)).find("Goodbye\r\nfor now"), std::string::npos);
    const std::string ini = TempEnv::Read(env.prog + "Kvs.ini");
    EXPECT_NE(ini.find("LogoPickMethod=0"), std::string::npos);
    EXPECT_NE(TempEnv::Read(env.win + "registry.ini").find("/CHANGE"), std::string::npos);
    EXPECT_NE(TempEnv::Read(msdos.string()).find("Logo=1"), std::string::npos);
}

// ---------------------------------------------------------------- prompt, overwrite, resize, system files

TEST(PromptDialog, OkReturnsTextCancelKeepsIt)
{
    std::string text = "Old";
    QString caption, label;
    WhenModal([&](QWidget* w) {
        caption = w->windowTitle();
        label = w->findChild<QLabel*>("labSubTitle")->text();
        w->findChild<QLineEdit*>("edNewName")->setText("New name");
        w->findChild<QPushButton*>("BitBtn1")->click();
    });
    EXPECT_TRUE(PromptText("Rename", "Enter new name", text));
    EXPECT_EQ(text, "New name");
    EXPECT_EQ(caption, "Rename");
    EXPECT_EQ(label, "Enter new name");

    WhenModal([](QWidget* w) {
        w->findChild<QLineEdit*>("edNewName")->setText("Other");
        w->close();
    });
    EXPECT_FALSE(PromptText("Rename", "Enter new name", text));
    EXPECT_EQ(text, "New name");
}

TEST(OverwriteDialog, ButtonsAnswerTheirChoiceClosingAborts)
{
    const char* buttons[] = {"btnOvr", "btnSkip", "btnRename", "btnOvrAll", "btnSkipAll", "btnAbort"};
    for (int i = 0; i < 6; i++) {
        ClickInModal(buttons[i]);
        EXPECT_EQ(OverwriteDialog("Image Already Exists", "Image \"a.png\" already exists"), i + 1) << buttons[i];
    }
    WhenModal([](QWidget* w) { w->close(); });
    EXPECT_EQ(OverwriteDialog("Image Already Exists", "x"), 6);
    PressKeyInModal(Qt::Key_Escape);
    EXPECT_EQ(OverwriteDialog("Image Already Exists", "x"), 6);
}

TEST(OverwriteDialog, ShortTextsMoveDownLongOnesScroll)
{
    TfrmOverwrite dlg;
    dlg.Fill("Image Already Exists", "Image \"a.png\" already exists in the destination folder. What to do with it?");
    EXPECT_TRUE(dlg.memo1->toPlainText().startsWith('\n'));
    EXPECT_EQ(dlg.memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(dlg.windowTitle(), "Image Already Exists");

    std::string longText;
    for (int i = 0; i < 12; i++) longText += "line " + std::to_string(i) + "\r\n";
    dlg.Fill("c", longText);
    EXPECT_FALSE(dlg.memo1->toPlainText().startsWith('\n'));
    EXPECT_EQ(dlg.memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
}

TEST(ResizeDialog, FillAndReadBackCleanThePrefix)
{
    ResizeMode = 1;
    DefPrefix = "My:Pic";
    TfrmResize dlg;
    dlg.Fill();
    EXPECT_EQ(dlg.edPrefix->text(), "My_Pic");
    EXPECT_TRUE(dlg.radCrop->isChecked());
    EXPECT_TRUE(dlg.memoBorder->text().startsWith("SHOW ENTIRE IMAGE"));

    dlg.radStretch->setChecked(true);
    dlg.edPrefix->setText(" Sea--side ");
    dlg.ReadBack();
    EXPECT_EQ(ResizeMode, 2);
    EXPECT_EQ(DefPrefix, "Seaside");

    ResizeMode = 9;
    dlg.Fill();
    EXPECT_FALSE(dlg.radBorder->isChecked() || dlg.radCrop->isChecked() || dlg.radStretch->isChecked());
    dlg.ReadBack();
    EXPECT_EQ(ResizeMode, 0);
}

TEST(ResizeDialog, CancelChangesNothing)
{
    ResizeMode = 2;
    DefPrefix = "Keep";
    WhenModal([](QWidget* w) {
        w->findChild<QRadioButton*>("radBorder")->setChecked(true);
        w->findChild<QLineEdit*>("edPrefix")->setText("Other");
        w->findChild<QPushButton*>("btnCancel")->click();
    });
    EXPECT_FALSE(ResizeModeDialog());
    EXPECT_EQ(ResizeMode, 2);
    EXPECT_EQ(DefPrefix, "Keep");
}

TEST(ResizeDialog, ExamplePicturesShowTheirMode)
{
    const QImage border = ResizeModePicture(0), crop = ResizeModePicture(1), stretch = ResizeModePicture(2);
    ASSERT_EQ(border.size(), QSize(96, 80));
    // the 4:3 screen's left columns: black bars for the upright photo with the border mode only
    const QColor black(0, 0, 0);
    EXPECT_EQ(border.pixelColor(38, 40), black);
    EXPECT_NE(crop.pixelColor(38, 40), black);
    EXPECT_NE(stretch.pixelColor(38, 40), black);
    // cropping shows the cut margins faintly above the screen
    EXPECT_NE(crop.pixelColor(65, 8), border.pixelColor(65, 8));
    EXPECT_EQ(stretch.pixelColor(65, 8), border.pixelColor(65, 8));
    EXPECT_NE(crop, stretch);
}

TEST(SystemFilesDialog, FillRestoreAndApply)
{
    TempEnv env;
    LoadSettings();
    SetLogoFileName(POS_WAIT, "/x/logow.sys");
    SetStorageDir("/x/store/");
    TfrmLoc dlg;
    dlg.Fill();
    EXPECT_EQ(dlg.edDest1->text(), "/x/logow.sys");
    EXPECT_EQ(dlg.edSrc->text(), "/x/store/");
    dlg.btnRestore95->click();
    EXPECT_EQ(dlg.edDest1->text().toStdString(), GetDefaultLogoFileName(POS_WAIT));
    dlg.btnRestoreStorage->click();
    EXPECT_EQ(dlg.edSrc->text().toStdString(), GetDefaultStorageDir());
    // Cancel stores nothing
    WhenModal([](QWidget* w) {
        w->findChild<QLineEdit*>("edDest0")->setText("/y/logo.sys");
        w->findChild<QPushButton*>("btnCancel")->click();
    });
    EXPECT_FALSE(SystemFilesDialog());
    EXPECT_EQ(GetLogoFileName(POS_WAIT), "/x/logow.sys");
    WhenModal([](QWidget* w) {
        w->findChild<QLineEdit*>("edDest0")->setText("  /y/logo.sys ");
        w->findChild<QLineEdit*>("edSrc")->setText("/y/store");
        w->findChild<QPushButton*>("btnOK")->click();
    });
    EXPECT_TRUE(SystemFilesDialog());
    EXPECT_EQ(GetLogoFileName(POS_STARTUP), "/y/logo.sys");
    EXPECT_EQ(GetStorageDir(), "/y/store/");
    EXPECT_EQ(GetLogoFileName(POS_WAIT), "/x/logow.sys");
}
