// The dialog helpers: filter rules, the multi-select order fix, enabling and greying controls,
// the questions' default buttons, text conversion and the stored custom colours.
#include <gtest/gtest.h>

#include <QApplication>
#include <QColorDialog>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

#include <filesystem>
#include <functional>

#include "platform/Prefs.h"
#include "core/ProgramDir.h"
#include "core/Settings.h"
#include "support/TempEnv.h"
#include "ui/DialogUtil.h"
#include "ui_dialog_driver.h"

using Names = std::vector<std::string>;

static Names Ordered(Names names)
{
    FileDlgOrderProperly(names);
    return names;
}

TEST(DialogUtil, FilterToExtTakesTheFirstPatternOfTheEntry)
{
    const std::string gal = "Gallery Files (*.gal)|*.gal";
    EXPECT_EQ(FilterToExt(gal, 1), ".gal");
    EXPECT_EQ(FilterToExt(gal, 2), "");
    EXPECT_EQ(FilterToExt(gal, 0), "");
    EXPECT_EQ(FilterToExt("All Files (*.*)|*.*|Gallery Files|*.gal", 1), "");
    EXPECT_EQ(FilterToExt("All Files (*.*)|*.*|Gallery Files|*.gal", 2), ".gal");
    EXPECT_EQ(FilterToExt("Bitmaps|*.bmp;*.dib|JPEG|*.jpg,*.jpeg", 1), ".bmp");
    EXPECT_EQ(FilterToExt("Bitmaps|*.bmp;*.dib|JPEG|*.jpg,*.jpeg", 2), ".jpg");
    EXPECT_EQ(FilterToExt("PNG|  *.png  ", 1), ".png");
    EXPECT_EQ(FilterToExt("Readme|readme", 1), "");
    EXPECT_EQ(FilterToExt("", 1), "");
}

TEST(DialogUtil, CompleteNameAddsTheExtensionOnlyWhenMissingOrForced)
{
    const std::string gal = "Gallery Files (*.gal)|*.gal";
    EXPECT_EQ(CompleteName("MyGallery", gal, 1, false), "MyGallery.gal");
    EXPECT_EQ(CompleteName("MyGallery.bak", gal, 1, false), "MyGallery.bak");
    EXPECT_EQ(CompleteName("MyGallery.bak", gal, 1, true), "MyGallery.gal");
    // a dot in a folder name is not an extension
    EXPECT_EQ(CompleteName("/tmp/v1.2/MyGallery", gal, 1, false), "/tmp/v1.2/MyGallery.gal");
}

TEST(DialogUtil, AcceptedFileMovesFolderAndIndex)
{
    std::string folder = "/old/";
    int index = 1;
    const std::string filter = "Bitmaps|*.bmp|Gallery Files (*.gal)|*.gal";
    EXPECT_EQ(FileDlgAccept("/data/pics/MyGallery", filter, 2, folder, index), "/data/pics/MyGallery.gal");
    EXPECT_EQ(folder, "/data/pics/");
    EXPECT_EQ(index, 2);
}

TEST(DialogUtil, DialogsStartAtHomeRatherThanTheRoot)
{
    TempEnv env;
    const std::string home = QDir::homePath().toStdString() + "/";
    EXPECT_EQ(FileDlgStartFolder("/"), home);  // the default "\" as read on this system
    EXPECT_EQ(FileDlgStartFolder((env.root / "gone").string() + "/"), home);
    EXPECT_EQ(FileDlgStartFolder(env.win), env.win);
    EXPECT_EQ(FileDlgStartFolder("  "), GetProgramDir());
}

TEST(DialogUtil, NameFiltersCarryEveryPattern)
{
    const auto f = FilterToNameFilters("Gallery Files (*.gal)|*.gal|Images|*.bmp;*.dib");
    ASSERT_EQ(f.size(), 2u);
    EXPECT_EQ(f[1], "Images (*.bmp *.dib)");
    EXPECT_NE(f[0].find("(*.gal)"), std::string::npos);
}

TEST(DialogUtil, OrderFixPutsRotatedEndsBack)
{
    EXPECT_EQ(Ordered({"d", "b", "c", "a"}), (Names{"a", "b", "c", "d"}));
    EXPECT_EQ(Ordered({"b", "a"}), (Names{"a", "b"}));
    EXPECT_EQ(Ordered({"c", "a", "b"}), (Names{"b", "a", "c"}));
    EXPECT_EQ(Ordered({"x"}), (Names{"x"}));
    EXPECT_EQ(Ordered({}), (Names{}));
    // letter case is ignored
    EXPECT_EQ(Ordered({"D.png", "b.png", "C.png", "a.png"}), (Names{"a.png", "b.png", "C.png", "D.png"}));
    // a descending run
    EXPECT_EQ(Ordered({"a", "c", "b", "d"}), (Names{"d", "c", "b", "a"}));
}

