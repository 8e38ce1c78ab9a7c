// The main window on the offscreen platform: rows, keys, status line, busy state, the store
// commands and shut-down, run through the real start-up sequence on a temporary drive.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <sstream>

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QTest>
#include <QToolButton>

#include "app/StartUp.h"
#include "base/Basic.h"
#include "base/Mon.h"
#include "core/AddImages.h"
#include "core/ImageStore.h"
#include "core/LogoBuilder.h"
#include "core/Settings.h"
#include "core/StoreCommands.h"
#include "formats/FFDispatch.h"
#include "image/ImgBasic.h"
#include "support/RunProgram.h"
#include "support/ScriptedUi.h"
#include "support/TempEnv.h"
#include "ui/QtUi.h"
#include "ui/TDisplayControl.h"
#include "ui/TfrmLogoPos.h"
#include "ui/TfrmMain.h"
#include "ui/TfrmOptions.h"
#include "ui/TfrmSetLogo.h"
#include "ui_dialog_driver.h"

#include <QApplication>
#include <QCheckBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

namespace fs = std::filesystem;

namespace {

// A stored image as adding leaves it: 320 x 400, 8 bits, colour c on entry 1.
void WriteStored(const std::string& path, uint8_t shade)
{
    Image img;
    ImgAlloc(img, 320, 400, 8);
    std::memset(img.Data, 1, img.Size);
    img.Pal[1][0] = shade, img.Pal[1][1] = 100, img.Pal[1][2] = 50;
    ASSERT_TRUE(SaveStoredImage(path, img));
    ImgFree(img);
}

void WriteBmp(const std::string& path, uint8_t shade)
{
    Image img;
    ImgAlloc(img, 16, 12, 24);
    for (int i = 0; i < img.Size; i++) img.Data[i] = static_cast<uint8_t>(shade + i % 7);
    ImgSave(path, img, FMT_BMP);
    ImgFree(img);
}

// Answers the next modal dialog of type D with answer(dialog) as soon as it shows; a dialog of
// another type is rejected so a test can never hang on it.
template <class D> void AnswerNextDialog(std::function<void(D*)> answer)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    auto ticks = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, answer, ticks] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal && ++*ticks < 300) return;
        timer->stop();
        timer->deleteLater();
        if (!modal) return;  // no dialog came: leave later tests alone
        if (auto* d = qobject_cast<D*>(modal)) answer(d);
        else if (auto* other = qobject_cast<QDialog*>(modal)) other->reject();
    });
    timer->start();
}

class MainWindowTest : public ::testing::Test {
protected:
    TempEnv env;
    ScriptedUi ui;
    std::unique_ptr<TfrmMain> w;
    std::string storage;

