#include "ui/TfrmDrives.h"

#include <sys/stat.h>

#include <cstdlib>

#include <QApplication>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/DriveList.h"
#include "app/DriveUse.h"
#include "base/Mon.h"
#include "ui/DialogUtil.h"

namespace {

constexpr int ROLE_PATH = Qt::UserRole;
constexpr int ROLE_PARTITION = Qt::UserRole + 1;
constexpr int ROLE_USABLE = Qt::UserRole + 2;

QString Q_(const std::string& s)
{
    return QString::fromLocal8Bit(s.c_str());
}

std::string shownPath_(const std::string& path, int partition)
{
    return path + (partition ? ", partition " + std::to_string(partition) : std::string());
}

// The home folder as "~", so the names that tell drives apart fit the column.
std::string short_(const std::string& path, int partition)
{
    const char* home = getenv("HOME");
    const std::string h = home && *home ? std::string(home) + "/" : std::string();
    const bool below = !h.empty() && path.rfind(h, 0) == 0;
    return shownPath_(below ? "~/" + path.substr(h.size()) : path, partition);
}

QTreeWidgetItem* item_(QTreeWidgetItem* parent, const DriveFound& d, bool usable)
{
    auto* it = new QTreeWidgetItem(parent);
    it->setText(0, Q_(short_(d.path, d.partition)));
    it->setText(1, Q_(DriveFindKindText(d.kind)));
    it->setText(2, Q_(d.refused.empty() ? (d.windows.empty() ? std::string("Windows") : d.windows) : "must be converted"));
    it->setText(3, Q_(d.freeBytes < 0 ? std::string() : DriveFindSizeText(d.freeBytes)));
    it->setData(0, ROLE_PATH, Q_(d.path));
    it->setData(0, ROLE_PARTITION, d.partition);
    it->setData(0, ROLE_USABLE, usable && d.refused.empty());
    std::string tip = shownPath_(d.path, d.partition);
    if (!d.label.empty()) tip += "\nLabel: " + d.label;
    if (d.size > 0) tip += "\nSize: " + DriveFindSizeText(d.size);
    if (!d.place.empty()) tip += "\nFound: " + d.place;
    if (!d.refused.empty()) tip += "\n" + d.refused;
    for (int c = 0; c < 4; c++) it->setToolTip(c, Q_(tip));
    if (!d.refused.empty()) it->setDisabled(true);
    return it;
}

void current_(QTreeWidget* tree, QTreeWidgetItem* it)
{
    QFont f = it->font(0);
    f.setBold(true);
    for (int c = 0; c < 4; c++) it->setFont(c, f);
    tree->setCurrentItem(it);
}

// A recent drive as it is now: one look at it, else what its path alone tells.
DriveFound recentLook_(const DriveChoice& c)
{
    for (const DriveFound& d : DriveFindAt(c.path, "recently used"))
        if (d.partition == c.partition || c.partition == 0) return d;
    DriveFound d;
    d.path = c.path;
    d.partition = c.partition;
    d.place = "recently used";
    struct stat st;
    const bool there = stat(c.path.c_str(), &st) == 0;
    d.kind = there && S_ISDIR(st.st_mode) ? "Folder" : "Disk image";
    d.windows = there ? "Windows" : "not found";
    return d;
}

}  // namespace

QTreeWidget* DrivesNewList(const char* name)
{
    TRACE("wDrives.DrivesNewList");
    auto* tree = NewControl<QTreeWidget>(name);
    tree->setColumnCount(4);
    tree->setHeaderLabels({QObject::tr("Drive"), QObject::tr("Kind"), QObject::tr("Windows"), QObject::tr("Free")});
    tree->setRootIsDecorated(false);
    tree->setItemsExpandable(false);
    tree->setUniformRowHeights(true);
    tree->setTextElideMode(Qt::ElideMiddle);
    tree->header()->setStretchLastSection(false);
    tree->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    for (int c = 1; c < 4; c++) tree->header()->setSectionResizeMode(c, QHeaderView::ResizeToContents);
    return tree;
}

void DrivesFillList(QTreeWidget* tree, bool again)
{
    TRACE("wDrives.DrivesFillList");
    QApplication::setOverrideCursor(Qt::WaitCursor);
    tree->clear();
    const DriveSearch& found = DriveListFound(again);
    auto* foundHead = new QTreeWidgetItem(tree, {QObject::tr(found.drives.empty() ? "No Windows 95/98 drive found on this computer"
                                                                                 : "Found on this computer")});
    foundHead->setFlags(Qt::ItemIsEnabled);
    for (size_t i = 0; i < found.drives.size(); i++) {
        QTreeWidgetItem* it = item_(foundHead, found.drives[i], true);
        if (DriveListIsCurrent(found, i, DriveUseCurrent(), DriveUseIsImage())) current_(tree, it);
    }
    QTreeWidgetItem* recentHead = nullptr;
    const DriveChoice& now = DriveUseCurrent();
    for (const DriveChoice& c : DriveListRecent()) {
        bool listed = false;
        for (const DriveFound& d : found.drives)
            listed = listed || (d.path == c.path && (d.partition == c.partition || c.partition == 0));
        if (listed) continue;
        if (!recentHead) {
            recentHead = new QTreeWidgetItem(tree, {QObject::tr("Recently used")});
            recentHead->setFlags(Qt::ItemIsEnabled);
        }
        QTreeWidgetItem* it = item_(recentHead, recentLook_(c), true);
        if (c.path == now.path && c.partition == now.partition) current_(tree, it);
    }
    if (found.timedOut)
        new QTreeWidgetItem(tree, {QObject::tr("The search stopped at its time limit; add the folder of a missing image.")});
    tree->expandAll();
    QApplication::restoreOverrideCursor();
}

