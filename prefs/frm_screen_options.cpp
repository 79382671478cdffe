#include "prefs/frm_screen_options.h"

#include "prefs/controls.h"
#include "prefs/preference_store.h"
#include "prefs/public_strings.h"
#include "prefs/twips.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QPushButton>
#include <QShowEvent>

namespace prefs {

namespace {

const char kTag[] = "Tag";

} // namespace

frmScreenOptions::frmScreenOptions(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmScreenOptions"));
    setWindowTitle(QStringLiteral("Varnolt v1.1 - Screen Capture Options"));
    setFixedSize(twipsSize(5025, 2280));
    useLayoutFont(*this);
    buildControls();
    connect(cbOK_, &QPushButton::clicked, this, [this] { cbOK_Click(); });
    connect(cbCancel_, &QPushButton::clicked, this, [this] { cbCancel_Click(); });
    connect(cbHelp_, &QPushButton::clicked, this, [this] { cbHelp_Click(); });
    Form_Load();
    centreOnScreen(*this);
}

void frmScreenOptions::buildControls() {
    cbOK_ = addButton(this, "cbOK", QStringLiteral("OK"), twipsRect(240, 1680, 1215, 375),
                      QStringLiteral("Save changes and return"));
    cbOK_->setDefault(true);
    cbHelp_ = addButton(this, "cbHelp", QStringLiteral("Help"), twipsRect(3360, 1680, 1215, 375),
                        QStringLiteral("View readme.mht file"));

    Frame1_ = addFrame(this, "Frame1", QStringLiteral("File Type"), twipsRect(240, 240, 1695, 1215),
                       QStringLiteral("Select file type"));
    cboFileType_ = new QComboBox(Frame1_);
    cboFileType_->setObjectName(QStringLiteral("cboFileType"));
    cboFileType_->setEditable(false);
    cboFileType_->setToolTip(QStringLiteral("Select file type"));
    cboFileType_->setGeometry(twipsRect(240, 480, 1215, 315));

    Frame2_ = addFrame(this, "Frame2", QStringLiteral("Inksaver"), twipsRect(3600, 240, 975, 1215),
                       QStringLiteral("Select color scheme"));
    optInksaverOn_ = addOption(Frame2_, "optInksaverOn", QStringLiteral("&On"),
                               twipsRect(240, 360, 615, 255), QStringLiteral("White background"));
    optInksaverOff_ =
        addOption(Frame2_, "optInksaverOff", QStringLiteral("O&ff"), twipsRect(240, 720, 615, 255),
                  QStringLiteral("Colors as shown on screen"));

    Frame3_ = addFrame(this, "Frame3", QStringLiteral("Layout"), twipsRect(2040, 240, 1455, 1215),
                       QStringLiteral("Select screen layout"));
    optLandscape_ = addOption(Frame3_, "optLandscape", QStringLiteral("&Landscape"),
                              twipsRect(120, 360, 1215, 255), QStringLiteral("Print horizontally"));
    optPortrait_ = addOption(Frame3_, "optPortrait", QStringLiteral("&Portrait"),
                             twipsRect(120, 720, 855, 255), QStringLiteral("Print vertically"));

    cbCancel_ =
        addButton(this, "cbCancel", QStringLiteral("Cancel"), twipsRect(1800, 1680, 1215, 375),
                  QStringLiteral("Undo changes and return"));

    OptionButton::makeExclusive(*optInksaverOn_, *optInksaverOff_);
    OptionButton::makeExclusive(*optLandscape_, *optPortrait_);
    optInksaverOn_->setChecked(true);
    optLandscape_->setChecked(true);

    const QList<QWidget*> focusOrder = {cbOK_,          cbHelp_,         cboFileType_,
                                        optInksaverOn_, optInksaverOff_, optLandscape_,
                                        optPortrait_,   cbCancel_};
    for (qsizetype i = 1; i < focusOrder.size(); ++i) {
        setTabOrder(focusOrder[i - 1], focusOrder[i]);
    }
    cbOK_->setFocus();
}

QRadioButton* frmScreenOptions::optInksaverOn() const {
    return optInksaverOn_;
}
QRadioButton* frmScreenOptions::optInksaverOff() const {
    return optInksaverOff_;
}
QRadioButton* frmScreenOptions::optLandscape() const {
    return optLandscape_;
}
QRadioButton* frmScreenOptions::optPortrait() const {
    return optPortrait_;
}

void frmScreenOptions::update_publics() {
    FileType_ = fileTypeCommand(cboFileType_->currentText());
    Layout_ = layoutCommand(optLandscape_->isChecked());
    InkSaver_ = inkSaverCommand(optInksaverOn_->isChecked());
}

void frmScreenOptions::cbCancel_Click() {
    if (snapshotTaken_) {
        cboFileType_->setCurrentIndex(cboFileType_->property(kTag).toString().toInt());
        for (OptionButton* option :
             {optInksaverOn_, optInksaverOff_, optLandscape_, optPortrait_}) {
            option->setChecked(*parseBooleanText(option->property(kTag).toString()));
        }
    }
    cbOK_Click();
}

void frmScreenOptions::cbHelp_Click() {
    if (showHelp_) {
        showHelp_();
    }
}

void frmScreenOptions::cbOK_Click() {
    update_publics();
    hide();
    if (prefsWindow_) {
        prefsWindow_->show();
    }
}

void frmScreenOptions::Form_Activate() {
    cboFileType_->setProperty(kTag, QString::number(cboFileType_->currentIndex()));
    for (OptionButton* option : {optInksaverOn_, optInksaverOff_, optLandscape_, optPortrait_}) {
        option->setProperty(kTag, storedText(PreferenceValue{option->isChecked()}));
    }
    snapshotTaken_ = true;
}

void frmScreenOptions::Form_Load() {
    cboFileType_->clear();
    cboFileType_->addItems(imageFileTypes());
    cboFileType_->setCurrentIndex(-1);
}

void frmScreenOptions::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // A spontaneous show is the window system restoring the window, not the program showing it.
    if (!event->spontaneous()) {
        Form_Activate();
    }
}

void frmScreenOptions::reject() {
    if (isVisible()) {
        cbCancel_Click();
    }
}

void frmScreenOptions::closeEvent(QCloseEvent* event) {
    // The window holds part of the live preference set and is never closed: a close request
    // from the frame is a Cancel, which hides it and shows the preferences window again.
    if (isVisible()) {
        event->ignore();
        cbCancel_Click();
    } else {
        event->accept();
    }
}

} // namespace prefs
