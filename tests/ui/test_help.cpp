// Help inside the program: the manual window that F1, the Help button and the FAQ item open,
// its links, and the About box. The same F1 runs once more on a real X server (Xvfb) without
// any desktop handler on the path.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBrowser>
#include <QToolButton>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "core/ImageStore.h"
#include "core/Settings.h"
#include "support/ScriptedUi.h"
#include "support/TempEnv.h"
#include "ui/TfrmAbout.h"
#include "ui/TfrmHelp.h"
#include "ui/TfrmMain.h"
#include "ui_dialog_driver.h"

namespace fs = std::filesystem;

namespace {

std::string SourceFile_(const std::string& relative)
{
    return TempEnv::Read(std::string(KVS_SOURCE_DIR) + "/" + relative);
}

// What <title> of the shipped manual says.
QString ManualTitle_()
{
    std::smatch m;
    const std::string html = SourceFile_("data/manual.html");
    if (!std::regex_search(html, m, std::regex("<title>([^<]*)</title>"))) return QString();
    return QString::fromStdString(m[1].str());
}

class HelpTest : public ::testing::Test {
protected:
    TempEnv env;
    ScriptedUi ui;
    std::unique_ptr<TfrmMain> w;

    void SetUp() override
    {
        Starting = false;
        StoreFree();
        fs::copy_file(std::string(KVS_SOURCE_DIR) + "/data/manual.html", env.prog + "manual.html");
        w = std::make_unique<TfrmMain>(false);
        w->show();
        ASSERT_FALSE(w->RunStartUp());
        w->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    }
    void TearDown() override
    {
        w->close();
        w.reset();
        StoreFree();
        Starting = false;
    }
    TfrmHelp* Help() { return w->findChild<TfrmHelp*>(); }
};

TEST_F(HelpTest, F1HelpButtonAndFaqShowTheManualInOneWindow)
{
    ASSERT_FALSE(ManualTitle_().isEmpty());
    QTest::keyClick(w.get(), Qt::Key_F1);
    TfrmHelp* help = Help();
    ASSERT_NE(help, nullptr) << "F1 opened no manual window";
    EXPECT_TRUE(help->isVisible());
    EXPECT_EQ(help->windowTitle(), ManualTitle_());
    EXPECT_EQ(help->txtManual->source().toLocalFile().toStdString(), env.prog + "manual.html");
    EXPECT_TRUE(help->txtManual->toPlainText().contains("Where the files go"));
    // The title stands alone on its line, and the page fits the window's width.
    EXPECT_FALSE(help->txtManual->toPlainText().section(QLatin1Char('\n'), 0, 0).contains("What it does"));
    for (int width : {720, 480}) {
        help->resize(width, 560);
        // The page is laid out again in steps after a resize.
        EXPECT_TRUE(QTest::qWaitFor([&] { return help->txtManual->horizontalScrollBar()->maximum() == 0; }, 2000))
            << width << ": " << help->txtManual->horizontalScrollBar()->maximum();
    }

    // A link inside the manual is followed in the same window.
    emit help->txtManual->anchorClicked(QUrl(QStringLiteral("#faq")));
    EXPECT_EQ(help->txtManual->source().fragment(), "faq");

    help->close();
    w->btnHelp->click();
    EXPECT_TRUE(help->isVisible());
    w->mnuFAQ->trigger();
    EXPECT_EQ(w->findChildren<TfrmHelp*>().size(), 1);
    EXPECT_EQ(help->txtManual->source().fragment(), "faq");
    EXPECT_EQ(ui.Count("error"), 0);
}

TEST(AboutBox, NamesTheBuiltVersionAndTheFolders)
{
    TempEnv env;
    LoadSettings();
    std::smatch m;
    const std::string cmake = SourceFile_("CMakeLists.txt");
    ASSERT_TRUE(std::regex_search(cmake, m, std::regex(R"(project\(\w+ VERSION ([0-9.]+))")));
    QString version, program, storage, licence;
    WhenModal([&](QWidget* d) {
        version = d->findChild<QLabel*>("labVersion")->text();
        program = d->findChild<QLabel*>("labProgramDir")->text();
        storage = d->findChild<QLabel*>("labStorageDir")->text();
        licence = d->findChild<QLabel*>("labLicence")->text();
        d->findChild<QPushButton*>("btnOK")->click();
    });
    AboutDialog();
    EXPECT_EQ(version.toStdString(), "Version " + m[1].str());
    EXPECT_EQ(program.toStdString(), env.prog);
    EXPECT_EQ(storage.toStdString(), GetStorageDir());
    EXPECT_TRUE(licence.contains("MIT licence")) << licence.toStdString();
}

// Run by XServer.F1ShowsTheManualWithoutADesktopHandler in a child under Xvfb, never alone.
TEST_F(HelpTest, DISABLED_UnderX)
{
    ASSERT_STREQ(QGuiApplication::platformName().toLatin1().constData(), "xcb");
    QTest::keyClick(w.get(), Qt::Key_F1);
    TfrmHelp* help = Help();
    ASSERT_NE(help, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(help));
    EXPECT_EQ(help->windowTitle(), ManualTitle_());
    // Nothing on the path opens web addresses: the user is told so.
    emit help->txtManual->anchorClicked(QUrl(QStringLiteral("https://www.example.org/")));
    ASSERT_EQ(ui.Count("error"), 1);
    EXPECT_NE(ui.Last("error").find("https://www.example.org/"), std::string::npos) << ui.Last("error");
}

TEST(XServer, F1ShowsTheManualWithoutADesktopHandler)
{
    if (system("command -v xvfb-run >/dev/null 2>&1") != 0) GTEST_SKIP() << "xvfb-run is not installed";
    const fs::path empty = fs::temp_directory_path() / ("kvs-nopath-" + std::to_string(getpid()));
    fs::create_directories(empty);
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const std::string out = (empty / "out.txt").string();
    const std::string cmd = "xvfb-run -a env -u BROWSER -u DEFAULT_BROWSER PATH='" + empty.string() +
                            "' QT_QPA_PLATFORM=xcb '" + self +
                            "' --gtest_also_run_disabled_tests --gtest_filter=HelpTest.DISABLED_UnderX >'" + out +
                            "' 2>&1";
    const int rc = system(cmd.c_str());
    const std::string log = TempEnv::Read(out);
    fs::remove_all(empty);
    EXPECT_EQ(rc, 0) << log;
    EXPECT_NE(log.find("[  PASSED  ] 1 test"), std::string::npos) << log;
}

}  // namespace
