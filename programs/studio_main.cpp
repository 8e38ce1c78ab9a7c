// kelvane-studio: the program with its main window; the switches /inst, /change and /uninst
// run without showing it. A build without the window always runs that way.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/DriveUse.h"
#include "app/StartUp.h"
#include "app/StudioHelp.h"
#include "platform/SysExe.h"

#ifdef KVS_GUI
#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

#include "base/Mon.h"
#include "base/UiServices.h"
#include "core/Settings.h"
#include "platform/TextRender.h"
#include "ui/QtUi.h"
#include "ui/TfrmMain.h"
#endif

// The program's parameters with parameter 0 made the full path of the executable, as the
// Run entry and the install information need it.
static std::vector<std::string> ProgramParams_(int argc, char** argv)
{
    std::vector<std::string> params(argv, argv + argc);
    std::string exe = SysExePath();
    if (params.empty()) params.push_back(exe);
    else if (!exe.empty()) params[0] = exe;
    return params;
}

#ifdef KVS_GUI
static void ForegroundBox_(const std::string& text)
{
    if (qApp)
        QMessageBox::critical(nullptr, QString::fromLatin1(APP_TITLE), QString::fromLocal8Bit(DriveUseShownText(text)));
}

// Whether someone can answer a message box: a real display, not an offscreen platform.
static bool HaveDisplay_()
{
    const char* qpa = std::getenv("QT_QPA_PLATFORM");
    if (qpa && (std::string(qpa).rfind("offscreen", 0) == 0 || std::string(qpa).rfind("minimal", 0) == 0))
        return false;
    const char* x = std::getenv("DISPLAY");
    const char* wl = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (wl && *wl);
}

// Takes "--screenshot FILE" out of the parameters; empty text when it is not there.
static std::string TakeScreenshotOption_(int& argc, char** argv, std::vector<std::string>& params)
{
    std::string file;
    for (size_t i = 1; i + 1 < params.size(); i++)
        if (params[i] == "--screenshot") {
            file = params[i + 1];
            params.erase(params.begin() + static_cast<long>(i), params.begin() + static_cast<long>(i) + 2);
            for (int k = static_cast<int>(i); k + 2 <= argc; k++) argv[k] = argv[k + 2];
            argc -= 2;
            break;
        }
    return file;
}
#endif

int main(int argc, char** argv)
{
    std::vector<std::string> params = ProgramParams_(argc, argv);
    if (const std::string info = StudioInfoText(params); !info.empty()) {
        std::fputs(info.c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    std::string driveProblem;
    if (!DriveUseTakeOptions(params, false, driveProblem)) {
        std::fprintf(stderr, "%s: %s\n", APP_TITLE, driveProblem.c_str());
        return 2;
    }
#ifdef KVS_GUI
    const std::string screenshot = TakeScreenshotOption_(argc, argv, params);
    SetParams(params);
    if (HasCommandLineSwitch()) {
        // A switch never needs the window; the /inst and /uninst boxes use one when a display exists.
        if (!HaveDisplay_()) return RunWithoutWindow(params);
        QApplication app(argc, argv);
        QtUi ui;
        SetUi(&ui);
        MonSetForegroundErrorHook(ForegroundBox_);
        int rc = RunWithoutWindow(params);
        SetUi(nullptr);
        return rc;
    }
    const char* qpa = std::getenv("QT_QPA_PLATFORM");
    if ((!qpa || !*qpa) && !HaveDisplay_()) {
        // Qt would abort without a word a user can act on.
        std::fputs(StudioNoDisplayText().c_str(), stderr);
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(APP_TITLE));
    if (QScreen* screen = QGuiApplication::primaryScreen())
        TextSetScreenPPI(qRound(screen->logicalDotsPerInchY()));
    QtUi ui;
    SetUi(&ui);
    MonSetForegroundErrorHook(ForegroundBox_);
    int rc = 0;
    bool shotFailed = false;
    {
        TfrmMain window;
        ui.SetMainWindow(&window);
        window.show();
        if (!screenshot.empty()) {
            // Let the list and the preview paint first, then grab the window and close it.
            QTimer::singleShot(700, &window, [&window, &screenshot, &shotFailed] {
                shotFailed = !window.SaveScreenshot(QString::fromLocal8Bit(screenshot));
                window.close();
            });
        }
        rc = app.exec();
        ui.SetMainWindow(nullptr);
    }
    // The window's changes reach a disk image when it closes.
    try {
        MonBlock([] { DriveUseCommit(); });
    } catch (const std::exception& e) {
        ForegroundBox_(e.what());
        rc = 1;
    }
    DriveUseClose();
    if (shotFailed) rc = 3;
    MonSetForegroundErrorHook(nullptr);
    SetUi(nullptr);
    return rc;
#else
    return RunWithoutWindow(params);
#endif
}