TEST(DialogUtil, OrderFixLeavesListsItCannotMend)
{
    // exchanging would not give an ordered list
    EXPECT_EQ(Ordered({"b", "a", "c", "e"}), (Names{"b", "a", "c", "e"}));
    // the middle is not in order
    EXPECT_EQ(Ordered({"e", "b", "d", "c", "a"}), (Names{"e", "b", "d", "c", "a"}));
    // already ordered
    EXPECT_EQ(Ordered({"a", "b", "c", "d", "e"}), (Names{"a", "b", "c", "d", "e"}));
}

TEST(DialogUtil, DisabledBoxesAreGreyAndKeepTheirText)
{
    QPlainTextEdit memo;
    memo.setPlainText("hello");
    TMemo_Enable(&memo, false);
    EXPECT_FALSE(memo.isEnabled());
    EXPECT_TRUE(ControlIsGreyed(&memo));
    EXPECT_EQ(memo.toPlainText(), "hello");
    TMemo_Enable(&memo, true);
    EXPECT_TRUE(memo.isEnabled());
    EXPECT_FALSE(ControlIsGreyed(&memo));
}

TEST(DialogUtil, ContainerEnableReachesNestedControls)
{
    QGroupBox box;
    auto* combo = new QComboBox;
    auto* inner = new QWidget;
    auto* edit = new QLineEdit(inner);
    auto* label = new QLabel("x");
    auto* layout = new QVBoxLayout(&box);
    layout->addWidget(combo);
    layout->addWidget(inner);
    layout->addWidget(label);

    TWinControl_Enable(&box, false);
    EXPECT_FALSE(box.isEnabled());
    EXPECT_FALSE(combo->isEnabled());
    EXPECT_FALSE(edit->isEnabled());
    EXPECT_FALSE(label->isEnabled());
    EXPECT_TRUE(ControlIsGreyed(combo));
    EXPECT_TRUE(ControlIsGreyed(edit));

    TWinControl_Enable(&box, true);
    EXPECT_TRUE(combo->isEnabled());
    EXPECT_TRUE(edit->isEnabled());
    EXPECT_TRUE(label->isEnabled());
    EXPECT_FALSE(ControlIsGreyed(combo));
    EXPECT_FALSE(ControlIsGreyed(edit));
}

TEST(DialogUtil, WindowsTextSurvivesTheBoxes)
{
    std::string all;
    for (int c = 1; c < 256; c++) all += static_cast<char>(c);
    EXPECT_EQ(QToWin(WinToQ(all)), all);
    EXPECT_EQ(WinToQ("\x80"), QString(QChar(0x20AC)));  // the euro sign of the ANSI set

    QPlainTextEdit memo;
    const std::string text = "first line\r\nsecond \xE9\r\n--\r\nthird";
    MemoSetText(&memo, text);
    EXPECT_EQ(memo.document()->blockCount(), 4);
    EXPECT_EQ(MemoGetText(&memo), text);
}

TEST(DialogUtil, WindowsColoursKeepRedInTheLowByte)
{
    EXPECT_EQ(WinColorToQColor(0x0000FF), QColor(255, 0, 0));
    EXPECT_EQ(WinColorToQColor(0xFF0000), QColor(0, 0, 255));
    EXPECT_EQ(QColorToWinColor(QColor(0x12, 0x34, 0x56)), 0x563412);
}

TEST(DialogUtil, YesNoDefaultButtonAnswersEnter)
{
    PressKeyInModal(Qt::Key_Return);
    EXPECT_EQ(YesNo("Delete?", 2), "N");
    PressKeyInModal(Qt::Key_Return);
    EXPECT_EQ(YesNo("Delete?", 1), "Y");
    PressKeyInModal(Qt::Key_Return);
    EXPECT_EQ(YesNo("Delete?", 7), "N");
    PressKeyInModal(Qt::Key_Escape);
    EXPECT_EQ(YesNo("Delete?", 1), "N");
}

TEST(DialogUtil, YesNoCancelDefaultsAndEscape)
{
    PressKeyInModal(Qt::Key_Return);
    EXPECT_EQ(YesNoCancel("Save?", 1), "Y");
    PressKeyInModal(Qt::Key_Return);
    EXPECT_EQ(YesNoCancel("Save?", 2), "N");
    PressKeyInModal(Qt::Key_Return);
    EXPECT_EQ(YesNoCancel("Save?", 3), "C");
    PressKeyInModal(Qt::Key_Escape);
    EXPECT_EQ(YesNoCancel("Save?", 1), "C");
    WhenModal([](QWidget* w) { w->close(); });
    EXPECT_EQ(YesNoCancel("Save?", 1), "C");
}

TEST(DialogUtil, BoxesAreCaptionedWithTheAppTitle)
{
    QString caption;
    WhenModal([&](QWidget* w) {
        caption = w->windowTitle();
        QTest::keyClick(w, Qt::Key_Return);
    });
    InfoBox("Done.");
    EXPECT_EQ(caption, "KelvaneStudio");
    EXPECT_EQ(GetAppTitle(), "KelvaneStudio");
}

