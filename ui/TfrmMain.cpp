#include "ui/TfrmMain.h"

#include <array>
#include <cstdio>
#include <functional>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFontInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include "app/DriveList.h"
#include "app/DriveUse.h"
#include "app/StartUp.h"
#include "base/Basic.h"
#include "base/Mon.h"
#include "base/UiServices.h"
#include "core/AutoChange.h"
#include "core/AddImages.h"
#include "core/Gallery.h"
#include "core/ImageStore.h"
#include "core/LogoBuilder.h"
#include "core/LogoCommands.h"
#include "core/Settings.h"
#include "core/Shuffle.h"
#include "core/StoreCommands.h"
#include "formats/FFDispatch.h"
#include "image/ImgResize.h"
#include "platform/SysInfo.h"
#include "ui/AskCommands.h"
#include "ui/TDisplayControl.h"
#include "ui/TfrmAbout.h"
#include "ui/TfrmDrives.h"
#include "ui/TfrmHelp.h"
#include "ui/TfrmLogoPos.h"
#include "ui/TfrmSetLogo.h"
#include "ui/DialogUtil.h"
#include "ui/TfrmOptions.h"

namespace {

constexpr int TOOLS_HEIGHT = 54;
constexpr int STATUS_HEIGHT = 22;
constexpr int LIST_WIDTH = 331;
constexpr int CLIENT_WIDTH = 624;
constexpr int CLIENT_HEIGHT = 374;
constexpr int ANIM_INTERVAL_MS = 55;  // about the pace of the start-up screen's band

// Paints the rows through the window's own drawing routine.
class FilesDelegate_ : public QStyledItemDelegate {
public:
    explicit FilesDelegate_(TfrmMain* owner) : QStyledItemDelegate(owner), owner_(owner) {}
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const QRect& r = option.rect;
        owner_->lstFilesDrawItem(*painter, index.row(), QRect(r.left(), r.top(), r.width(), r.height()),
                                 option.state & QStyle::State_Selected, index == owner_->lstFiles->currentIndex());
    }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override
    {
        return QSize(option.rect.width(), owner_->lstFilesMeasureItem());
    }

private:
    TfrmMain* owner_;
};

// ---- toolbar glyphs, drawn here so they scale and need no image files ----
enum { G_ADD, G_GALLERY, G_SET, G_SHUFFLE, G_DELETE, G_HELP, G_EXIT };

void Picture_(QPainter& p, const QRectF& r)
{
    p.setPen(QPen(QColor(40, 40, 40), 1.2));
    p.setBrush(QColor(120, 180, 235));
    p.drawRect(r);
    QPainterPath hill;
    hill.moveTo(r.left(), r.bottom());
    hill.lineTo(r.left() + r.width() * 0.35, r.top() + r.height() * 0.45);
    hill.lineTo(r.left() + r.width() * 0.6, r.top() + r.height() * 0.75);
    hill.lineTo(r.left() + r.width() * 0.78, r.top() + r.height() * 0.55);
    hill.lineTo(r.right(), r.bottom());
    hill.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 140, 60));
    p.drawPath(hill);
    p.setBrush(QColor(250, 210, 40));
    p.drawEllipse(QPointF(r.left() + r.width() * 0.75, r.top() + r.height() * 0.28), r.width() * 0.1,
                  r.width() * 0.1);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(40, 40, 40), 1.2));
    p.drawRect(r);
}

