// "Choose Resize Mode", shown before images are added: how pictures are fitted to 320 x 400 and
// the prefix of the new names. Edits the ResizeMode and DefPrefix settings.
#pragma once

#include <QDialog>
#include <QImage>

#include "ui/DialogBase.h"
#include "ui/DialogUtil.h"

class QButtonGroup;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

constexpr int RESIZE_PICTURE_WIDTH = 96;
constexpr int RESIZE_PICTURE_HEIGHT = 80;
// Small example of a resize mode (0 border, 1 crop, 2 stretch): an upright photo and what the
// 4:3 screen shows of it.
QImage ResizeModePicture(int mode);

class TfrmResize : public TFormBasic {
    Q_OBJECT
public:
    explicit TfrmResize(QWidget* parent = nullptr);

    void Fill();      // from ResizeMode and DefPrefix
    void ReadBack();  // into ResizeMode and DefPrefix

    QLabel* labTitle;
    QRadioButton* radBorder;
    QRadioButton* radCrop;
    QRadioButton* radStretch;
    QLabel* imgBorder;
    QLabel* imgCrop;
    QLabel* imgStretch;
    QLabel* memoBorder;
    QLabel* memoCrop;
    QLabel* memoStretch;
    QGroupBox* boxPrefix;
    QLineEdit* edPrefix;
    QPushButton* btnOK;
    QPushButton* btnCancel;

private:
    void SetupUi_();
    QButtonGroup* grpModes_;
};
