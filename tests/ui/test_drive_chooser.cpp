// The first start on the demo drive offers the Windows drives found in a made-up home folder;
// choosing one opens it, names it in the status line and remembers it; the Drive menu's
// chooser then marks it, keeps the demo drive one click away, and System Files lists the same.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>

#include "app/DriveList.h"
#include "app/DriveUse.h"
#include "app/StartUp.h"
#include "core/ImageStore.h"
#include "platform/ProfileFile.h"
#include "platform/SysInfo.h"
#include "support/MadeUpHome.h"
#include "support/ScriptedUi.h"
#include "support/TempEnv.h"
#include "ui/TfrmDrives.h"
#include "ui/TfrmLoc.h"
#include "ui/TfrmMain.h"
#include "ui_dialog_driver.h"

namespace {

// The rows of the chooser's list below its headings: "path | kind | windows | free".
std::vector<std::string> Rows(QTreeWidget* tree)
{
    std::vector<std::string> rows;
    for (int i = 0; i < tree->topLevelItemCount(); i++)
        for (int j = 0; j < tree->topLevelItem(i)->childCount(); j++) {
            const QTreeWidgetItem* it = tree->topLevelItem(i)->child(j);
            rows.push_back((it->text(0) + " | " + it->text(1) + " | " + it->text(2) + " | " +
                            (it->text(3).isEmpty() ? "" : "free") + (it->font(0).bold() ? " | open" : ""))
                               .toStdString());
        }
    return rows;
}

QTreeWidgetItem* RowOf(QTreeWidget* tree, const std::string& path)
{
    for (int i = 0; i < tree->topLevelItemCount(); i++)
        for (int j = 0; j < tree->topLevelItem(i)->childCount(); j++)
            if (tree->topLevelItem(i)->child(j)->text(0).toStdString() == path) return tree->topLevelItem(i)->child(j);
    return nullptr;
}

TEST(DriveChooserTest, FirstStartOffersTheFoundDrivesAndChoosingOneOpensIt)
{
    TempEnv env;
    MadeUpHome h;
    ScriptedUi ui;
    const std::string oldWin = getenv("KVS_WINDOWS_DIR");
    unsetenv("KVS_WINDOWS_DIR");
    DriveUseSetOption("", 0);
    DriveUseClose();
    Starting = false;
    StoreFree();
    const std::string vhd = h.home + "/VirtualBox VMs/w98/w98.vhd";

    std::vector<std::string> offered;
    bool firstWords = false;
    WhenModal([&](QWidget* w) {
        auto* dlg = qobject_cast<TfrmDrives*>(w);
        if (!dlg) return;
        offered = Rows(dlg->lvDrives);
        firstWords = dlg->labIntro->text().contains("found Windows 95/98");
        dlg->lvDrives->setCurrentItem(RowOf(dlg->lvDrives, "~/VirtualBox VMs/w98/w98.vhd"));
        dlg->btnOK->click();
    });
    auto w = std::make_unique<TfrmMain>(false);
    w->show();
    EXPECT_FALSE(w->RunStartUp());
    EXPECT_TRUE(firstWords);
    ASSERT_EQ(offered.size(), 7u);
    EXPECT_EQ(offered[0], h.tmp / "mnt/c" + " | Mounted drive | Windows 95 | free");
    EXPECT_EQ(offered[4], "~/VirtualBox VMs/w98/w98.vhd | Fixed VHD | Windows 98 Second Edition | free");
    EXPECT_EQ(offered[5], "~/vms/w98/disk.img, partition 1 | Disk image (partitioned) | Windows 98 | free");
    EXPECT_EQ(offered[6], "~/.local/share/libvirt/images/win98.qcow2 | QCOW2 | must be converted | ");
    EXPECT_EQ(ui.Count("error"), 0) << ui.Last("error");

    // The chosen image is the drive now, named in the status line and remembered.
    EXPECT_TRUE(DriveUseIsImage());
    EXPECT_EQ(DriveUseCurrent().path, vhd);
    auto* panDrive = w->findChild<QLabel*>("panDrive");
    ASSERT_NE(panDrive, nullptr);
    EXPECT_TRUE(panDrive->toolTip().contains(QString::fromStdString(vhd))) << panDrive->toolTip().toStdString();
    ASSERT_EQ(DriveListRecent().size(), 1u);
    EXPECT_EQ(DriveListRecent()[0].path, vhd);
    EXPECT_TRUE(DriveListOffered());

    // The Drive menu's chooser marks it; the demo drive is one click away.
    std::vector<std::string> listed;
    WhenModal([&](QWidget* m) {
        auto* dlg = qobject_cast<TfrmDrives*>(m);
        if (!dlg) return;
        listed = Rows(dlg->lvDrives);
        dlg->btnDemo->click();
    });
    w->mnuChooseDrive->trigger();
    ASSERT_EQ(listed.size(), 7u);
    EXPECT_EQ(listed[4], offered[4] + " | open");
    EXPECT_FALSE(DriveUseIsImage());
    EXPECT_EQ(DriveUseCurrent().path, "");
    EXPECT_EQ(SysDriveRoot(), h.home + "/.local/share/KelvaneStudio/drive_c/");

    // System Files' Drive tab lists the drives too; clicking one fills in its path and partition.
    TfrmLoc loc;
    loc.Fill();
    loc.PageControl1->setCurrentWidget(loc.TabSheet4);
    ASSERT_EQ(Rows(loc.lvDrives).size(), 7u);
    loc.lvDrives->setCurrentItem(RowOf(loc.lvDrives, "~/vms/w98/disk.img, partition 1"));
    EXPECT_EQ(loc.edDrive->text().toStdString(), h.home + "/vms/w98/disk.img");
    EXPECT_EQ(loc.spPartition->value(), 1);

    w->close();
    w.reset();
    StoreFree();
    Starting = false;
    setenv("KVS_WINDOWS_DIR", oldWin.c_str(), 1);
    DriveUseOpen(DriveChoice{std::string(), 0, "KVS_WINDOWS_DIR"});
}

}  // namespace
