// The main window: toolbar, the image list with the positions of each image, the preview, the
// status line and the menu bar; the window operations the core flows use (StoreView) and the
// steps of start-up and shut-down (StartUpWindow).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <QMainWindow>

#include "app/DriveUse.h"
#include "app/StartUp.h"
#include "core/Outcome.h"
#include "core/StoreView.h"
#include "ui/Preview.h"

class QAction;
class QFrame;
class QLabel;
class QListWidget;
class QMenu;
class QPainter;
class QTimer;
class QToolButton;

constexpr int PREVIEW_WIDTH = 533;
constexpr int PREVIEW_HEIGHT = 400;
// The manual's section the FAQ item opens.
constexpr const char* FAQ_ANCHOR = "faq";
constexpr const char* SET_LOGO_EXPLANATION =
    "Select one or more positions where you want to set this image. The logo will be generated immediately "
    "and you will see it on the next shut down (or startup). You can change the predefined messages just for "
    "this occasion";
constexpr const char* DEBUG_COPIED =
    "Debug information has been copied to clipboard, go to your email software (or text editor) and choose "
    "Edit / Paste.";

class TfrmMain : public QMainWindow, public StartUpWindow, public StoreView {
    Q_OBJECT
public:
    // runStartUp: the first show runs the start-up sequence (tests run it themselves).
    explicit TfrmMain(bool runStartUp = true, QWidget* parent = nullptr);
    ~TfrmMain() override;

    // ---- controls ----
    QWidget* client = nullptr;
    QFrame* panTools = nullptr;
    QToolButton *btnAdd = nullptr, *btnGallery = nullptr, *btnSet = nullptr, *btnShuffle = nullptr,
                *btnDelete = nullptr, *btnHelp = nullptr, *btnExit = nullptr;
    QListWidget* lstFiles = nullptr;
    QFrame* Panel2 = nullptr;
    QWidget* panStatusBar = nullptr;  // the status line's two sections side by side
    QLabel* panStatus = nullptr;
    QLabel* panDrive = nullptr;  // the drive worked on, elided to its section
    QMenu *mnuImage = nullptr, *mnuGallery = nullptr, *mnuView = nullptr, *mnuTools = nullptr, *mnuHelp = nullptr;
    QMenu* mnuDrive = nullptr;
    QAction* mnuChooseDrive = nullptr;
    QAction *Add1 = nullptr, *Delete1 = nullptr, *Rename1 = nullptr, *mnuProps = nullptr, *ChangePrefix1 = nullptr,
            *Set1 = nullptr, *Shuffle1 = nullptr, *Exit1 = nullptr;
    QAction *mnuGalAdd = nullptr, *mnuGalCreate = nullptr;
    QAction *mnuViewStartup = nullptr, *mnuViewWait = nullptr, *mnuViewTurnOff = nullptr, *mnuAnimate = nullptr,
            *mnuPreviewLogo = nullptr, *RefreshList1 = nullptr;
    QAction *mnuOptions = nullptr, *mnuSpecialFolders = nullptr,
            *mnuRestoreOriginal = nullptr;
    QAction *mnuManual = nullptr, *mnuFAQ = nullptr, *mnuDebugInfo = nullptr, *btnAbout = nullptr;

    // ---- window state ----
    bool Updating = false;
    int RowWidth = -1;
    Preview preview;

    // ---- window operations ----
    int SelectedCount();
    bool IsHighlighted(int row);
    int32_t CurrentRow();
    std::string CurrentName();
    void SelectRow(int row) override;
    void SelectImageByName(const std::string& name) override;
    void ShowStatus(const std::string& text, bool bold);
    void ShowImageCount();
    void SetBusy(bool on);
    bool IsBusy() const { return busy_; }
    void RefreshList(bool show) override;
    void ShowCurrentImage();
    void ShowStoredImage(const std::string& name) override;
    void ShowLogoFile(int position);
    void ReloadStore();
    void SetPositions(int mask);
    int HighlightedPositions();
    // What a command did: the list refreshed when the store changed, errors and warnings in
    // boxes, the result in the status line (resultInStatus) or a box; the status line never keeps
    // the progress of the finished command.
    void ShowOutcome(const Outcome& o, bool resultInStatus);
    // Store names of the highlighted rows, in list order.
    std::vector<std::string> HighlightedNames();

    // ---- start-up and shut-down steps ----
    // The start-up sequence of the first show, then the first image; true when a switch ran.
    bool RunStartUp();
    void SetUpWindow() override;
    void HideForCommandLine() override;
    void RequestTerminate() override;
    void RefreshList() override { RefreshList(false); }
    void SetHints() override;
    void ReleasePreview() override;

    // ---- list drawing ----
    struct RowCell {
        QRect rect;
        QString text;
    };
    // The name cell and the three position cells of row in rect (right edge exclusive, as the
    // list gives it); empty while starting or for a row beyond the store. Narrows RowWidth.
    std::vector<RowCell> RowCells(int row, const QRect& rect);
    void lstFilesDrawItem(QPainter& dc, int row, const QRect& rect, bool highlighted, bool focused);
    int lstFilesMeasureItem() const;
    // The window colour with each channel lowered by 32, not below 0.
    static QColor SeparatorColor(const QColor& background);

    // ---- extras ----
    // Dropped files go the way of "Add": resize-mode dialog, then the batch.
    void AddDroppedFiles(const std::vector<std::string>& files);
    // One step of the band animation of the shown Startup logo; false when nothing cycles.
    bool AnimateTick();
    bool Animating() const;
    int AnimStart() const { return animStart_; }
    bool SaveScreenshot(const QString& file);

public slots:
    void btnAddClick();
    void mnuGalOpenClick();
    void mnuGalCreateClick();
    void btnSetClick();
    void btnShuffleClick();
    void btnDelClick();
    void Rename1Click();
    void ChangePrefix1Click();
    void mnuPropsClick();
    void mnuViewStartupClick();
    void mnuViewWaitClick();
    void mnuViewTurnOffClick();
    void mnuAnimateClick();
    void mnuPreviewLogoClick();
    void RefreshList1Click();
    void mnuOptionsClick();
    void mnuSpecialFoldersClick();
    void mnuChooseDriveClick();
    void mnuRestoreOriginalClick();
    void mnuDebugInfoClick();
    void mnuManualClick();
    void btnAboutClick();
    void mnuFAQClick();
    void btnExitClick();
    void lstFilesClick();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void setupUi_();
    void createMenu_();
    void wireSignals_();
    void layoutControls_();
    void fitDriveSection_();
    void FormShow();
    void FormResize();
    // True when the key was one of the window's own (Escape, F6-F8).
    bool FormKeyDown(int key);
    // On the first start on the demo drive: the drives found, once.
    void OfferDrives_();
    // Runs change (which may open another drive) as a command; the store follows whatever came of it.
    void ChangeDrive_(const std::function<void()>& change);
    void StopAnimation_();
    // Cycles the band from palette entry band on (when the View item says so); -1: no band.
    void StartAnimation_(int band);
    // Shows img fitted as a logo; 8-bit pictures with a band stay 8-bit so it can cycle.
    void ShowLogo_(Image& img, int band);
    void previewAsLogo_();

    bool runStartUp_ = true;
    bool previewingLogo_ = false;  // the preview shows the current image built as a logo
    bool shown_ = false;
    bool busy_ = false;
    QTimer* animTimer_ = nullptr;
    int animStart_ = -1;
    StoreView* previousView_ = nullptr;
};
