#include "ui/TfrmHelp.h"

#include <filesystem>
#include <functional>

#include <QDesktopServices>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTextBrowser>
#include <QTextDocument>
#include <QUrl>
#include <QVBoxLayout>

#include "base/Mon.h"
#include "base/UiServices.h"
#include "core/Outcome.h"
#include "core/ProgramDir.h"
#include "core/Settings.h"
#include "platform/Shipped.h"

namespace {

constexpr const char* MANUAL_FILE = "manual.html";

// A failure of a help command as the error box the monitor's text gives.
void Report_(const std::function<void()>& body)
{
    MonBlockTransparent(body);
    if (MonOK()) return;
    const std::string text = MonErrorText();
    MonClearError();
    Ui().ErrorBox(text);
}

bool IsFile_(const std::filesystem::path& p)
{
    std::error_code ec;
    return std::filesystem::is_regular_file(p, ec);
}

}  // namespace

TfrmHelp::TfrmHelp(QWidget* parent) : QDialog(parent)
{
    TRACE("wHelp.TfrmHelp.TfrmHelp");
    SetupUi_();
}

void TfrmHelp::SetupUi_()
{
    TRACE("wHelp.TfrmHelp.SetupUi_");
    setObjectName(QStringLiteral("frmHelp"));
    // A window of its own beside the main window, not a modal dialog.
    setWindowFlags(Qt::Window);
    setModal(false);
    txtManual = new QTextBrowser;
    txtManual->setObjectName(QStringLiteral("txtManual"));
    // Every link comes to anchorClicked: the manual's own are followed here, the rest go out.
    txtManual->setOpenLinks(false);
    // Long command examples wrap instead of widening the page past the window.
    txtManual->document()->setDefaultStyleSheet(QStringLiteral("pre { white-space: pre-wrap; }"));
    btnClose = new QPushButton(tr("Close"));
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnClose);
    auto* main = new QVBoxLayout(this);
    main->addWidget(txtManual, 1);
    main->addLayout(buttons);
    resize(720, 560);

    connect(btnClose, &QPushButton::clicked, this, &QDialog::close);
    connect(txtManual, &QTextBrowser::anchorClicked, this, &TfrmHelp::txtManualAnchorClicked);
    connect(txtManual, &QTextBrowser::sourceChanged, this,
            [this] { setWindowTitle(txtManual->documentTitle()); });
}

void TfrmHelp::ShowManual(const std::string& file, const std::string& anchor)
{
    TRACE("wHelp.TfrmHelp.ShowManual");
    QUrl url = QUrl::fromLocalFile(QString::fromStdString(file));
    if (!anchor.empty()) url.setFragment(QString::fromStdString(anchor));
    // The same page again only scrolls: setSource would not reload it.
    if (txtManual->source().adjusted(QUrl::RemoveFragment) == url.adjusted(QUrl::RemoveFragment)) {
        if (anchor.empty()) txtManual->moveCursor(QTextCursor::Start);
        else txtManual->scrollToAnchor(url.fragment());
        return;
    }
    txtManual->setSource(url);
    setWindowTitle(txtManual->documentTitle());
}

void TfrmHelp::txtManualAnchorClicked(const QUrl& url)
{
    TRACE("wHelp.TfrmHelp.txtManualAnchorClicked");
    const QUrl target = txtManual->source().resolved(url);
    const bool own = target.isLocalFile() && target.toLocalFile().endsWith(QStringLiteral(".html"));
    if (own) txtManual->setSource(target);
    else HelpOpenExternal(target);
}

std::string HelpManualFile()
{
    TRACE("wHelp.HelpManualFile");
    const std::filesystem::path own = std::filesystem::path(GetProgramDir()) / MANUAL_FILE;
    if (IsFile_(own)) return own.string();
    return ShippedFile(MANUAL_FILE);
}

void HelpShowManual(QWidget* parent, const std::string& anchor)
{
    TRACE("wHelp.HelpShowManual");
    Report_([&] {
        const std::string file = HelpManualFile();
        if (file.empty()) MonErrorMsg(OUTCOME_ERROR_CLASS, "The manual (" + std::string(MANUAL_FILE) + ") was not found in "
                                                   + GetProgramDir() + ".", __LINE__);
        auto* help = parent ? parent->findChild<TfrmHelp*>() : nullptr;
        if (!help) help = new TfrmHelp(parent);
        help->ShowManual(file, anchor);
        help->show();
        help->raise();
        help->activateWindow();
    });
}

bool HelpOpenExternal(const QUrl& url)
{
    TRACE("wHelp.HelpOpenExternal");
    bool opened = false;
    Report_([&] {
        opened = QDesktopServices::openUrl(url);
        if (!opened)
            MonErrorMsg(OUTCOME_ERROR_CLASS, "Could not open " + url.toDisplayString().toStdString() +
                                        ": no program is set up to open it.", __LINE__);
    });
    return opened;
}