TEST(DialogUtil, SaveDialogCompletesTheTypedName)
{
    TempEnv env;
    std::string folder = env.prog;
    int index = 1;
    WhenModal([](QWidget* w) {
        auto* dlg = qobject_cast<QFileDialog*>(w);
        ASSERT_NE(dlg, nullptr);
        dlg->selectFile("MyGallery");
        static_cast<QDialog*>(dlg)->accept();
    });
    const std::string name = FileSaveDlg("Save Gallery", folder, "", index, "Gallery Files (*.gal)|*.gal");
    EXPECT_EQ(std::filesystem::path(name), std::filesystem::path(env.prog) / "MyGallery.gal");
    EXPECT_EQ(index, 1);

    WhenModal([](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
    std::string kept = "/nowhere/";
    EXPECT_EQ(FileSaveDlg("Save Gallery", kept, "x", index, "Gallery Files (*.gal)|*.gal"), "");
    EXPECT_EQ(kept, "/nowhere/");
}

TEST(DialogUtil, OpenDialogsReportFolderAndIndex)
{
    TempEnv env;
    LoadSettings();  // the program folder is looked up again
    std::filesystem::create_directories(env.prog + "pics");
    TempEnv::Write(env.prog + "pics/b.gal", "x");
    const std::string filter = "Bitmaps|*.bmp|Gallery Files (*.gal)|*.gal";
    std::string folder = "   ";  // blank: starts in the program folder
    int index = 2;
    QString startDir;
    WhenModal([&](QWidget* w) {
        auto* dlg = qobject_cast<QFileDialog*>(w);
        ASSERT_NE(dlg, nullptr);
        startDir = dlg->directory().absolutePath();
        dlg->selectFile(QString::fromStdString(env.prog + "pics/b.gal"));
        static_cast<QDialog*>(dlg)->accept();
    });
    const std::string name = FileOpenDlg("Open Gallery", folder, filter, index);
    EXPECT_EQ(std::filesystem::path(name), std::filesystem::path(env.prog) / "pics" / "b.gal");
    EXPECT_EQ(std::filesystem::path(folder), std::filesystem::path(env.prog) / "pics/");
    EXPECT_EQ(index, 2);
    EXPECT_EQ(std::filesystem::path(startDir.toStdString()), std::filesystem::path(env.prog).parent_path());

    WhenModal([](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
    const std::string before = folder;
    EXPECT_TRUE(MultiFileOpenDlg("Add New Image", folder, filter, index).empty());
    EXPECT_EQ(folder, before);
    EXPECT_EQ(index, 2);
}

TEST(DialogUtil, CustomColoursFromTheSettingsFile)
{
    TempEnv env;
    const std::string ini = env.prog + "Kvs.ini";
    TempEnv::Write(ini, "[Main]\r\nColorA=ff\r\nColorC=zz\r\nColorD=1A2B3C\r\nOther=1\r\n");
    const auto colors = ColorPickLoadCustom(ini, "Main");
    EXPECT_EQ(colors[0], "0000FF");
    EXPECT_EQ(colors[1], "FFFFFF");
    EXPECT_EQ(colors[2], "FFFFFF");
    EXPECT_EQ(colors[3], "1A2B3C");

    // Cancel: the dialog was preset from the file, the old colour comes back, nothing is written
    const std::string before = TempEnv::Read(ini);
    WhenModal([](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
    EXPECT_EQ(ColorPickDlg(0x123456, ini, "Main"), 0x123456);
    EXPECT_EQ(QColorDialog::customColor(2), QColor(255, 255, 255));
    EXPECT_EQ(QColorDialog::customColor(0), QColor(255, 0, 0));
    EXPECT_EQ(TempEnv::Read(ini), before);
}

TEST(DialogUtil, ColourDialogOkStoresAllSixteen)
{
    TempEnv env;
    const std::string ini = env.prog + "Kvs.ini";
    TempEnv::Write(ini, "[Main]\r\nOther=1\r\n");
    WhenModal([](QWidget* w) {
        auto* dlg = qobject_cast<QColorDialog*>(w);
        ASSERT_NE(dlg, nullptr);
        QColorDialog::setCustomColor(5, QColor(0x11, 0x22, 0x33));
        dlg->setCurrentColor(QColor(0, 128, 255));
        dlg->accept();
    });
    EXPECT_EQ(ColorPickDlg(0, ini, "Main"), 0xFF8000);
    PrefsPrepare(ini, "Main");
    EXPECT_EQ(PrefsReadStr("ColorF", ""), "332211");
    EXPECT_EQ(PrefsReadStr("ColorP", ""), "FFFFFF");
    EXPECT_EQ(PrefsReadStr("Other", ""), "1");
}