QIcon Glyph_(int kind)
{
    const int s = 24;
    QPixmap pm(s * 2, s * 2);  // drawn at double size, shown smooth on any screen
    pm.setDevicePixelRatio(2.0);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    switch (kind) {
    case G_ADD:
        Picture_(p, QRectF(1.5, 4.5, 17, 13));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(30, 150, 30));
        p.drawEllipse(QPointF(17.5, 17.5), 6, 6);
        p.setPen(QPen(Qt::white, 2.2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(17.5, 14), QPointF(17.5, 21));
        p.drawLine(QPointF(14, 17.5), QPointF(21, 17.5));
        break;
    case G_GALLERY: {
        p.setPen(QPen(QColor(120, 80, 10), 1.2));
        p.setBrush(QColor(230, 180, 60));
        QPainterPath back;
        back.moveTo(2, 20);
        back.lineTo(2, 5);
        back.lineTo(9, 5);
        back.lineTo(11, 7.5);
        back.lineTo(20, 7.5);
        back.lineTo(20, 20);
        back.closeSubpath();
        p.drawPath(back);
        Picture_(p, QRectF(6.5, 9.5, 11, 8));
        p.setPen(QPen(QColor(120, 80, 10), 1.2));
        p.setBrush(QColor(250, 205, 90));
        QPainterPath front;
        front.moveTo(2, 20);
        front.lineTo(5.5, 12);
        front.lineTo(23, 12);
        front.lineTo(20, 20);
        front.closeSubpath();
        p.drawPath(front);
        break;
    }
    case G_SET:
        p.setPen(QPen(QColor(50, 50, 50), 1.2));
        p.setBrush(QColor(200, 200, 200));
        p.drawRoundedRect(QRectF(1.5, 2.5, 21, 16), 2, 2);
        Picture_(p, QRectF(4, 5, 16, 11));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(90, 90, 90));
        p.drawRect(QRectF(9, 18.5, 6, 2.5));
        p.drawRect(QRectF(6, 21, 12, 1.8));
        break;
    case G_SHUFFLE: {
        p.setPen(QPen(QColor(30, 90, 170), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        QPainterPath a, b;
        a.moveTo(2, 6.5);
        a.cubicTo(10, 6.5, 12, 17.5, 19, 17.5);
        b.moveTo(2, 17.5);
        b.cubicTo(10, 17.5, 12, 6.5, 19, 6.5);
        p.drawPath(a);
        p.drawPath(b);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(30, 90, 170));
        p.drawPolygon(QPolygonF({QPointF(18, 2.5), QPointF(23.5, 6.5), QPointF(18, 10.5)}));
        p.drawPolygon(QPolygonF({QPointF(18, 13.5), QPointF(23.5, 17.5), QPointF(18, 21.5)}));
        break;
    }
    case G_DELETE:
        p.setPen(QPen(QColor(200, 30, 30), 3.2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(5, 5), QPointF(19, 19));
        p.drawLine(QPointF(19, 5), QPointF(5, 19));
        break;
    case G_HELP: {
        p.setPen(QPen(QColor(20, 70, 150), 1.2));
        p.setBrush(QColor(50, 110, 200));
        p.drawEllipse(QPointF(12, 12), 10, 10);
        QFont f = QApplication::font();
        f.setBold(true);
        f.setPixelSize(15);
        p.setFont(f);
        p.setPen(Qt::white);
        p.drawText(QRectF(2, 2, 20, 20), Qt::AlignCenter, QStringLiteral("?"));
        break;
    }
    case G_EXIT:
        p.setPen(QPen(QColor(90, 60, 30), 1.2));
        p.setBrush(QColor(170, 120, 70));
        p.drawRect(QRectF(3.5, 2.5, 11, 19));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(250, 220, 90));
        p.drawEllipse(QPointF(12, 12.5), 1.2, 1.2);
        p.setPen(QPen(QColor(200, 40, 40), 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawLine(QPointF(11, 12), QPointF(21, 12));
        p.drawLine(QPointF(17.5, 8.5), QPointF(21, 12));
        p.drawLine(QPointF(17.5, 15.5), QPointF(21, 12));
        break;
    }
    p.end();
    return QIcon(pm);
}

// The designed heights of the toolbar and the status line, or what the font needs.
int ToolsHeight_(const QWidget* panTools)
{
    return qMax(TOOLS_HEIGHT, panTools->sizeHint().height());
}

int StatusHeight_(const QLabel* panStatus)
{
    return qMax(STATUS_HEIGHT, panStatus->fontMetrics().height() + 2 * panStatus->frameWidth() + 4);
}

// The band of a stored logo file chosen for the Startup position, which Windows would cycle; -1
// for any other image.
int StoredBand_(const std::string& name)
{
    const int32_t i = ImageListFind(Images, name);
    if (i == Undef) return -1;
    const ImageEntry& e = *Images->Items[i];
    return e.FromLogoFile && (e.Positions & POS_STARTUP) ? e.AnimStart : -1;
}

// The position an image is previewed as: the first it is chosen for, Startup when none.
int PreviewPosition_(int positions)
{
    for (int position : {POS_STARTUP, POS_WAIT, POS_TURNOFF})
        if (positions & position) return position;
    return POS_STARTUP;
}

// The message position would get next, when its message is on; the pick counter stays put.
std::string NextMessage_(int position)
{
    const bool* enabled = MsgEnabledOf(position);
    int32_t* counter = MsgIndexOf(position);
    if (!enabled || !*enabled || !counter) return std::string();
    const int32_t kept = *counter;
    const std::string message = PickMessage(position, GetMessageText(position));
    *counter = kept;
    return message;
}

// The disk image changed while the window had let it go: show what it holds now.
void ReloadFromDrive_()
{
    LoadSettings();
    StoreLoad();
    StoreViewGet().RefreshList(true);
}

// Runs a command as the outermost monitor block: a failure ends up in an error box rather than
// escaping into Qt's event loop.
void Command_(const std::function<void()>& body)
{
    // A disk image is held, and re-read when it changed, only while the command runs.
    bool held = false;
    MonBlockTransparent([&] {
        DriveUseBegin();
        held = true;
        body();
    });
    std::string text;
    if (!MonOK()) {
        text = MonErrorText();
        MonClearError();
    }
    if (held) MonBlockTransparent([] { DriveUseEnd(); });
    if (!MonOK()) {
        text += (text.empty() ? "" : "\n") + MonErrorText();
        MonClearError();
    }
    if (!text.empty()) Ui().ErrorBox(text);
}

}  // namespace

// ====================================================================== construction

TfrmMain::TfrmMain(bool runStartUp, QWidget* parent) : QMainWindow(parent), runStartUp_(runStartUp)
{
    TRACE("wMain.TfrmMain.Create");
    setObjectName(QStringLiteral("frmMain"));
    setupUi_();
    createMenu_();
    wireSignals_();
    // The designed client area below the menu bar, centred on the screen.
    resize(CLIENT_WIDTH, CLIENT_HEIGHT + menuBar()->sizeHint().height());
    // Smaller than this a toolbar button would be cut off, or the list stop making sense.
    setMinimumSize(qMax(LIST_WIDTH + 120, panTools->minimumSizeHint().width()),
                   ToolsHeight_(panTools) + StatusHeight_(panStatus) + 80 + menuBar()->sizeHint().height());
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    previousView_ = SetStoreView(this);
    DriveUseSetReloadHook(&ReloadFromDrive_);
}

TfrmMain::~TfrmMain()
{
    qApp->removeEventFilter(this);
    if (&StoreViewGet() == this) SetStoreView(previousView_);
    StopAnimation_();
    Preview_Done(preview);
}

void TfrmMain::setupUi_()
{
    TRACE("wMain.TfrmMain.setupUi_");
    client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);

    panTools = new QFrame(client);
    panTools->setObjectName(QStringLiteral("panTools"));
    panTools->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panTools->setLineWidth(1);

    struct ButtonDef {
        QToolButton** member;
        const char* name;
        const char* caption;
        int glyph;
    };
    const ButtonDef defs[] = {
        {&btnAdd, "btnAdd", "Add", G_ADD},           {&btnGallery, "btnGallery", "Open Gal.", G_GALLERY},
        {&btnSet, "btnSet", "Set", G_SET},           {&btnShuffle, "btnShuffle", "Shuffle", G_SHUFFLE},
        {&btnDelete, "btnDelete", "Delete", G_DELETE}, {&btnHelp, "btnHelp", "Help", G_HELP},
        {&btnExit, "btnExit", "Exit", G_EXIT},
    };
    // 68 x 46 buttons from left 5, top 4 in the designed font; wider or taller where the caption needs it.
    auto* tools = new QHBoxLayout(panTools);
    tools->setContentsMargins(4, 3, 4, 3);
    tools->setSpacing(0);
    // The glyphs grow with the captions' font, as at 144 dpi, drawn sharp up to twice their size.
    const int iconSide = qMax(22, qRound(22 * QFontInfo(font()).pixelSize() / 12.0));
    for (const ButtonDef& d : defs) {
        auto* b = new QToolButton(panTools);
        b->setObjectName(QString::fromLatin1(d.name));
        b->setText(QString::fromLatin1(d.caption));
        b->setIcon(Glyph_(d.glyph));
        b->setIconSize(QSize(iconSide, iconSide));
        b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        b->setAutoRaise(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setMinimumSize(b->sizeHint().expandedTo(QSize(68, 46)));
        if (d.member == &btnExit) tools->addSpacing(16);
        tools->addWidget(b);
        *d.member = b;
    }
    tools->addStretch();

    lstFiles = new QListWidget(client);
    lstFiles->setObjectName(QStringLiteral("lstFiles"));
    lstFiles->setItemDelegate(new FilesDelegate_(this));
    lstFiles->setUniformItemSizes(true);
    lstFiles->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    Panel2 = new QFrame(client);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setFrameStyle(QFrame::Box | QFrame::Plain);
    Panel2->setLineWidth(1);
    Panel2->setAutoFillBackground(true);

    // The drive has its own section at the right end, so a long status text is cut at its own
    // edge instead of running under the drive.
    panStatusBar = new QWidget(client);
    panStatusBar->setObjectName(QStringLiteral("panStatusBar"));
    panStatus = new QLabel(panStatusBar);
    panStatus->setObjectName(QStringLiteral("panStatus"));
    panDrive = new QLabel(panStatusBar);
    panDrive->setObjectName(QStringLiteral("panDrive"));
    for (QLabel* l : {panStatus, panDrive}) {
        l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        l->setTextFormat(Qt::PlainText);
        l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        l->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }

    animTimer_ = new QTimer(this);
    animTimer_->setObjectName(QStringLiteral("animTimer"));
    animTimer_->setInterval(ANIM_INTERVAL_MS);

    setAcceptDrops(true);
    client->installEventFilter(this);
    qApp->installEventFilter(this);  // key preview: the window sees every key first
}

void TfrmMain::createMenu_()
{
    TRACE("wMain.TfrmMain.createMenu_");
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    auto item = [this](QMenu* menu, QAction*& member, const char* name, const char* caption,
                       const QKeySequence& key = QKeySequence()) {
        member = menu->addAction(QString::fromUtf8(caption));
        member->setObjectName(QString::fromLatin1(name));
        if (!key.isEmpty()) member->setShortcut(key);
        member->setShortcutContext(Qt::WindowShortcut);
    };
    mnuImage = bar->addMenu(QStringLiteral("&Image"));
    mnuImage->setObjectName(QStringLiteral("mnuImage"));
    item(mnuImage, Add1, "Add1", "Add...", QKeySequence(Qt::Key_A));
    item(mnuImage, Delete1, "Delete1", "Delete...", QKeySequence(Qt::Key_Delete));
    item(mnuImage, Rename1, "Rename1", "Rename...", QKeySequence(Qt::Key_R));
    item(mnuImage, mnuProps, "mnuProps", "Choose Position...", QKeySequence(Qt::Key_P));
    mnuImage->addSeparator();
    item(mnuImage, ChangePrefix1, "ChangePrefix1", "Change Prefix...");
    mnuImage->addSeparator();
    item(mnuImage, Set1, "Set1", "Set as Logo...");
    Set1->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
    item(mnuImage, Shuffle1, "Shuffle1", "Shuffle");
    mnuImage->addSeparator();
    // The desktop's usual Quit and Open keys as well: the described keys name neither command.
    item(mnuImage, Exit1, "Exit1", "Exit", QKeySequence(QKeySequence::Quit));

    mnuGallery = bar->addMenu(QStringLiteral("&Gallery"));
    mnuGallery->setObjectName(QStringLiteral("mnuGallery"));
    item(mnuGallery, mnuGalAdd, "mnuGalAdd", "&Open...", QKeySequence(QKeySequence::Open));
    mnuGallery->addSeparator();
    item(mnuGallery, mnuGalCreate, "mnuGalCreate", "&Create...");

    mnuView = bar->addMenu(QStringLiteral("&View"));
    mnuView->setObjectName(QStringLiteral("mnuView"));
    item(mnuView, mnuViewStartup, "mnuViewStartup", "Current \"Startup\" Logo");
    item(mnuView, mnuViewWait, "mnuViewWait", "Current \"Wait\" Logo");
    item(mnuView, mnuViewTurnOff, "mnuViewTurnOff", "Current \"Turn Off\" Logo");
    item(mnuView, mnuAnimate, "mnuAnimate", "Animate \"Startup\" Logo Band");
    mnuAnimate->setCheckable(true);
    mnuAnimate->setChecked(true);  // the band moves as Windows moves it, unless switched off
    item(mnuView, mnuPreviewLogo, "mnuPreviewLogo", "Preview as Logo");
    mnuView->addSeparator();
    item(mnuView, RefreshList1, "RefreshList1", "Refresh List", QKeySequence(Qt::Key_F5));

    mnuDrive = bar->addMenu(QStringLiteral("&Drive"));
    mnuDrive->setObjectName(QStringLiteral("mnuDrive"));
    item(mnuDrive, mnuChooseDrive, "mnuChooseDrive", "Choose Drive...", QKeySequence(Qt::CTRL | Qt::Key_D));
    mnuTools = bar->addMenu(QStringLiteral("&Tools"));
    mnuTools->setObjectName(QStringLiteral("mnuTools"));
    item(mnuTools, mnuOptions, "mnuOptions", "Options/Messages...");
    mnuTools->addSeparator();
    item(mnuTools, mnuSpecialFolders, "mnuSpecialFolders", "System Files...");
    mnuTools->addSeparator();
    item(mnuTools, mnuRestoreOriginal, "mnuRestoreOriginal", "Restore Original Logos...");

    mnuHelp = bar->addMenu(QStringLiteral("&Help"));
    mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
    item(mnuHelp, mnuManual, "mnuManual", "Short Manual", QKeySequence(Qt::Key_F1));
    item(mnuHelp, mnuFAQ, "mnuFAQ", "Frequently Asked Questions");
    mnuHelp->addSeparator();
    item(mnuHelp, mnuDebugInfo, "mnuDebugInfo", "Debug Info...");
    mnuHelp->addSeparator();
    item(mnuHelp, btnAbout, "btnAbout", "About...");
}

void TfrmMain::wireSignals_()
{
    TRACE("wMain.TfrmMain.wireSignals_");
    connect(btnAdd, &QToolButton::clicked, this, &TfrmMain::btnAddClick);
    connect(btnGallery, &QToolButton::clicked, this, &TfrmMain::mnuGalOpenClick);
    connect(btnSet, &QToolButton::clicked, this, &TfrmMain::btnSetClick);
    connect(btnShuffle, &QToolButton::clicked, this, &TfrmMain::btnShuffleClick);
    connect(btnDelete, &QToolButton::clicked, this, &TfrmMain::btnDelClick);
    connect(btnHelp, &QToolButton::clicked, this, &TfrmMain::mnuManualClick);
    connect(btnExit, &QToolButton::clicked, this, &TfrmMain::btnExitClick);

    connect(Add1, &QAction::triggered, this, &TfrmMain::btnAddClick);
    connect(Delete1, &QAction::triggered, this, &TfrmMain::btnDelClick);
    connect(Rename1, &QAction::triggered, this, &TfrmMain::Rename1Click);
    connect(mnuProps, &QAction::triggered, this, &TfrmMain::mnuPropsClick);
    connect(ChangePrefix1, &QAction::triggered, this, &TfrmMain::ChangePrefix1Click);
    connect(Set1, &QAction::triggered, this, &TfrmMain::btnSetClick);
    connect(Shuffle1, &QAction::triggered, this, &TfrmMain::btnShuffleClick);
    connect(Exit1, &QAction::triggered, this, &TfrmMain::btnExitClick);
    connect(mnuGalAdd, &QAction::triggered, this, &TfrmMain::mnuGalOpenClick);
    connect(mnuGalCreate, &QAction::triggered, this, &TfrmMain::mnuGalCreateClick);
    connect(mnuViewStartup, &QAction::triggered, this, &TfrmMain::mnuViewStartupClick);
    connect(mnuViewWait, &QAction::triggered, this, &TfrmMain::mnuViewWaitClick);
    connect(mnuViewTurnOff, &QAction::triggered, this, &TfrmMain::mnuViewTurnOffClick);
    connect(mnuAnimate, &QAction::triggered, this, &TfrmMain::mnuAnimateClick);
    connect(mnuPreviewLogo, &QAction::triggered, this, &TfrmMain::mnuPreviewLogoClick);
    connect(RefreshList1, &QAction::triggered, this, &TfrmMain::RefreshList1Click);
    connect(mnuOptions, &QAction::triggered, this, &TfrmMain::mnuOptionsClick);
    connect(mnuSpecialFolders, &QAction::triggered, this, &TfrmMain::mnuSpecialFoldersClick);
    connect(mnuChooseDrive, &QAction::triggered, this, &TfrmMain::mnuChooseDriveClick);
    connect(mnuRestoreOriginal, &QAction::triggered, this, &TfrmMain::mnuRestoreOriginalClick);
    connect(mnuManual, &QAction::triggered, this, &TfrmMain::mnuManualClick);
    connect(mnuFAQ, &QAction::triggered, this, &TfrmMain::mnuFAQClick);
    connect(mnuDebugInfo, &QAction::triggered, this, &TfrmMain::mnuDebugInfoClick);
    connect(btnAbout, &QAction::triggered, this, &TfrmMain::btnAboutClick);

    connect(lstFiles, &QListWidget::currentRowChanged, this, &TfrmMain::lstFilesClick);
    connect(lstFiles, &QListWidget::itemClicked, this, &TfrmMain::lstFilesClick);
    connect(animTimer_, &QTimer::timeout, this, [this] {
        if (!AnimateTick()) StopAnimation_();
    });
}

// ====================================================================== geometry

void TfrmMain::layoutControls_()
{
    const int w = client->width(), h = client->height();
    const int toolsHeight = ToolsHeight_(panTools), statusHeight = StatusHeight_(panStatus);
    panTools->setGeometry(0, 0, w, toolsHeight);
    panStatusBar->setGeometry(0, h - statusHeight, w, statusHeight);
    fitDriveSection_();
    const int listHeight = qMax(0, h - toolsHeight - statusHeight);
    lstFiles->setGeometry(0, toolsHeight, LIST_WIDTH, listHeight);
    // The picture area fills the rest right of the list.
    Panel2->setGeometry(LIST_WIDTH + 2, toolsHeight, qMax(0, w - LIST_WIDTH - 3), listHeight);
}

// The drive section takes what its text needs, at most two fifths of the line, and elides the
// middle of a long path; the status text keeps the rest, cut at its own edge.
void TfrmMain::fitDriveSection_()
{
    const QString full = panDrive->toolTip();
    const int pad = 2 * panDrive->frameWidth() + 2 * panDrive->margin() + 8;
    const QFontMetrics fm = panDrive->fontMetrics();
    const int w = panStatusBar->width(), h = panStatusBar->height();
    const int driveWidth = qMax(0, qMin(fm.horizontalAdvance(full) + pad, w * 2 / 5));
    panDrive->setGeometry(w - driveWidth, 0, driveWidth, h);
    panStatus->setGeometry(0, 0, qMax(0, w - driveWidth - 2), h);
    panDrive->setText(fm.elidedText(full, Qt::ElideMiddle, qMax(0, driveWidth - pad)));
}

void TfrmMain::FormResize()
{
    TRACE("wMain.TfrmMain.FormResize");
    layoutControls_();
    if (Starting) return;
    ShowCurrentImage();
}

// ====================================================================== window operations

int TfrmMain::SelectedCount()
{
    TRACE("wMain.TfrmMain.SelectedCount");
    int n = 0;
    for (int i = 0; i < lstFiles->count(); i++)
        if (lstFiles->item(i)->isSelected()) n++;
    return n;
}

bool TfrmMain::IsHighlighted(int row)
{
    TRACE("wMain.TfrmMain.IsHighlighted");
    if (row < 0 || row >= lstFiles->count()) return false;
    return lstFiles->item(row)->isSelected();
}

int32_t TfrmMain::CurrentRow()
{
    TRACE("wMain.TfrmMain.CurrentRow");
    const int row = lstFiles->currentRow();
    if (lstFiles->count() == 0 || row < 0 || row >= lstFiles->count()) return Undef;
    return row;
}

std::string TfrmMain::CurrentName()
{
    TRACE("wMain.TfrmMain.CurrentName");
    const int32_t row = CurrentRow();
    if (row == Undef || row >= ImageListCount(Images)) return std::string();
    return EntryName(*Images->Items[row]);
}

std::vector<std::string> TfrmMain::HighlightedNames()
{
    TRACE("wMain.TfrmMain.HighlightedNames");
    std::vector<std::string> names;
    const int n = qMin(lstFiles->count(), ImageListCount(Images));
    for (int i = 0; i < n; i++)
        if (lstFiles->item(i)->isSelected()) names.push_back(EntryName(*Images->Items[i]));
    return names;
}

void TfrmMain::SelectRow(int row)
{
    TRACE("wMain.TfrmMain.SelectRow");
    if (row < 0 || row >= ImageListCount(Images) || row >= lstFiles->count()) return;
    {
        // One image load per selection: the list's own change signal stays quiet here.
        const QSignalBlocker block(lstFiles);
        lstFiles->setFocus();
        const int current = lstFiles->currentRow();
        if (current >= 0 && current < lstFiles->count()) lstFiles->item(current)->setSelected(false);
        lstFiles->item(row)->setSelected(true);
        lstFiles->selectionModel()->setCurrentIndex(lstFiles->model()->index(row, 0), QItemSelectionModel::NoUpdate);
        lstFiles->scrollToItem(lstFiles->item(row));
    }
    lstFiles->viewport()->update();
    ShowCurrentImage();
}

void TfrmMain::SelectImageByName(const std::string& name)
{
    TRACE("wMain.TfrmMain.SelectImageByName");
    const int32_t i = ImageListFind(Images, name);
    SelectRow(i == Undef ? 0 : i);
}

void TfrmMain::ShowStatus(const std::string& text, bool bold)
{
    TRACE("wMain.TfrmMain.ShowStatus");
    QFont f = panStatus->font();
    f.setBold(bold);
    panStatus->setFont(f);
    panStatus->setText(QString::fromLocal8Bit(" " + text));
    QCoreApplication::processEvents();
}

void TfrmMain::ShowImageCount()
{
    TRACE("wMain.TfrmMain.ShowImageCount");
    const int n = ImageListCount(Images);
    const double mb = ImageListTotalSize(Images) / 1048576.0;
    char size[64];
    std::snprintf(size, sizeof size, "%.1f", mb);
    // A few small pictures are not nothing.
    const std::string shown = mb > 0 && mb < 0.05 ? std::string("under 0.1") : std::string(size);
    ShowStatus(std::to_string(n) + " image" + (n == 1 ? "" : "s") + " (total size: " + shown + " MB)", false);
    panDrive->setToolTip(QString::fromLocal8Bit("Drive: " + DriveUseText()));
    fitDriveSection_();
}

void TfrmMain::SetBusy(bool on)
{
    TRACE("wMain.TfrmMain.SetBusy");
    if (on != busy_) {
        if (on) QApplication::setOverrideCursor(Qt::WaitCursor);
        else QApplication::restoreOverrideCursor();
    }
    busy_ = on;
    for (QToolButton* b : {btnAdd, btnGallery, btnSet, btnShuffle, btnDelete, btnHelp, btnExit})
        b->setEnabled(!on);
    for (QAction* title : menuBar()->actions()) {
        title->setEnabled(!on);
        if (QMenu* m = title->menu())
            for (QAction* a : m->actions()) a->setEnabled(!on);
    }
}

void TfrmMain::RefreshList(bool show)
{
    TRACE("wMain.TfrmMain.RefreshList");
    const bool wasUpdating = Updating;
    Updating = true;
    MonBlockTransparent([&] {
        int32_t remembered = CurrentRow();
        lstFiles->setUpdatesEnabled(false);
        const int n = ImageListCount(Images);
        {
            const QSignalBlocker block(lstFiles);
            for (int j = 0; j < n; j++) {
                const QString name = QString::fromLocal8Bit(EntryName(*Images->Items[j]));
                if (j < lstFiles->count()) {
                    QListWidgetItem* it = lstFiles->item(j);
                    // Another image in this row: it was not the one the user highlighted.
                    if (it->text() != name) {
                        it->setText(name);
                        it->setToolTip(name);  // the whole name where the column cuts it short
                        it->setSelected(false);
                    }
                } else {
                    lstFiles->addItem(name);
                    lstFiles->item(j)->setToolTip(name);
                }
            }
            while (lstFiles->count() > n) delete lstFiles->takeItem(lstFiles->count() - 1);
        }
        lstFiles->setUpdatesEnabled(true);
        lstFiles->viewport()->update();
        ShowImageCount();
        if (remembered == Undef) remembered = -1;
        if (remembered > n - 1) remembered = n - 1;
        if (remembered >= 0) SelectRow(remembered);
        if (show) {
            ShowStoredImage(CurrentName());
            ShowImageCount();
        }
    });
    MonClearError();
    Updating = wasUpdating;
}

void TfrmMain::ShowCurrentImage()
{
    TRACE("wMain.TfrmMain.ShowCurrentImage");
    if (Starting || Updating) return;
    ShowStoredImage(CurrentName());
    ShowImageCount();
}

void TfrmMain::ShowStoredImage(const std::string& name)
{
    TRACE("wMain.TfrmMain.ShowStoredImage");
    const bool wasUpdating = Updating;
    Updating = true;
    StopAnimation_();
    previewingLogo_ = false;
    Image img;
    bool shown = false;
    if (!name.empty()) {
        MonBlockTransparent([&] {
            if (LoadStoredImage(GetStorageDir() + name, img)) {
                ShowLogo_(img, StoredBand_(name));
                shown = true;
            }
        });
        shown = shown && MonOK();
        MonClearError();
    }
    if (!shown) Preview_Clear(preview);
    ImgFree(img);
    Updating = wasUpdating;
}

void TfrmMain::ShowLogoFile(int position)
{
    TRACE("wMain.TfrmMain.ShowLogoFile");
    const bool wasUpdating = Updating;
    Updating = true;
    StopAnimation_();
    Image img;
    bool shown = false;
    const std::string path = GetLogoFileName(position);
    MonBlockTransparent([&] {
        ImgLoad(path, img, FMT_BMP);
        const int32_t start = position == POS_STARTUP ? ReadLogoAnimStart(path) : Undef;
        ShowLogo_(img, start == Undef ? -1 : start);
        shown = true;
    });
    shown = shown && MonOK();
    MonClearError();
    if (!shown) Preview_Clear(preview);
    ImgFree(img);
    Updating = wasUpdating;
}

void TfrmMain::ReloadStore()
{
    TRACE("wMain.TfrmMain.ReloadStore");
    StoreReload();
    RefreshList(true);
}

void TfrmMain::SetPositions(int mask)
{
    TRACE("wMain.TfrmMain.SetPositions");
    if (Updating) return;
    Updating = true;
    Outcome o;
    if (SelectedCount() > 0) Command_([&] { o = StorePositions(HighlightedNames(), mask); });
    RefreshList(false);
    Updating = false;
    OutcomeShow(o);
    if (o.StoreChanged) OutcomeShow(AutoChangeCatchUp());
}

void TfrmMain::ShowOutcome(const Outcome& o, bool resultInStatus)
{
    TRACE("wMain.TfrmMain.ShowOutcome");
    if (o.StoreChanged) {
        RefreshList(false);
        if (!o.Select.empty()) SelectImageByName(o.Select);
        // The sets the automatic change prepared follow the store.
        OutcomeShow(AutoChangeCatchUp());
    }
    for (const std::string& e : o.Errors) Ui().ErrorBox(e);
    for (const std::string& w : o.Warnings) Ui().WarningBox(w);
    if (!resultInStatus && !o.Result.empty()) Ui().InfoBox(o.Result);
    // The progress of the finished operation must not stay in the status line.
    if (resultInStatus && OutcomeOk(o) && !o.Result.empty()) ShowStatus(o.Result, true);
    else if (resultInStatus && OutcomeOk(o) && !o.Skipped.empty()) ShowStatus(o.Skipped.front(), true);
    else ShowImageCount();
}

int TfrmMain::HighlightedPositions()
{
    TRACE("wMain.TfrmMain.HighlightedPositions");
    return StoreHighlightedPositions(HighlightedNames());
}

// ====================================================================== start-up steps

void TfrmMain::SetUpWindow()
{
    TRACE("wMain.TfrmMain.SetUpWindow");
    QCoreApplication::setApplicationName(QString::fromLatin1(APP_TITLE));
    setWindowTitle(QString::fromLatin1(APP_TITLE) + QLatin1Char(' ') + QString::fromLatin1(APP_VERSION));
    lstFiles->setSelectionMode(QAbstractItemView::ExtendedSelection);
    panTools->setToolTip(QString());
    RowWidth = -1;
    if (!preview.display) {
        Preview_Init(preview, Panel2, 2);
        Preview_SetColor(preview, Panel2->palette().color(QPalette::Window));
    }
}

void TfrmMain::HideForCommandLine()
{
    TRACE("wMain.TfrmMain.HideForCommandLine");
    setWindowState(windowState() | Qt::WindowMinimized);
    hide();
}

void TfrmMain::RequestTerminate()
{
    TRACE("wMain.TfrmMain.RequestTerminate");
    close();
    QCoreApplication::quit();
}

void TfrmMain::SetHints()
{
    TRACE("wMain.TfrmMain.SetHints");
    SetHint(btnAdd, "Add new images to the list");
    SetHint(btnGallery, "Add images from a gallery");
    SetHint(btnSet, "Set currently displayed image as the logo");
    SetHint(btnShuffle, "Set random logos");
    SetHint(btnDelete, "Delete selected logos");
    SetHint(btnHelp, "Short manual");
    SetHint(btnExit, "Close this application");
}

void TfrmMain::ReleasePreview()
{
    TRACE("wMain.TfrmMain.ReleasePreview");
    StopAnimation_();
    Preview_Done(preview);
}

// ====================================================================== list drawing

int TfrmMain::lstFilesMeasureItem() const
{
    // The base item height is the font's; the system font may be taller than the designed 13.
    return qMax(13, lstFiles->fontMetrics().height()) + 4;
}

QColor TfrmMain::SeparatorColor(const QColor& background)
{
    return QColor(qMax(0, background.red() - 32), qMax(0, background.green() - 32), qMax(0, background.blue() - 32));
}

std::vector<TfrmMain::RowCell> TfrmMain::RowCells(int row, const QRect& rect)
{
    std::vector<RowCell> cells;
    if (Starting || row < 0 || row >= lstFiles->count() || row >= ImageListCount(Images)) return cells;
    const int right = rect.left() + rect.width();
    if (RowWidth < 0 || right < RowWidth) RowWidth = right;
    const int w = RowWidth;
    const int t = w / 3;
    const int c = t / 3;
    const int n = w - t;
    const int top = rect.top(), h = rect.height();
    const QString text = lstFiles->item(row)->text();
    cells.push_back({QRect(rect.left(), top, n - rect.left(), h), text.left(qMax(0, int(text.size()) - 4))});
    const int mask = Images->Items[row]->Positions;
    const int x1 = n + 1, r1 = x1 + c;
    const int x2 = r1 + 1, r2 = x2 + c;
    const int x3 = r2 + 1, r3 = w;
    cells.push_back({QRect(x1, top, r1 - x1, h), (mask & 1) ? QStringLiteral("start") : QStringLiteral("-")});
    cells.push_back({QRect(x2, top, r2 - x2, h), (mask & 2) ? QStringLiteral("wait") : QStringLiteral("-")});
    cells.push_back({QRect(x3, top, r3 - x3, h), (mask & 4) ? QStringLiteral("off") : QStringLiteral("-")});
    // Each text fits its column (with a pixel either side); a long name ends in "...".
    const QFontMetrics fm = lstFiles->fontMetrics();
    for (RowCell& cell : cells) cell.text = fm.elidedText(cell.text, Qt::ElideRight, qMax(0, cell.rect.width() - 2));
    return cells;
}

void TfrmMain::lstFilesDrawItem(QPainter& dc, int row, const QRect& rect, bool highlighted, bool focused)
{
    const QPalette pal = lstFiles->palette();
    const QBrush brush = highlighted ? pal.highlight() : pal.base();
    const QColor textColor = highlighted ? pal.color(QPalette::HighlightedText) : pal.color(QPalette::Text);
    dc.save();
    dc.setFont(lstFiles->font());
    dc.fillRect(rect, brush);
    const std::vector<RowCell> cells = RowCells(row, rect);
    if (!cells.empty()) {
        dc.setPen(textColor);
        const int textHeight = dc.fontMetrics().height();
        // Text at (left + 1, top) as designed, centred in the taller rows the system font gives.
        const int dy = qMax(0, (rect.height() - 1 - textHeight) / 2);
        for (const RowCell& cell : cells) {
            dc.fillRect(cell.rect, brush);
            // Clipped to its column: nothing reaches the gaps between the columns.
            dc.drawText(QRect(cell.rect.left() + 1, cell.rect.top() + dy, qMax(0, cell.rect.width() - 1), textHeight),
                        Qt::AlignLeft | Qt::AlignTop, cell.text);
        }
        dc.setPen(SeparatorColor(palette().color(QPalette::Window)));
        const int bottom = rect.top() + rect.height();
        dc.drawLine(rect.left(), bottom - 1, RowWidth, bottom - 1);
        if (focused) {
            // A dotted frame of the text colour, as the system list draws it; the style's own
            // focus frame shows only after keyboard use.
            dc.setPen(QPen(textColor, 1, Qt::DotLine));
            dc.setBrush(Qt::NoBrush);
            dc.drawRect(QRect(rect.left(), rect.top(), RowWidth - rect.left() - 1, rect.height() - 2));
        }
    }
    dc.restore();
}

// ====================================================================== events

void TfrmMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (shown_) return;
    shown_ = true;
    if (runStartUp_) FormShow();
}

