#include "ui/TfrmAbout.h"

#include <QApplication>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "base/Mon.h"
#include "platform/WinUtils.h"
#include "core/ProgramDir.h"
#include "core/Settings.h"

#ifndef KVS_VERSION
#error "KVS_VERSION comes from the build files"
#endif

namespace {

constexpr const char* PURPOSE =
    "Manages the pictures Windows 95 and 98 show while they start, while they shut down and when the "
    "computer may be switched off, and a collection of logo images to build them from.";
constexpr const char* LICENCE =
    "Free software under the MIT licence: free to use, change and pass on. It comes without any warranty: "
    "keep a copy of your original logo files if they matter to you.";

// Sentences wrap within TEXT_WIDTH, with the height that takes; folders stay on one line.
constexpr int TEXT_WIDTH = 420;

QLabel* NewText_(const char* name, const std::string& text, bool wrap)
{
    auto* label = NewControl<QLabel>(name, QString::fromStdString(text));
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    if (wrap) {
        label->setWordWrap(true);
        label->setMinimumWidth(TEXT_WIDTH);
        label->setMinimumHeight(label->heightForWidth(TEXT_WIDTH));
    }
    return label;
}

}  // namespace

std::string AboutVersion()
{
    return KVS_VERSION;
}

TfrmAbout::TfrmAbout(QWidget* parent) : TFormDialog(parent)
{
    TRACE("wAbout.TfrmAbout.TfrmAbout");
    SetupUi_();
}

void TfrmAbout::SetupUi_()
{
    TRACE("wAbout.TfrmAbout.SetupUi_");
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(tr("About Kelvane Studio"));
    labName = NewText_("labName", "Kelvane Studio", false);
    QFont big = labName->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.5);
    labName->setFont(big);
    labVersion = NewText_("labVersion", "Version " + AboutVersion(), false);
    labPurpose = NewText_("labPurpose", PURPOSE, true);
    labLicence = NewText_("labLicence", LICENCE, true);
    labProgramDir = NewText_("labProgramDir", GetProgramDir(), false);
    labWinDir = NewText_("labWinDir", GetWinFolder(), false);
    labDrive = NewText_("labDrive", GetWinDriveRoot(), false);
    labStorageDir = NewText_("labStorageDir", GetStorageDir(), false);
    btnOK = NewControl<QPushButton>("btnOK", tr("OK"));
    btnOK->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
    btnOK->setDefault(true);
    FitButton(btnOK, 84, 28);

    auto* folders = new QFormLayout;
    folders->setRowWrapPolicy(QFormLayout::DontWrapRows);
    folders->addRow(tr("Program folder:"), labProgramDir);
    folders->addRow(tr("Windows folder:"), labWinDir);
    folders->addRow(tr("Windows drive:"), labDrive);
    folders->addRow(tr("Storage folder:"), labStorageDir);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOK);

    auto* main = new QVBoxLayout(this);
    main->setContentsMargins(16, 12, 16, 12);
    for (QLabel* l : {labName, labVersion, labPurpose, labLicence}) main->addWidget(l);
    main->addSpacing(8);
    main->addLayout(folders);
    main->addStretch();
    main->addLayout(buttons);
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
}

void AboutDialog()
{
    TRACE("wAbout.AboutDialog");
    TfrmAbout dlg(QApplication::activeWindow());
    dlg.exec();
}
