// The main window on a disk image with a real emulator beside it: between commands the window
// holds nothing, so QEMU starts; a command then names who holds the image and the window stays;
// once QEMU is gone the next command reaches the image.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <thread>

#include "app/DriveUse.h"
#include "app/StartUp.h"
#include "base/Basic.h"
#include "core/AddImages.h"
#include "core/ImageStore.h"
#include "core/Settings.h"
#include "formats/FFDispatch.h"
#include "image/ImgBasic.h"
#include "support/ScriptedUi.h"
#include "support/TempEnv.h"
#include "ui/TfrmMain.h"

namespace {

std::string Q_(const std::string& s)
{
    return "'" + s + "'";
}

}  // namespace

TEST(WindowOnImage, AnEmulatorStartedBetweenCommandsIsNamedAndTheWindowStays)
{
    if (std::system("command -v qemu-system-x86_64 >/dev/null") != 0) GTEST_SKIP() << "qemu-system-x86 is not installed";
    TempEnv env;
    const std::string image = (env.root / "win98.img").string();
    ASSERT_EQ(std::system((Q_(std::string(KVS_SOURCE_DIR) + "/scripts/make-disk-image") + " " + Q_(image) + " fat16").c_str()), 0);
    std::map<std::string, std::string> saved;
    for (const char* v : {"KVS_WINDOWS_DIR", "TMPDIR", "XDG_RUNTIME_DIR"})
        if (getenv(v)) saved[v] = getenv(v);
    unsetenv("KVS_WINDOWS_DIR");
    unsetenv("XDG_RUNTIME_DIR");
    setenv("TMPDIR", env.root.c_str(), 1);
    DriveUseSetOption(image, 0);
    ScriptedUi ui;
    Starting = false;
    OverwriteChoice = OC_NONE;
    StoreFree();
    auto w = std::make_unique<TfrmMain>(false);
    w->show();
    ASSERT_FALSE(w->RunStartUp());
    const std::string picture = (env.root / "vm.bmp").string();
    Image img;
    ImgAlloc(img, 16, 12, 24);
    for (int i = 0; i < img.Size; i++) img.Data[i] = static_cast<uint8_t>(i % 7);
    ImgSave(picture, img, FMT_BMP);
    ImgFree(img);
    DefPrefix = "Vm";

    const pid_t vm = fork();
    if (vm == 0) {
        const int nul = open("/dev/null", O_RDWR);
        dup2(nul, 1), dup2(nul, 2);
        execlp("qemu-system-x86_64", "qemu-system-x86_64", "-S", "-display", "none", "-nodefaults", "-drive",
               ("file=" + image + ",format=raw,if=ide").c_str(), nullptr);
        _exit(127);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const bool started = waitpid(vm, nullptr, WNOHANG) == 0;
    ui.resizeModes.push_back(true);
    if (started) w->AddDroppedFiles({picture});
    ::kill(vm, SIGKILL);
    waitpid(vm, nullptr, 0);
    EXPECT_TRUE(started) << "QEMU refused an image the window had let go";
    EXPECT_EQ(ui.Count("error"), 1);
    EXPECT_NE(ui.Last("error").find("The disk image is in use by qemu"), std::string::npos) << ui.Last("error");
    EXPECT_TRUE(w->isVisible());
    EXPECT_FALSE(w->IsBusy());

    ui.resizeModes.push_back(true);
    w->AddDroppedFiles({picture});
    EXPECT_EQ(ui.Count("error"), 1) << ui.Last("error");
    const std::string listing = (env.root / "listing.txt").string();
    std::system(("MTOOLS_SKIP_CHECK=1 mdir -b -i " + Q_(image + "@@0") + " '::/Program Files/KvsLogos' >" + Q_(listing)).c_str());
    EXPECT_NE(TempEnv::Read(listing).find("Vm--vm.png"), std::string::npos) << TempEnv::Read(listing);

    w->close();
    w.reset();
    StoreFree();
    DriveUseClose();
    DriveUseSetOption("", 0);
    for (const char* v : {"KVS_WINDOWS_DIR", "TMPDIR", "XDG_RUNTIME_DIR"}) {
        if (saved.count(v)) setenv(v, saved[v].c_str(), 1);
        else unsetenv(v);
    }
}