void TfrmMain::FormShow()
{
    TRACE("wMain.TfrmMain.FormShow");
    RunStartUp();
}

bool TfrmMain::RunStartUp()
{
    TRACE("wMain.TfrmMain.RunStartUp");
    bool ran = false;
    try {
        ran = StartUp(this);
        // The first row was selected while starting, when nothing is shown: show it now.
        if (!ran) ShowCurrentImage();
    } catch (const std::exception& e) {
        MonClearError();
        Ui().ErrorBox(e.what());
    }
    if (!ran && !Starting) OfferDrives_();
    return ran;
}

void TfrmMain::closeEvent(QCloseEvent* event)
{
    TRACE("wMain.TfrmMain.FormClose");
    // Closing in the middle of a batch would free the store under the running command.
    if (busy_) {
        event->ignore();
        return;
    }
    try {
        RequestShutDown(this);
    } catch (const std::exception& e) {
        MonClearError();
        Ui().ErrorBox(e.what());
    }
    event->accept();
}

bool TfrmMain::FormKeyDown(int key)
{
    TRACE("wMain.TfrmMain.FormKeyDown");
    if (key == Qt::Key_Escape) {
        OverwriteChoice = OC_ABORT;
        return true;
    }
    int bit = 0;
    if (key == Qt::Key_F6) bit = 1;
    else if (key == Qt::Key_F7) bit = 2;
    else if (key == Qt::Key_F8) bit = 4;
    if (bit == 0) return false;
    if (CurrentRow() != Undef) SetPositions(bit ^ HighlightedPositions());
    return true;
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == client && event->type() == QEvent::Resize) {
        FormResize();
        return false;
    }
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
        auto* w = static_cast<QWidget*>(watched);
        // Only keys meant for this window; dialogs and menus are windows of their own.
        if (w == this || isAncestorOf(w)) {
            auto* ke = static_cast<QKeyEvent*>(event);
            if (FormKeyDown(ke->key())) return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TfrmMain::dragEnterEvent(QDragEnterEvent* event)
{
    if (!busy_ && !Starting && event->mimeData()->hasUrls()) {
        for (const QUrl& u : event->mimeData()->urls())
            if (u.isLocalFile()) {
                event->acceptProposedAction();
                return;
            }
    }
}

void TfrmMain::dropEvent(QDropEvent* event)
{
    std::vector<std::string> files;
    for (const QUrl& u : event->mimeData()->urls())
        if (u.isLocalFile()) files.push_back(u.toLocalFile().toLocal8Bit().toStdString());
    if (files.empty()) return;
    event->acceptProposedAction();
    // The dialogs must not run inside the drag and drop exchange.
    QTimer::singleShot(0, this, [this, files] { AddDroppedFiles(files); });
}

void TfrmMain::AddDroppedFiles(const std::vector<std::string>& files)
{
    TRACE("wMain.TfrmMain.AddDroppedFiles");
    if (busy_ || Starting || files.empty()) return;
    Command_([&] {
        if (Ui().ResizeModeDialog()) ShowOutcome(ImagesAdd(files, ResizeMode, DefPrefix, Answers()), true);
    });
}

// ====================================================================== band animation

bool TfrmMain::AnimateTick()
{
    if (animStart_ < 1 || !preview.display || !preview.display->isVisible()) return false;
    return Display_CyclePalette(preview.display, animStart_);
}

bool TfrmMain::Animating() const { return animTimer_->isActive(); }

void TfrmMain::StopAnimation_()
{
    if (animTimer_) animTimer_->stop();
    animStart_ = -1;
}

void TfrmMain::StartAnimation_(int band)
{
    animStart_ = band >= 1 && band <= 254 ? band : -1;
    // AnimDelay is the pace in milliseconds per step; 0 leaves the start-up screen's own.
    animTimer_->setInterval(AnimDelay > 0 ? AnimDelay : ANIM_INTERVAL_MS);
    if (animStart_ > 0 && mnuAnimate->isChecked()) animTimer_->start();
}

void TfrmMain::ShowLogo_(Image& img, int band)
{
    TRACE("wMain.TfrmMain.ShowLogo_");
    const bool cycles = band >= 1 && band <= 254 && img.Bpp == 8;
    // Averaging would turn the picture into true colour, leaving no palette to cycle.
    preview.smooth = !cycles;
    try {
        ImgResize(img, img, PREVIEW_WIDTH, PREVIEW_HEIGHT);
        Preview_Show(preview, img);
    } catch (...) {
        preview.smooth = true;
        throw;
    }
    preview.smooth = true;
    if (cycles) StartAnimation_(band);
}

void TfrmMain::mnuAnimateClick()
{
    TRACE("wMain.TfrmMain.mnuAnimateClick");
    if (!mnuAnimate->isChecked()) animTimer_->stop();
    else if (animStart_ > 0) animTimer_->start();
}

void TfrmMain::mnuPreviewLogoClick()
{
    TRACE("wMain.TfrmMain.mnuPreviewLogoClick");
    Command_([this] { previewAsLogo_(); });
}

void TfrmMain::previewAsLogo_()
{
    const int32_t row = CurrentRow();
    if (row == Undef || row >= ImageListCount(Images)) {
        Ui().ErrorBox("No image selected.");
        return;
    }
    const ImageEntry entry = *Images->Items[row];
    const int position = PreviewPosition_(entry.Positions);
    const bool wasUpdating = Updating;
    Updating = true;
    StopAnimation_();
    Image img;
    int32_t animStart = Undef;
    MonBlockTransparent([&] {
        LogoBuildImage(entry, position, NextMessage_(position), img, animStart);
        ShowLogo_(img, animStart == Undef ? -1 : animStart);
        previewingLogo_ = true;
    });
    ImgFree(img);
    Updating = wasUpdating;
}

bool TfrmMain::SaveScreenshot(const QString& file)
{
    TRACE("wMain.TfrmMain.SaveScreenshot");
    return grab().save(file, "PNG");
}

// ====================================================================== commands

void TfrmMain::lstFilesClick()
{
    ShowCurrentImage();
}

void TfrmMain::btnAddClick()
{
    TRACE("wMain.TfrmMain.btnAddClick");
    Command_([this] { ShowOutcome(ImagesAddAsk(), true); });
}

void TfrmMain::mnuGalOpenClick()
{
    TRACE("wMain.TfrmMain.mnuGalOpenClick");
    Command_([this] { ShowOutcome(GalleryOpenAsk(), false); });
}

void TfrmMain::mnuGalCreateClick()
{
    TRACE("wMain.TfrmMain.mnuGalCreateClick");
    Command_([this] { ShowOutcome(GalleryCreateAsk(HighlightedNames()), false); });
}

void TfrmMain::btnSetClick()
{
    TRACE("wMain.TfrmMain.btnSetClick");
    Command_([this] {
        const int32_t row = CurrentRow();
        if (row == Undef || row >= ImageListCount(Images)) {
            Ui().ErrorBox("No image selected.");
            return;
        }
        const std::string name = EntryName(*Images->Items[row]);
        const std::array<std::string, 3> proposed = LogoProposedMessages();
        SetLogoRequest req;
        req.positions = 0;
        req.explanation = SET_LOGO_EXPLANATION;
        req.message1 = proposed[0];
        req.message2 = proposed[1];
        req.message4 = proposed[2];
        if (!SetLogoDialog(req)) return;
        Ui().ProcessPendingMessages();
        Ui().SetBusy(true);
        const Outcome o = LogoSet(name, req.positions, {req.message1, req.message2, req.message4});
        Ui().SetBusy(false);
        ShowOutcome(o, true);
    });
}

void TfrmMain::btnShuffleClick()
{
    TRACE("wMain.TfrmMain.btnShuffleClick");
    Command_([this] {
        Ui().SetBusy(true);
        const Outcome o = LogoShuffle();
        Ui().SetBusy(false);
        ShowOutcome(o, true);
    });
}

void TfrmMain::btnDelClick()
{
    TRACE("wMain.TfrmMain.btnDelClick");
    Command_([this] {
        const std::vector<std::string> names = HighlightedNames();
        const int n = static_cast<int>(names.size());
        if (n == 0) return;
        const int32_t remembered = CurrentRow();
        // The question names what is highlighted, which is what gets deleted.
        const Outcome o = StoreDelete(names, Answers());
        if (o.Declined) return;
        OutcomeShow(o);
        if (OutcomeOk(o)) {
            int row = (remembered == Undef ? 0 : remembered) + 1 - n;
            RefreshList(false);
            const int last = ImageListCount(Images) - 1;
            if (row > last) row = last;
            if (row < 0) row = 0;
            SelectRow(row);
        } else {
            ReloadStore();
        }
    });
}

void TfrmMain::Rename1Click()
{
    TRACE("wMain.TfrmMain.Rename1Click");
    Command_([this] {
        const std::string current = CurrentName();
        if (current.empty()) {
            Ui().WarningBox("No image selected for renaming.");
            return;
        }
        std::string typed = StoreRenameProposal(current);
        if (!Ui().PromptText(RENAME_CAPTION, RENAME_LABEL, typed)) return;
        ShowOutcome(StoreRename(current, typed), false);
    });
}

void TfrmMain::ChangePrefix1Click()
{
    TRACE("wMain.TfrmMain.ChangePrefix1Click");
    Command_([this] {
        const std::string current = CurrentName();
        if (current.empty()) {
            Ui().WarningBox("No images selected.");
            return;
        }
        std::string typed = StorePrefixProposal(current);
        if (!Ui().PromptText(PREFIX_CAPTION, PREFIX_LABEL, typed)) return;
        ShowOutcome(StorePrefix(HighlightedNames(), typed), false);
    });
}

void TfrmMain::mnuPropsClick()
{
    TRACE("wMain.TfrmMain.mnuPropsClick");
    Command_([this] {
        int32_t mask = HighlightedPositions();
        if (LogoPosDialog(mask, POSITIONS_TEXT)) SetPositions(mask);
    });
}

void TfrmMain::mnuViewStartupClick()
{
    TRACE("wMain.TfrmMain.mnuViewStartupClick");
    ShowLogoFile(POS_STARTUP);
}

void TfrmMain::mnuViewWaitClick()
{
    TRACE("wMain.TfrmMain.mnuViewWaitClick");
    ShowLogoFile(POS_WAIT);
}

void TfrmMain::mnuViewTurnOffClick()
{
    TRACE("wMain.TfrmMain.mnuViewTurnOffClick");
    ShowLogoFile(POS_TURNOFF);
}

void TfrmMain::RefreshList1Click()
{
    TRACE("wMain.TfrmMain.RefreshList1Click");
    Command_([this] { ReloadStore(); });
}

void TfrmMain::mnuOptionsClick()
{
    TRACE("wMain.TfrmMain.mnuOptionsClick");
    Command_([this] {
        // A logo preview shows the band, message and fit the options just changed.
        if (OptionsDialog() && previewingLogo_) previewAsLogo_();
    });
}

void TfrmMain::mnuSpecialFoldersClick()
{
    TRACE("wMain.TfrmMain.mnuSpecialFoldersClick");
    ChangeDrive_([] { SystemFilesDialog(); });
}

void TfrmMain::mnuChooseDriveClick()
{
    TRACE("wMain.TfrmMain.mnuChooseDriveClick");
    DriveChoice choice;
    if (DriveChooserDialog(this, false, choice)) ChangeDrive_([&] { DriveUseSwitch(choice); });
}

void TfrmMain::OfferDrives_()
{
    TRACE("wMain.TfrmMain.OfferDrives_");
    if (DriveUseCurrent().source != "demo" || DriveListOffered()) return;
    bool usable = false;
    Command_([&usable] {
        DriveListSetOffered();
        for (const DriveFound& d : DriveListFound(true).drives) usable = usable || d.refused.empty();
    });
    DriveChoice choice;
    if (usable && DriveChooserDialog(this, true, choice) && !choice.path.empty())
        ChangeDrive_([&] { DriveUseSwitch(choice); });
}

void TfrmMain::ChangeDrive_(const std::function<void()>& change)
{
    TRACE("wMain.TfrmMain.ChangeDrive_");
    Command_([this, &change] {
        StoreWriteIndex();
        // The store follows the folders whatever the answer.
        try {
            change();
        } catch (...) {
            RefreshImageList(Images, GetStorageDir());
            RefreshList(true);
            throw;
        }
        RefreshImageList(Images, GetStorageDir());
        RefreshList(true);
    });
}

void TfrmMain::mnuRestoreOriginalClick()
{
    TRACE("wMain.TfrmMain.mnuRestoreOriginalClick");
    Command_([this] { ShowOutcome(LogoRestore(Answers()), false); });
}

void TfrmMain::mnuDebugInfoClick()
{
    TRACE("wMain.TfrmMain.mnuDebugInfoClick");
    Command_([] {
        const std::string text = DebugInfoText();
        QGuiApplication::clipboard()->setText(QString::fromLocal8Bit(text));
        Ui().InfoBox(text + "\r\n" + DEBUG_COPIED);
    });
}

void TfrmMain::mnuManualClick()
{
    TRACE("wMain.TfrmMain.mnuManualClick");
    HelpShowManual(this, std::string());
}

void TfrmMain::btnAboutClick()
{
    TRACE("wMain.TfrmMain.btnAboutClick");
    AboutDialog();
}

void TfrmMain::mnuFAQClick()
{
    TRACE("wMain.TfrmMain.mnuFAQClick");
    HelpShowManual(this, FAQ_ANCHOR);
}

void TfrmMain::btnExitClick()
{
    TRACE("wMain.TfrmMain.btnExitClick");
    if (busy_) return;
    try {
        RequestShutDown(this);
    } catch (const std::exception& e) {
        MonClearError();
        Ui().ErrorBox(e.what());
    }
}