    void SetUp() override
    {
        Starting = false;
        OverwriteChoice = OC_NONE;
        StoreFree();
        SetStorageDir(GetDefaultStorageDir());
        storage = GetStorageDir();
        fs::create_directories(storage);
    }
    void TearDown() override
    {
        if (w) {
            if (w->IsBusy()) w->SetBusy(false);
            w->close();
            w.reset();
        }
        StoreFree();
        Starting = false;
    }
    // Opens the window and runs the start-up sequence on what the storage folder holds.
    void Open()
    {
        w = std::make_unique<TfrmMain>(false);
        w->show();
        ASSERT_FALSE(w->RunStartUp());
    }
    void Highlight(std::initializer_list<int> rows, int current)
    {
        w->lstFiles->clearSelection();
        for (int r : rows) w->lstFiles->item(r)->setSelected(true);
        w->lstFiles->selectionModel()->setCurrentIndex(w->lstFiles->model()->index(current, 0),
                                                       QItemSelectionModel::NoUpdate);
    }
    std::vector<std::string> Files()
    {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(storage))
            if (e.path().extension() == ".png") names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(MainWindowTest, RowsShowTheNameAndThePositionColumns)
{
    WriteStored(storage + "Alpha--One.png", 10);
    WriteStored(storage + "Beta--Two.png", 20);
    Open();
    Images->Items[0]->Positions = 7;
    Images->Items[1]->Positions = 2;
    ASSERT_EQ(w->lstFiles->count(), 2);

    w->RowWidth = -1;
    auto cells = w->RowCells(0, QRect(0, 0, 327, 17));
    ASSERT_EQ(cells.size(), 4u);
    EXPECT_EQ(cells[0].text, "Alpha--One");
    EXPECT_EQ(cells[1].text, "start");
    EXPECT_EQ(cells[2].text, "wait");
    EXPECT_EQ(cells[3].text, "off");
    // W = 327: name up to 218, then columns of 36 pixels one pixel apart, the last to W.
    EXPECT_EQ(cells[1].rect, QRect(219, 0, 36, 17));
    EXPECT_EQ(cells[2].rect, QRect(256, 0, 36, 17));
    EXPECT_EQ(cells[3].rect, QRect(293, 0, 34, 17));

    cells = w->RowCells(1, QRect(0, 17, 400, 17));  // wider row: the narrowest width stays
    EXPECT_EQ(cells[1].text, "-");
    EXPECT_EQ(cells[2].text, "wait");
    EXPECT_EQ(cells[3].text, "-");
    EXPECT_EQ(cells[3].rect.right() + 1, 327);
    w->RowCells(1, QRect(0, 17, 300, 17));  // a scroll bar appeared
    EXPECT_EQ(w->RowWidth, 300);
    EXPECT_TRUE(w->RowCells(2, QRect(0, 34, 300, 17)).empty());
    Starting = true;
    EXPECT_TRUE(w->RowCells(0, QRect(0, 0, 300, 17)).empty());
    Starting = false;

    // The drawn row ends in the separator line, one step darker than the window.
    Highlight({}, 0);
    w->lstFiles->clearSelection();
    const QImage shot = w->lstFiles->viewport()->grab().toImage();
    const int h = w->lstFilesMeasureItem();
    EXPECT_EQ(QColor(shot.pixel(5, h - 1)), TfrmMain::SeparatorColor(w->palette().color(QPalette::Window)));
    EXPECT_EQ(TfrmMain::SeparatorColor(QColor(20, 100, 255)), QColor(0, 68, 223));
}

TEST_F(MainWindowTest, LongNamesEndInAnEllipsisInsideTheirColumn)
{
    const std::string name = "Holiday--" + std::string(80, 'W');
    WriteStored(storage + name + ".png", 10);
    Open();
    Images->Items[0]->Positions = 7;
    w->RowWidth = -1;
    const QRect row(0, 0, 327, w->lstFilesMeasureItem());
    const auto cells = w->RowCells(0, row);
    ASSERT_EQ(cells.size(), 4u);
    EXPECT_TRUE(cells[0].text.startsWith("Holiday--W"));
    EXPECT_TRUE(cells[0].text.endsWith(QChar(0x2026)));
    EXPECT_LE(w->lstFiles->fontMetrics().horizontalAdvance(cells[0].text), cells[0].rect.width() - 2);
    EXPECT_EQ(w->lstFiles->item(0)->toolTip().toStdString(), name + ".png");

    // Drawn: the one-pixel gaps between the columns show the row's background only, and the
    // current row carries a dotted frame.
    auto draw = [&](bool focused) {
        QImage shot(row.size(), QImage::Format_RGB32);
        QPainter p(&shot);
        w->lstFilesDrawItem(p, 0, row, false, focused);
        return shot;
    };
    const QImage plain = draw(false), current = draw(true);
    const QRgb base = w->lstFiles->palette().base().color().rgb();
    for (int k = 0; k < 3; k++)
        for (int y = 1; y < row.height() - 2; y++)
            EXPECT_EQ(plain.pixel(cells[k].rect.right() + 1, y), base) << "gap " << k << " row " << y;
    int marked = 0;
    for (int y = 0; y < row.height() - 1; y++) marked += current.pixel(0, y) != plain.pixel(0, y);
    EXPECT_GT(marked, 2);
}

TEST_F(MainWindowTest, PreviewAsLogoShowsTheBuiltLogoAndWritesNothing)
{
    WriteStored(storage + "Pic.png", 90);
    Open();
    Images->Items[0]->Positions = POS_STARTUP | POS_WAIT;
    AnimEnabled = true;
    Msg0Enabled = true;
    SetMessageText(POS_STARTUP, "First\r\n--\r\nSecond");
    Msg0Index = 1;
    w->SelectRow(0);
    w->mnuPreviewLogo->trigger();
    EXPECT_EQ(ui.Count("error"), 0);
    ASSERT_TRUE(w->preview.display->isVisible());
    EXPECT_EQ(w->preview.display->image.Bpp, 8);
    EXPECT_TRUE(w->Animating());  // the Startup logo's band
    EXPECT_EQ(w->AnimStart(), LOGO_BAND_START);
    EXPECT_EQ(Msg0Index, 1) << "a preview must not use up a message";
    EXPECT_FALSE(fs::exists(GetLogoFileName(POS_STARTUP)));
    EXPECT_FALSE(fs::exists(GetLogoFileName(POS_WAIT)));

    // Another band shape chosen in Options shows at once.
    const Image& shown = w->preview.display->image;
    const std::string before(reinterpret_cast<const char*>(shown.Data), static_cast<size_t>(shown.Width) * shown.Height);
    const int shape = AnimShape;
    WhenModal([](QWidget* d) {
        auto* box = d->findChild<QComboBox*>("lstAnimShape");
        box->setCurrentIndex((box->currentIndex() + 1) % box->count());
        d->findChild<QPushButton*>("btnOK")->click();
    });
    w->mnuOptions->trigger();
    ASSERT_NE(AnimShape, shape);
    const Image& after = w->preview.display->image;
    EXPECT_NE(std::string(reinterpret_cast<const char*>(after.Data), static_cast<size_t>(after.Width) * after.Height),
              before);
    EXPECT_TRUE(w->Animating());

    w->lstFiles->clearSelection();
    w->lstFiles->setCurrentRow(-1);
    w->mnuPreviewLogo->trigger();
    EXPECT_EQ(ui.Last("error"), "No image selected.");
}

TEST_F(MainWindowTest, FunctionKeysFlipABitOnEveryHighlightedRow)
{
    for (const char* n : {"A.png", "B.png", "C.png"}) WriteStored(storage + n, 30);
    Open();
    auto reset = [&] {
        Images->Items[0]->Positions = 1;
        Images->Items[1]->Positions = 2;
        Images->Items[2]->Positions = 1;
        Highlight({0, 1}, 1);
    };
    reset();
    QTest::keyClick(w->lstFiles, Qt::Key_F8);
    EXPECT_EQ(Images->Items[0]->Positions, 7);
    EXPECT_EQ(Images->Items[1]->Positions, 7);
    EXPECT_EQ(Images->Items[2]->Positions, 1);  // not highlighted
    EXPECT_TRUE(w->IsHighlighted(0));            // the highlight survives the refresh
    reset();
    QTest::keyClick(w->lstFiles, Qt::Key_F6);
    EXPECT_EQ(Images->Items[0]->Positions, 2);
    EXPECT_EQ(Images->Items[1]->Positions, 2);
    QTest::keyClick(w.get(), Qt::Key_F7, Qt::ShiftModifier);  // any modifier, any widget of the window
    EXPECT_EQ(Images->Items[0]->Positions, 0);
    EXPECT_EQ(w->RowCells(0, QRect(0, 0, 300, 17))[2].text, "-");

    QTest::keyClick(w->lstFiles, Qt::Key_Escape);
    EXPECT_EQ(OverwriteChoice, OC_ABORT);

    w->Updating = true;  // ignored while the list is being rebuilt
    QTest::keyClick(w->lstFiles, Qt::Key_F8);
    EXPECT_EQ(Images->Items[0]->Positions, 0);
    w->Updating = false;
}

TEST_F(MainWindowTest, StatusLineCountsImagesAndSize)
{
    std::ofstream(storage + "Only.png", std::ios::binary) << std::string(100000, 'x');
    w = std::make_unique<TfrmMain>(true);  // the first show runs the start-up sequence
    w->show();
    EXPECT_FALSE(Starting);
    EXPECT_EQ(w->windowTitle(), "KelvaneStudio 2.5.0");
    EXPECT_EQ(w->panStatus->text(), " 1 image (total size: 0.1 MB)");
    EXPECT_FALSE(w->panStatus->font().bold());
    EXPECT_EQ(w->CurrentRow(), 0);
    EXPECT_FALSE(w->preview.display->isVisible());  // not a picture: the preview stays empty
    EXPECT_EQ(w->btnAdd->toolTip(), "Add new images to the list");

    std::ofstream(storage + "Second.png", std::ios::binary) << std::string(1263149, 'y');
    w->ReloadStore();
    EXPECT_EQ(w->panStatus->text(), " 2 images (total size: 1.3 MB)");
    w->ShowStatus("Working...", true);
    EXPECT_EQ(w->panStatus->text(), " Working...");
    EXPECT_TRUE(w->panStatus->font().bold());

    // A few small pictures are not "0.0 MB".
    fs::remove(storage + "Second.png");
    std::ofstream(storage + "Only.png", std::ios::binary | std::ios::trunc) << std::string(20000, 'x');
    w->ReloadStore();
    EXPECT_EQ(w->panStatus->text(), " 1 image (total size: under 0.1 MB)");
}

TEST_F(MainWindowTest, PreviewShowsTheCurrentImageFittedToThePanel)
{
    WriteStored(storage + "Pic.png", 90);
    Open();
    ASSERT_TRUE(w->preview.display->isVisible());
    const int bw = w->Panel2->contentsRect().width() - 4, bh = w->Panel2->contentsRect().height() - 4;
    const QRect g = w->preview.display->geometry();
    EXPECT_TRUE(g.width() == bw || g.height() == bh);  // fills the box one way
    EXPECT_NEAR(double(g.width()) / g.height(), 533.0 / 400.0, 0.02);
    EXPECT_NEAR(g.center().x(), w->Panel2->width() / 2, 2);
    // The resize rule follows the window.
    w->resize(900, 600);
    QCoreApplication::processEvents();
    EXPECT_EQ(w->Panel2->geometry().left(), w->lstFiles->width() + 2);
    EXPECT_EQ(w->Panel2->width(), w->client->width() - w->lstFiles->width() - 3);
    EXPECT_EQ(w->Panel2->height(), w->lstFiles->height());
    EXPECT_EQ(w->preview.display->width(), 533);  // room enough now: not shrunk

    w->SelectImageByName("nothing.png");  // unknown: row 0
    EXPECT_EQ(w->CurrentRow(), 0);
}

TEST_F(MainWindowTest, EmptyStoreSelectsNothing)
{
    Open();
    w->SelectImageByName("Any.png");
    EXPECT_EQ(w->CurrentRow(), Undef);
    EXPECT_EQ(w->CurrentName(), "");
    EXPECT_FALSE(w->preview.display->isVisible());
    EXPECT_EQ(w->panStatus->text(), " 0 images (total size: 0.0 MB)");
    w->btnDelClick();
    w->Rename1Click();
    EXPECT_EQ(ui.Count("yesno"), 0);
    EXPECT_TRUE(ui.Has("warning", "No image selected for renaming."));
    w->btnSetClick();
    EXPECT_TRUE(ui.Has("error", "No image selected."));
}

TEST_F(MainWindowTest, DeletingRowsFourAndFiveKeepsRowFourCurrent)
{
    for (int i = 0; i < 7; i++) WriteStored(storage + "Img" + std::to_string(i) + ".png", uint8_t(i * 30));
    Open();
    Highlight({4, 5}, 5);
    ui.answers.push_back("Y");
    w->btnDelClick();
    ASSERT_EQ(ui.Count("yesno"), 1);
    EXPECT_EQ(ui.log[0].text, "Delete 2 selected logos?");
    EXPECT_EQ(ui.log[0].defaultButton, 2);
    EXPECT_EQ(Files(), (std::vector<std::string>{"Img0.png", "Img1.png", "Img2.png", "Img3.png", "Img6.png"}));
    EXPECT_EQ(w->lstFiles->count(), 5);
    EXPECT_EQ(w->CurrentRow(), 4);
    EXPECT_EQ(w->CurrentName(), "Img6.png");

    Highlight({0}, 0);
    w->btnDelClick();  // no answer queued: the default No keeps the file
    EXPECT_EQ(ui.log.back().text, "Delete Img0.png?");
    EXPECT_EQ(Files().size(), 5u);
}

TEST_F(MainWindowTest, RenameToACaseChangeDoesNothing)
{
    WriteStored(storage + "Sunset--Sea.png", 40);
    WriteStored(storage + "Other.png", 50);
    Open();
    w->SelectImageByName("Sunset--Sea.png");
    ui.prompts.push_back(std::string("SUNSET--sea"));
    w->Rename1Click();
    EXPECT_EQ(ui.Last("prompt"), "Rename|Enter new name|Sunset--Sea");
    EXPECT_EQ(Files(), (std::vector<std::string>{"Other.png", "Sunset--Sea.png"}));
    EXPECT_EQ(ui.Count("error"), 0);

    ui.prompts.push_back(std::string("other"));
    w->Rename1Click();
    EXPECT_TRUE(ui.Has("error", "There already exists an image with that name, please select another one."));

    ui.prompts.push_back(std::string("Dawn"));
    w->Rename1Click();
    EXPECT_EQ(Files(), (std::vector<std::string>{"Dawn.png", "Other.png"}));
    EXPECT_EQ(w->CurrentName(), "Dawn.png");
    EXPECT_EQ(w->lstFiles->item(0)->text(), "Dawn.png");
}

TEST_F(MainWindowTest, FailedRenamesSayWhyInOneBox)
{
    WriteStored(storage + "Dawn.png", 40);
    WriteStored(storage + "New--Dawn.png", 50);
    Open();
    w->SelectImageByName("Dawn.png");
    ui.prompts.push_back(std::string(" -- "));
    w->Rename1Click();
    EXPECT_EQ(ui.Last("error"), RENAME_EMPTY);
    EXPECT_EQ(Files(), (std::vector<std::string>{"Dawn.png", "New--Dawn.png"}));

    const size_t boxes = ui.log.size();
    ui.prompts.push_back(std::string("New"));
    w->ChangePrefix1Click();
    ASSERT_EQ(ui.log.size(), boxes + 2) << ui.log.back().text;  // the prompt, then one box
    EXPECT_EQ(ui.Last("error"), "Images renamed: 0\r\nImages that couldn't be renamed: 1\r\n"
                                "Dawn.png: an image named New--Dawn.png exists already");
    EXPECT_EQ(ui.Count("info"), 0);
}

TEST_F(MainWindowTest, BusyStateDisablesEveryCommandAndBlocksClosing)
{
    Open();
    w->SetBusy(true);
    for (QToolButton* b : w->panTools->findChildren<QToolButton*>()) EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
    int actions = 0;
    for (QAction* title : w->menuBar()->actions()) {
        EXPECT_FALSE(title->isEnabled());
        for (QAction* a : title->menu()->actions()) {
            EXPECT_FALSE(a->isEnabled());
            actions++;
        }
    }
    EXPECT_GE(actions, 24);
    EXPECT_FALSE(w->close());  // a batch is running
    EXPECT_FALSE(Starting);
    w->SetBusy(false);
    EXPECT_TRUE(w->btnExit->isEnabled());
    EXPECT_TRUE(w->RefreshList1->isEnabled());
}

TEST_F(MainWindowTest, SetAsLogoBuildsTheTickedPositions)
{
    TempEnv::Write(env.prog + "msg-startup.txt", "Hello\r\n--\r\nSecond");
    WriteStored(storage + "Sea.png", 120);
    Open();
    std::string offered;
    AnswerNextDialog<TfrmSetLogo>([&](TfrmSetLogo* d) {
        offered = d->memo0->toPlainText().toStdString();
        EXPECT_FALSE(d->chk0->isChecked());
        d->chk0->setChecked(true);
        d->chk2->setChecked(true);
        d->BitBtn1->click();
    });
    w->btnSetClick();
    EXPECT_TRUE(offered == "Hello" || offered == "Second") << offered;
    EXPECT_EQ(fs::file_size(GetLogoFileName(POS_STARTUP)), static_cast<uintmax_t>(LOGO_FILE_SIZE));
    EXPECT_TRUE(fs::exists(GetLogoFileName(POS_TURNOFF)));
    EXPECT_FALSE(fs::exists(GetLogoFileName(POS_WAIT)));
    EXPECT_FALSE(w->IsBusy());
    EXPECT_EQ(ui.Count("error"), 0);
}

TEST_F(MainWindowTest, ChoosePositionStartsFromTheHighlightedMasks)
{
    for (const char* n : {"A.png", "B.png", "C.png"}) WriteStored(storage + n, 30);
    Open();
    Images->Items[0]->Positions = 1;
    Images->Items[1]->Positions = 2;
    Images->Items[2]->Positions = 7;
    Highlight({0, 1}, 0);
    bool confirmed = false;
    AnswerNextDialog<TfrmLogoPos>([&](TfrmLogoPos* d) {
        EXPECT_TRUE(d->chk0->isChecked());
        EXPECT_TRUE(d->chk1->isChecked());
        EXPECT_FALSE(d->chk2->isChecked());
        d->chk0->setChecked(false);
        d->chk1->setChecked(false);
        d->chk2->setChecked(true);
        d->BitBtn1->click();
        confirmed = true;
    });
    w->mnuPropsClick();
    ASSERT_TRUE(confirmed);
    EXPECT_EQ(Images->Items[0]->Positions, 4);
    EXPECT_EQ(Images->Items[1]->Positions, 4);
    EXPECT_EQ(Images->Items[2]->Positions, 7);
}

// Counts the index writes of the shut-down sequence.
int IndexWrites_ = 0;
void CountingWriteIndex_()
{
    IndexWrites_++;
    StoreWriteIndex();
}

TEST_F(MainWindowTest, ShutDownRunsOnceWhateverCloses)
{
    WriteStored(storage + "Keep.png", 60);
    Open();
    AppActions saved = Actions();
    Actions().writeImageIndex = CountingWriteIndex_;
    IndexWrites_ = 0;
    w->btnExitClick();
    w->close();
    w->btnExitClick();
    Actions() = saved;
    EXPECT_EQ(IndexWrites_, 1);
    EXPECT_TRUE(Starting);
    EXPECT_TRUE(fs::exists(storage + "headers.dat"));
    EXPECT_TRUE(fs::exists(env.prog + "Kvs.ini"));
    EXPECT_EQ(w->preview.display, nullptr);
}

TEST_F(MainWindowTest, MenuBarHasEveryItemAndShortcut)
{
    Open();
    struct Want {
        const char* name;
        const char* caption;
        QKeySequence key;
    };
    const Want wants[] = {
        {"Add1", "Add...", QKeySequence(Qt::Key_A)},
        {"Delete1", "Delete...", QKeySequence(Qt::Key_Delete)},
        {"Rename1", "Rename...", QKeySequence(Qt::Key_R)},
        {"mnuProps", "Choose Position...", QKeySequence(Qt::Key_P)},
        {"ChangePrefix1", "Change Prefix...", QKeySequence()},
        {"Set1", "Set as Logo...", QKeySequence(Qt::Key_Return)},
        {"Shuffle1", "Shuffle", QKeySequence()},
        {"Exit1", "Exit", QKeySequence(QKeySequence::Quit)},
        {"mnuGalAdd", "&Open...", QKeySequence(QKeySequence::Open)},
        {"mnuGalCreate", "&Create...", QKeySequence()},
        {"mnuViewStartup", "Current \"Startup\" Logo", QKeySequence()},
        {"mnuViewWait", "Current \"Wait\" Logo", QKeySequence()},
        {"mnuViewTurnOff", "Current \"Turn Off\" Logo", QKeySequence()},
        {"mnuPreviewLogo", "Preview as Logo", QKeySequence()},
        {"RefreshList1", "Refresh List", QKeySequence(Qt::Key_F5)},
        {"mnuChooseDrive", "Choose Drive...", QKeySequence(Qt::CTRL | Qt::Key_D)},
        {"mnuOptions", "Options/Messages...", QKeySequence()},
        {"mnuSpecialFolders", "System Files...", QKeySequence()},
        {"mnuRestoreOriginal", "Restore Original Logos...", QKeySequence()},
        {"mnuManual", "Short Manual", QKeySequence(Qt::Key_F1)},
        {"mnuFAQ", "Frequently Asked Questions", QKeySequence()},
        {"mnuDebugInfo", "Debug Info...", QKeySequence()},
        {"btnAbout", "About...", QKeySequence()},
    };
    for (const Want& want : wants) {
        auto* a = w->findChild<QAction*>(want.name);
        ASSERT_NE(a, nullptr) << want.name;
        EXPECT_EQ(a->text().toStdString(), want.caption);
        EXPECT_EQ(a->shortcut(), want.key) << want.name;
    }
    QStringList titles;
    for (QAction* t : w->menuBar()->actions()) titles << t->text();
    EXPECT_EQ(titles, (QStringList{"&Image", "&Gallery", "&View", "&Drive", "&Tools", "&Help"}));

    // F5 reaches the refresh: a picture put into the folder behind the program's back appears.
    WriteStored(storage + "Late.png", 70);
    w->activateWindow();
    w->RefreshList1->trigger();
    EXPECT_EQ(w->lstFiles->count(), 1);

    // The desktop's Open key opens a gallery.
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    ui.openFiles = {""};
    QTest::keyClick(w->lstFiles, Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(ui.Last("open"), "Open a Gallery");
}

// The free memory changes between two reads of the report: its figure is blanked out.
std::string MaskFreeMemory_(std::string text)
{
    const std::string key = "Physical memory free: ";
    const size_t at = text.find(key);
    if (at == std::string::npos) return text;
    const size_t from = at + key.size(), to = text.find("\r\n", from);
    return text.replace(from, to == std::string::npos ? std::string::npos : to - from, "#");
}

TEST_F(MainWindowTest, DebugReportGoesToTheClipboard)
{
    Open();
    w->mnuDebugInfoClick();
    const std::string text = MaskFreeMemory_(DebugInfoText());
    ASSERT_NE(text.find("Physical memory free: #\r\n"), std::string::npos);
    EXPECT_EQ(MaskFreeMemory_(QGuiApplication::clipboard()->text().toStdString()), text);
    ASSERT_EQ(ui.Count("info"), 1);
    EXPECT_EQ(MaskFreeMemory_(ui.Last("info")), text + "\r\n" + DEBUG_COPIED);
}

TEST_F(MainWindowTest, StartupLogoBandCyclesWhenAnimated)
{
    WriteStored(storage + "Pic.png", 90);
    Open();
    Image logo;
    ImgAlloc(logo, 320, 400, 8);
    for (int i = 0; i < logo.Size; i++) logo.Data[i] = static_cast<uint8_t>(230 + i % 26);
    for (int i = 0; i < 256; i++) logo.Pal[i][1] = static_cast<uint8_t>(i);
    ASSERT_TRUE(WriteLogoFile(GetLogoFileName(POS_STARTUP), logo, 236));
    ImgFree(logo);

    AnimDelay = 0;
    w->mnuViewStartupClick();  // cycles by default, at the start-up screen's pace
    ASSERT_TRUE(w->Animating());
    EXPECT_EQ(w->AnimStart(), 236);
    EXPECT_EQ(w->findChild<QTimer*>("animTimer")->interval(), 55);
    TDisplayControl* d = w->preview.display;
    ASSERT_EQ(d->image.Bpp, 8);
    const uint8_t g236 = d->image.Pal[236][1], g237 = d->image.Pal[237][1];
    ASSERT_TRUE(w->AnimateTick());
    EXPECT_EQ(d->image.Pal[236][1], g237);
    EXPECT_EQ(d->image.Pal[255][1], g236);

    w->mnuAnimate->trigger();  // off: the picture stands still
    EXPECT_FALSE(w->Animating());
    AnimDelay = 120;
    w->mnuAnimate->trigger();
    w->mnuViewStartupClick();
    EXPECT_TRUE(w->Animating());
    EXPECT_EQ(w->findChild<QTimer*>("animTimer")->interval(), 120);
    AnimDelay = 0;

    w->SelectRow(0);  // a stored image: no band to cycle
    EXPECT_FALSE(w->Animating());
    w->mnuViewWaitClick();  // no Wait logo installed: empty preview
    EXPECT_FALSE(d->isVisible());
}

// The window's UiServices with the boxes recorded instead of shown, and Esc pressed while the
// batch reports its third file.
class EscUi : public QtUi {
public:
    int escAt = 3;
    std::vector<std::string> statuses;    // the status line as the window showed it
    std::vector<bool> buttonsEnabled;     // the Add button's state at each report
    std::vector<std::string> boxes;
    void ErrorBox(const std::string& t) override { boxes.push_back(t); }
    void WarningBox(const std::string& t) override { boxes.push_back(t); }
    void InfoBox(const std::string& t) override { boxes.push_back(t); }
    void ShowStatus(const std::string& text, bool bold) override
    {
        if (MainWindow() && static_cast<int>(statuses.size()) + 1 == escAt)
            QCoreApplication::postEvent(MainWindow()->lstFiles,
                                        new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
        QtUi::ShowStatus(text, bold);
        if (MainWindow()) {
            statuses.push_back(MainWindow()->panStatus->text().toStdString());
            buttonsEnabled.push_back(MainWindow()->btnAdd->isEnabled());
        }
    }
};

TEST_F(MainWindowTest, AddingABatchReportsEachFileAndEscStopsIt)
{
    Open();
    std::vector<std::string> files;
    for (int i = 0; i < 50; i++) {
        files.push_back(env.root.string() + "/pic" + std::to_string(i) + ".bmp");
        WriteBmp(files.back(), static_cast<uint8_t>(i * 5));
    }
    TempEnv::Write(files[1], "not a picture");
    EscUi qui;
    qui.SetMainWindow(w.get());
    UiServices* previous = SetUi(&qui);
    const Outcome added = ImagesAdd(files, RM_BORDER, "Batch", Answers());
    const size_t reports = qui.statuses.size();
    w->ShowOutcome(added, true);
    SetUi(previous);

    ASSERT_EQ(reports, 3u) << "the batch went on after Esc";
    EXPECT_EQ(qui.statuses[0], " Adding image \"pic0.bmp\" (file 1 of 50), press ESC to abort...");
    EXPECT_EQ(qui.statuses[2], " Adding image \"pic2.bmp\" (file 3 of 50), press ESC to abort...");
    for (size_t i = 0; i < reports; ++i) EXPECT_FALSE(qui.buttonsEnabled[i]);
    EXPECT_EQ(OverwriteChoice, OC_ABORT);
    // One box for the file that failed; none for the user's own Esc, and no summary.
    ASSERT_EQ(qui.boxes.size(), 1u);
    EXPECT_EQ(qui.boxes[0].rfind("Error loading \"" + files[1] + "\"", 0), 0u) << qui.boxes[0];
    // The files before the one Esc interrupted are in, the list shows them and the window is free again.
    EXPECT_EQ(Files(), (std::vector<std::string>{"Batch--pic0.png"}));
    EXPECT_EQ(w->lstFiles->count(), 1);
    EXPECT_TRUE(w->btnAdd->isEnabled());
    EXPECT_FALSE(w->IsBusy());
}

TEST_F(MainWindowTest, DroppedFilesAreAdded)
{
    Open();
    const std::string file = env.root.string() + "/dropped.bmp";
    WriteBmp(file, 99);
    DefPrefix = "Drop";
    ui.resizeModes.push_back(true);
    w->AddDroppedFiles({file});
    EXPECT_EQ(ui.Count("resize"), 1);
    EXPECT_EQ(Files(), (std::vector<std::string>{"Drop--dropped.png"}));
    EXPECT_EQ(w->CurrentName(), "Drop--dropped.png");
    EXPECT_TRUE(w->preview.display->isVisible());

    ui.resizeModes.push_back(false);  // Cancel in the resize-mode dialog adds nothing
    w->AddDroppedFiles({file});
    EXPECT_EQ(Files().size(), 1u);
}

}  // namespace

namespace {

// The traced call stacks of the failures below command: from command down to the failing line.
std::set<std::string> StacksBelow(const std::string& trace, const std::string& command)
{
    std::set<std::string> stacks;
    std::istringstream in(trace);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] != '@') continue;
        for (size_t at = line.find(command); at != std::string::npos; at = line.find(command, at + 1)) {
            const char before = line[at - 1], after = line[at + command.size()];
            if ((before == '@' || before == ':') && (after == ':' || after == ';')) stacks.insert(line.substr(at));
        }
    }
    return stacks;
}

}  // namespace