bool DrivesItemChoice(const QTreeWidgetItem* item, DriveChoice& choice)
{
    TRACE("wDrives.DrivesItemChoice");
    if (!item || !item->data(0, ROLE_USABLE).toBool()) return false;
    choice = DriveChoice{item->data(0, ROLE_PATH).toString().toLocal8Bit().toStdString(),
                         item->data(0, ROLE_PARTITION).toInt(), "window"};
    return true;
}

TfrmDrives::TfrmDrives(bool firstStart, QWidget* parent) : TFormDialog(parent)
{
    TRACE("wDrives.TfrmDrives.TfrmDrives");
    SetupUi_(firstStart);
}

void TfrmDrives::SetupUi_(bool firstStart)
{
    TRACE("wDrives.TfrmDrives.SetupUi_");
    setObjectName("frmDrives");
    setWindowTitle(tr("Choose Drive"));
    labIntro = NewControl<QLabel>(
        "labIntro", firstStart ? tr("Kelvane Studio found Windows 95/98 on this computer. Choose the drive whose "
                                    "boot logos you want to manage, or stay on the demo drive to try the program.")
                               : tr("Choose the Windows 95/98 drive whose boot logos you want to manage."));
    labIntro->setWordWrap(true);
    labIntro->setMinimumWidth(620);
    FitWrappedLabel(labIntro);
    lvDrives = DrivesNewList("lvDrives");
    auto* hint = new QLabel(tr("A partition that is not mounted is not searched; mount it first, for example "
                               "with: udisksctl mount -b /dev/sdb1"));
    hint->setWordWrap(true);
    btnDemo = NewControl<QPushButton>("btnDemo", tr("Demo Drive"));
    btnAddFolder = NewControl<QPushButton>("btnAddFolder", tr("Add Folder..."));
    btnOK = NewControl<QPushButton>("btnOK");
    btnCancel = NewControl<QPushButton>("btnCancel");
    SetupOkCancel(this, btnOK, btnCancel);
    btnOK->setText(tr("Open"));
    for (QPushButton* b : {btnDemo, btnAddFolder}) FitButton(b, 75, 25);
    auto* buttons = OkCancelRow(btnOK, btnCancel);
    buttons->insertWidget(0, btnDemo);
    buttons->insertWidget(1, btnAddFolder);

    auto* main = new QVBoxLayout(this);
    main->setContentsMargins(10, 8, 10, 8);
    main->addWidget(labIntro);
    main->addWidget(lvDrives, 1);
    main->addWidget(hint);
    main->addLayout(buttons);
    SetClientSize(680, 340);

    disconnect(btnOK, nullptr, this, nullptr);
    connect(btnOK, &QPushButton::clicked, this, &TfrmDrives::btnOKClick);
    connect(btnDemo, &QPushButton::clicked, this, &TfrmDrives::btnDemoClick);
    connect(btnAddFolder, &QPushButton::clicked, this, &TfrmDrives::btnAddFolderClick);
    connect(lvDrives, &QTreeWidget::currentItemChanged, this, &TfrmDrives::lvDrivesChange);
    connect(lvDrives, &QTreeWidget::itemDoubleClicked, this, [this] { btnOKClick(); });
}

void TfrmDrives::Fill(bool again)
{
    TRACE("wDrives.TfrmDrives.Fill");
    DrivesFillList(lvDrives, again);
    // The first start proposes the first drive found.
    if (!lvDrives->currentItem() && lvDrives->topLevelItemCount() > 0 && lvDrives->topLevelItem(0)->childCount() > 0)
        lvDrives->setCurrentItem(lvDrives->topLevelItem(0)->child(0));
    lvDrivesChange();
}

void TfrmDrives::lvDrivesChange()
{
    TRACE("wDrives.TfrmDrives.lvDrivesChange");
    DriveChoice c;
    btnOK->setEnabled(DrivesItemChoice(lvDrives->currentItem(), c));
}

void TfrmDrives::btnOKClick()
{
    TRACE("wDrives.TfrmDrives.btnOKClick");
    if (!DrivesItemChoice(lvDrives->currentItem(), choice_)) return;
    accept();
}

void TfrmDrives::btnDemoClick()
{
    TRACE("wDrives.TfrmDrives.btnDemoClick");
    choice_ = DriveChoice{std::string(), 0, "window"};
    accept();
}

void TfrmDrives::btnAddFolderClick()
{
    TRACE("wDrives.TfrmDrives.btnAddFolderClick");
    const QString dir = QFileDialog::getExistingDirectory(this, tr("Folder With Disk Images"));
    if (dir.isEmpty()) return;
    try {
        MonBlock([&] { DriveListAddFolder(dir.toLocal8Bit().toStdString()); });
    } catch (const std::exception& e) {
        MonClearError();
        ErrorBox(e.what());
        return;
    }
    Fill(true);
}

bool DriveChooserDialog(QWidget* parent, bool firstStart, DriveChoice& choice)
{
    TRACE("wDrives.DriveChooserDialog");
    TfrmDrives dlg(firstStart, parent);
    dlg.Fill(!firstStart);
    if (dlg.exec() != QDialog::Accepted) return false;
    choice = dlg.Choice();
    return true;
}