// Both front-ends run the same command of the core: every failure is traced with its call
// stack, and from the command down the window's stacks and kvs's are the same.
TEST_F(MainWindowTest, WindowAndKvsRunTheSameCommands)
{
    WriteStored(storage + "Sea--A.png", 120);
    WriteStored(storage + "Sea--B.png", 60);
    TempEnv::Write(env.win + "logos.bak", "no backups can go here");
    const std::string ini = env.prog + "Kvs.ini", nowhere = env.root.string() + "/none/x.gal";
    const std::string damaged = env.root.string() + "/damaged.gal";
    std::string gal(108, '\0');
    gal[0] = 108, gal[36] = 2, gal[40] = 1, gal[41] = 'G', gal[104] = 3;
    gal[4] = 22;
    gal.replace(5, 22, "Kelvane Studio Gallery");
    TempEnv::Write(damaged, gal);
    TempEnv::Write(ini, "[Main]\r\n");
    Open();

    const std::string windowTrace = env.root.string() + "/window.trace", kvsTrace = env.root.string() + "/kvs.trace";
    TraceSetFile(windowTrace);
    TraceSetEnabled(true);
    AnswerNextDialog<TfrmSetLogo>([](TfrmSetLogo* d) {
        d->chk0->setChecked(true);
        d->BitBtn1->click();
    });
    w->btnSetClick();
    w->btnShuffleClick();
    Highlight({0, 1}, 0);
    ui.saveFiles = {nowhere};
    ui.prompts = {std::string("Pack")};
    w->mnuGalCreateClick();
    ui.openFiles = {damaged};
    w->mnuGalOpenClick();
    chmod(ini.c_str(), 0444);
    AnswerNextDialog<TfrmOptions>([](TfrmOptions* d) { d->btnOK->click(); });
    w->mnuOptionsClick();
    TraceSetEnabled(false);

    setenv("KVS_TRACE", "1", 1);
    setenv("KVS_TRACE_FILE", kvsTrace.c_str(), 1);
    for (const std::string& args : {std::string("set Sea--A --startup"), std::string("shuffle"),
                                    "gallery create '" + nowhere + "' --prefix Pack Sea--A Sea--B",
                                    "gallery open '" + damaged + "'", std::string("settings FontSize 11")})
        EXPECT_EQ(RunProgram(env, "kvs", args).status, 1) << args;  // failed on purpose, and ended cleanly
    unsetenv("KVS_TRACE");
    unsetenv("KVS_TRACE_FILE");
    chmod(ini.c_str(), 0644);

    const std::string a = TempEnv::Read(windowTrace), b = TempEnv::Read(kvsTrace);
    for (const char* command : {"LogoCommands.LogoSet", "LogoCommands.LogoShuffle", "Gallery.GalleryCreate",
                                "Gallery.GalleryOpen", "Options.OptionsSaveSettings"}) {
        EXPECT_FALSE(StacksBelow(a, command).empty()) << command;
        EXPECT_EQ(StacksBelow(a, command), StacksBelow(b, command)) << command;
    }
}
