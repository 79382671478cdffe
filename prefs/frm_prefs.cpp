#include "prefs/frm_prefs.h"

#include "prefs/controls.h"
#include "prefs/input_rules.h"
#include "prefs/preference_store.h"
#include "prefs/public_strings.h"
#include "prefs/twips.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QShowEvent>

namespace prefs {

namespace {

const QString kTitle = QStringLiteral("Varnolt");
const char kTag[] = "Tag";

const QString kPathTip = QStringLiteral("Scope's destination path");
const QString kPrefixTip = QStringLiteral("filename prefix");
const QString kAfterTriggerTip = QStringLiteral("After Trigger, before saving");

QLabel* addLabel(QWidget* parent, const char* name, const QString& text, int left, int top,
                 const QString& toolTip = {}) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setToolTip(toolTip);
    label->move(twipsPoint(left, top));
    label->adjustSize();
    return label;
}

CheckBox* addCheckBox(QWidget* parent, const char* name, const QString& text, const QRect& rect,
                      const QString& toolTip = {}) {
    auto* box = new CheckBox(text, parent);
    box->setObjectName(QLatin1String(name));
    box->setToolTip(toolTip);
    box->setGeometry(rect);
    return box;
}

void setTag(QWidget* control, const QString& text) {
    control->setProperty(kTag, text);
}

QString tag(const QWidget* control) {
    return control->property(kTag).toString();
}

} // namespace

frmPrefs::frmPrefs(windowing::MessageBoxes& messageBoxes, QWidget* parent)
    : QDialog(parent), messageBoxes_(messageBoxes) {
    setObjectName(QStringLiteral("frmPrefs"));
    setWindowTitle(QStringLiteral("Varnolt v1.1 - Prefs"));
    setFixedSize(twipsSize(6015, 7065));
    useLayoutFont(*this);
    buildControls();

    connect(chkWFM_, &QCheckBox::stateChanged, this, [this] { chkWFM_Click(); });
    connect(chkASCII_, &QCheckBox::stateChanged, this, [this] { chkASCII_Click(); });
    connect(chkScreen_, &QCheckBox::stateChanged, this, [this] { chkScreen_Click(); });
    connect(chkStopAfter_, &QCheckBox::stateChanged, this, [this] { chkStopAfter_Click(); });
    connect(hsDelay_, &QScrollBar::valueChanged, this, [this] { hsDelay_Change(); });
    connect(cbOK_, &QPushButton::clicked, this, [this] { cbOK_Click(); });
    connect(cbCancel_, &QPushButton::clicked, this, [this] { cbCancel_Click(); });
    connect(cbDefault_, &QPushButton::clicked, this, [this] { cbDefault_Click(); });
    connect(cbHelp_, &QPushButton::clicked, this, [this] { cbHelp_Click(); });
    connect(cbScreenOptions_, &QPushButton::clicked, this, [this] { cbScreenOptions_Click(); });

    txtAcqLimit_->setKeyRule([this](int& code) { txtAcqLimit_KeyPress(code); });
    txtAcqLimit_->setFocusLossRule([this] { txtAcqLimit_LostFocus(); });
    txtWFMpath_->setKeyRule([this](int& code) { txtWFMpath_KeyPress(code); });
    txtWFMpath_->setFocusLossRule([this] { txtWFMpath_LostFocus(); });
    txtWFMprefix_->setKeyRule([this](int& code) { txtWFMprefix_KeyPress(code); });
    txtASCIIpath_->setKeyRule([this](int& code) { txtASCIIpath_KeyPress(code); });
    txtASCIIpath_->setFocusLossRule([this] { txtASCIIpath_LostFocus(); });
    txtASCIIprefix_->setKeyRule([this](int& code) { txtASCIIprefix_KeyPress(code); });
    txtScreenPath_->setKeyRule([this](int& code) { txtScreenPath_KeyPress(code); });
    txtScreenPath_->setFocusLossRule([this] { txtScreenPath_LostFocus(); });
    txtScreenPrefix_->setKeyRule([this](int& code) { txtScreenPrefix_KeyPress(code); });

    // The controls start out at the preference set's defaults; bring the fields in step.
    chkWFM_Click();
    chkASCII_Click();
    chkScreen_Click();
    chkStopAfter_Click();
    centreOnScreen(*this);
}

void frmPrefs::buildControls() {
    chkUseTimestamps_ =
        addCheckBox(this, "chkUseTimestamps",
                    QStringLiteral("Prefix Filenames with Date and Time (versus simple counter)"),
                    twipsRect(360, 240, 5415, 255));
    chkUseTimestamps_->setCheckState(Qt::Checked);

    Frame3_ = addFrame(this, "Frame3", QStringLiteral("After Trigger"),
                       twipsRect(240, 720, 5535, 1065), kAfterTriggerTip);
    addLabel(Frame3_, "LabelDelay", QStringLiteral("Delay"), 360, 240, kAfterTriggerTip);
    hsDelay_ = new ScrollBar(Frame3_);
    hsDelay_->setObjectName(QStringLiteral("hsDelay"));
    hsDelay_->setRange(kDelayMinimum, kDelayMaximum);
    hsDelay_->setSingleStep(1);
    hsDelay_->setPageStep(30);
    hsDelay_->setFocusPolicy(Qt::StrongFocus);
    hsDelay_->setGeometry(twipsRect(840, 240, 3495, 255));
    txtDelay_ = new QLineEdit(QStringLiteral("0 Sec."), Frame3_);
    txtDelay_->setObjectName(QStringLiteral("txtDelay"));
    txtDelay_->setToolTip(kAfterTriggerTip);
    txtDelay_->setAlignment(Qt::AlignCenter);
    txtDelay_->setReadOnly(true);
    txtDelay_->setFocusPolicy(Qt::NoFocus);
    txtDelay_->setGeometry(twipsRect(4440, 220, 840, 285));
    chkAsk_ = addCheckBox(Frame3_, "chkAsk", QStringLiteral("Ask before saving"),
                          twipsRect(360, 600, 1755, 255),
                          QStringLiteral("Ask \"Yes, No, Cancel\" before saving"));
    chkStopAfter_ =
        addCheckBox(Frame3_, "chkStopAfter", QStringLiteral("Stop after saving"),
                    twipsRect(2400, 600, 1515, 255), QStringLiteral("Automatically stop saving"));
    chkStopAfter_->setCheckState(Qt::Checked);
    txtAcqLimit_ = addControl<RuleLineEdit>(Frame3_, "txtAcqLimit", twipsRect(3960, 600, 735, 285),
                                            QStringLiteral("max number of triggers to save"));
    txtAcqLimit_->setText(QStringLiteral("10"));
    addLabel(Frame3_, "LabelTriggers", QStringLiteral("triggers"), 4800, 600);

    // The three save groups are frames without a caption; the heading check box sits on the
    // frame's top edge and paints its own background over the line.
    const QString wfmTip = QStringLiteral("Save native binary WFM files");
    Frame1_ = addFrame(this, "Frame1", QString(), twipsRect(240, 1920, 5535, 1260), wfmTip);
    chkWFM_ = addCheckBox(Frame1_, "chkWFM", QStringLiteral("Save Waveforms (as ISF files)"),
                          twipsRect(120, 0, 2655, 255), wfmTip);
    chkWFM_->setCheckState(Qt::Checked);
    addLabel(Frame1_, "LabelWFMpath", QStringLiteral("Path"), 360, 360, kPathTip);
    txtWFMpath_ =
        addControl<RuleLineEdit>(Frame1_, "txtWFMpath", twipsRect(960, 360, 4335, 285), kPathTip);
    txtWFMpath_->setText(QStringLiteral("D:\\"));
    addLabel(Frame1_, "LabelWFMprefix", QStringLiteral("Prefix"), 360, 720,
             QStringLiteral("WFM filename prefix"));
    txtWFMprefix_ = addControl<RuleLineEdit>(Frame1_, "txtWFMprefix",
                                             twipsRect(960, 720, 4335, 285), kPrefixTip);
    txtWFMprefix_->setText(QStringLiteral("my_ISFs_"));

    const QString asciiTip = QStringLiteral("Export waveforms to ASCII data");
    Frame4_ = addFrame(this, "Frame4", QString(), twipsRect(240, 3360, 5535, 1170), asciiTip);
    chkASCII_ = addCheckBox(Frame4_, "chkASCII", QStringLiteral("Save Waveforms (as CSV  files)"),
                            twipsRect(120, 0, 2745, 255), asciiTip);
    addLabel(Frame4_, "LabelASCIIpath", QStringLiteral("Path"), 360, 360, kPathTip);
    txtASCIIpath_ =
        addControl<RuleLineEdit>(Frame4_, "txtASCIIpath", twipsRect(960, 360, 3255, 285), kPathTip);
    txtASCIIpath_->setText(QStringLiteral("D:\\"));
    addLabel(Frame4_, "LabelASCIIprefix", QStringLiteral("Prefix"), 360, 795, kPrefixTip);
    txtASCIIprefix_ = addControl<RuleLineEdit>(Frame4_, "txtASCIIprefix",
                                               twipsRect(960, 720, 3255, 285), kPrefixTip);
    txtASCIIprefix_->setText(QStringLiteral("my_CSVs_"));

    const QString screenTip = QStringLiteral("Save screen image to graphics file");
    Frame2_ = addFrame(this, "Frame2", QString(), twipsRect(240, 4680, 5535, 1170), screenTip);
    chkScreen_ = addCheckBox(Frame2_, "chkScreen", QStringLiteral("Save Screen Capture"),
                             twipsRect(120, -15, 1950, 255), screenTip);
    addLabel(Frame2_, "LabelScreenPath", QStringLiteral("Path"), 360, 360, kPathTip);
    txtScreenPath_ = addControl<RuleLineEdit>(Frame2_, "txtScreenPath",
                                              twipsRect(960, 360, 3255, 285), kPathTip);
    txtScreenPath_->setText(QStringLiteral("D:\\"));
    addLabel(Frame2_, "LabelScreenPrefix", QStringLiteral("Prefix"), 360, 720, kPrefixTip);
    txtScreenPrefix_ = addControl<RuleLineEdit>(Frame2_, "txtScreenPrefix",
                                                twipsRect(960, 720, 3255, 285), kPrefixTip);
    txtScreenPrefix_->setText(QStringLiteral("my_Images_"));
    cbScreenOptions_ = addButton(Frame2_, "cbScreenOptions", QStringLiteral("Options..."),
                                 twipsRect(4440, 360, 855, 615),
                                 QStringLiteral("more options for saving image files"));
    for (CheckBox* heading : {chkWFM_, chkASCII_, chkScreen_}) {
        heading->setAutoFillBackground(true);
    }

    chkRestoreRun_ =
        addCheckBox(this, "chkRestoreRun", QStringLiteral("After Stopping, Run Continuous"),
                    twipsRect(360, 6120, 3495, 255));
    chkRestoreRun_->setCheckState(Qt::Checked);

    cbDefault_ =
        addButton(this, "cbDefault", QStringLiteral("Defaults"), twipsRect(240, 6600, 1095, 375),
                  QStringLiteral("Restore Default Prefs"));
    cbOK_ = addButton(this, "cbOK", QStringLiteral("OK"), twipsRect(1720, 6600, 1095, 375),
                      QStringLiteral("Save changes and return"));
    cbCancel_ =
        addButton(this, "cbCancel", QStringLiteral("Cancel"), twipsRect(3200, 6600, 1095, 375),
                  QStringLiteral("Undo changes and return"));
    cbHelp_ = addButton(this, "cbHelp", QStringLiteral("Help"), twipsRect(4680, 6600, 1095, 375),
                        QStringLiteral("View readme.mht file"));
    cbOK_->setDefault(true);

    const QList<QWidget*> focusOrder = {
        hsDelay_,         chkAsk_,        chkStopAfter_,     chkWFM_,
        txtWFMpath_,      txtWFMprefix_,  chkASCII_,         txtASCIIpath_,
        txtASCIIprefix_,  chkScreen_,     txtScreenPath_,    txtScreenPrefix_,
        cbScreenOptions_, cbOK_,          cbHelp_,           txtAcqLimit_,
        cbCancel_,        chkRestoreRun_, chkUseTimestamps_, cbDefault_};
    for (qsizetype i = 1; i < focusOrder.size(); ++i) {
        setTabOrder(focusOrder[i - 1], focusOrder[i]);
    }
    hsDelay_->setFocus();
}

QCheckBox* frmPrefs::chkUseTimestamps() const {
    return chkUseTimestamps_;
}
QCheckBox* frmPrefs::chkAsk() const {
    return chkAsk_;
}
QCheckBox* frmPrefs::chkStopAfter() const {
    return chkStopAfter_;
}
QLineEdit* frmPrefs::txtAcqLimit() const {
    return txtAcqLimit_;
}
QCheckBox* frmPrefs::chkWFM() const {
    return chkWFM_;
}
QLineEdit* frmPrefs::txtWFMpath() const {
    return txtWFMpath_;
}
QLineEdit* frmPrefs::txtWFMprefix() const {
    return txtWFMprefix_;
}
QCheckBox* frmPrefs::chkASCII() const {
    return chkASCII_;
}
QLineEdit* frmPrefs::txtASCIIpath() const {
    return txtASCIIpath_;
}
QLineEdit* frmPrefs::txtASCIIprefix() const {
    return txtASCIIprefix_;
}
QCheckBox* frmPrefs::chkScreen() const {
    return chkScreen_;
}
QLineEdit* frmPrefs::txtScreenPath() const {
    return txtScreenPath_;
}
QLineEdit* frmPrefs::txtScreenPrefix() const {
    return txtScreenPrefix_;
}
QCheckBox* frmPrefs::chkRestoreRun() const {
    return chkRestoreRun_;
}

void frmPrefs::update_publics() {
    WFMfspec_ = fileSpec(txtWFMpath_->text(), txtWFMprefix_->text());
    ASCIIfspec_ = fileSpec(txtASCIIpath_->text(), txtASCIIprefix_->text());
    ScreenFspec_ = fileSpec(txtScreenPath_->text(), txtScreenPrefix_->text());
}

void frmPrefs::cbDefault_Click() {
    const auto answer = messageBoxes_.show(this, kTitle, QStringLiteral("Default all prefs?"),
                                           windowing::Icon::None, windowing::Buttons::OkCancel);
    if (answer == windowing::Answer::Ok && resetToDefaults_) {
        resetToDefaults_();
    }
}

void frmPrefs::cbHelp_Click() {
    if (showHelp_) {
        showHelp_();
    }
}

void frmPrefs::cbOK_Click() {
    update_publics();
    hide();
    if (mainWindow_) {
        mainWindow_->show();
    }
}

void frmPrefs::cbScreenOptions_Click() {
    hide();
    if (screenOptions_) {
        screenOptions_->show();
    }
}

void frmPrefs::chkASCII_Click() {
    const bool on = checkValue(*chkASCII_) == 1;
    txtASCIIpath_->setEnabled(on);
    txtASCIIprefix_->setEnabled(on);
}

void frmPrefs::chkScreen_Click() {
    const bool on = checkValue(*chkScreen_) == 1;
    cbScreenOptions_->setEnabled(on);
    txtScreenPath_->setEnabled(on);
    txtScreenPrefix_->setEnabled(on);
}

void frmPrefs::chkStopAfter_Click() {
    txtAcqLimit_->setEnabled(checkValue(*chkStopAfter_) != 0);
}

void frmPrefs::chkWFM_Click() {
    const bool on = checkValue(*chkWFM_) == 1;
    txtWFMpath_->setEnabled(on);
    txtWFMprefix_->setEnabled(on);
}

void frmPrefs::cbCancel_Click() {
    restoreSnapshot();
    cbOK_Click();
}

void frmPrefs::Form_Activate() {
    chkWFM_Click();
    chkASCII_Click();
    chkScreen_Click();
    hsDelay_Change();
    takeSnapshot();
}

void frmPrefs::takeSnapshot() {
    setTag(chkASCII_, QString::number(checkValue(*chkASCII_)));
    setTag(chkAsk_, QString::number(checkValue(*chkAsk_)));
    setTag(chkScreen_, QString::number(checkValue(*chkScreen_)));
    setTag(chkStopAfter_, QString::number(checkValue(*chkStopAfter_)));
    setTag(chkWFM_, QString::number(checkValue(*chkWFM_)));
    setTag(hsDelay_, QString::number(hsDelay_->value()));
    for (QLineEdit* field :
         {static_cast<QLineEdit*>(txtAcqLimit_), txtASCIIpath(), txtASCIIprefix(), txtScreenPath(),
          txtScreenPrefix(), txtWFMpath(), txtWFMprefix()}) {
        setTag(field, field->text());
    }
    snapshotTaken_ = true;
}

void frmPrefs::restoreSnapshot() {
    if (!snapshotTaken_) {
        return;
    }
    for (CheckBox* box : {chkASCII_, chkAsk_, chkScreen_, chkStopAfter_, chkWFM_}) {
        setCheckValue(*box, tag(box).toInt());
    }
    hsDelay_->setValue(tag(hsDelay_).toInt());
    for (QLineEdit* field :
         {static_cast<QLineEdit*>(txtAcqLimit_), txtASCIIpath(), txtASCIIprefix(), txtScreenPath(),
          txtScreenPrefix(), txtWFMpath(), txtWFMprefix()}) {
        field->setText(tag(field));
    }
}

QString frmPrefs::fixPath(const QString& path) const {
    return prefs::fixPath(path);
}

void frmPrefs::hsDelay_Change() {
    txtDelay_->setText(QString::number(hsDelay_->value()) + QStringLiteral(" Sec."));
}

void frmPrefs::txtAcqLimit_KeyPress(int& KeyAscii) {
    KeyAscii = digitFilter(KeyAscii);
}

void frmPrefs::txtAcqLimit_LostFocus() {
    txtAcqLimit_->setText(normaliseLimit(txtAcqLimit_->text()));
}

void frmPrefs::txtASCIIpath_KeyPress(int& KeyAscii) {
    KeyAscii = slashConversion(KeyAscii);
}

void frmPrefs::txtASCIIpath_LostFocus() {
    txtASCIIpath_->setText(fixPath(txtASCIIpath_->text()));
}

void frmPrefs::txtASCIIprefix_KeyPress(int& KeyAscii) {
    KeyAscii = prefixFilter(KeyAscii);
}

void frmPrefs::txtScreenPath_KeyPress(int& KeyAscii) {
    KeyAscii = slashConversion(KeyAscii);
}

void frmPrefs::txtScreenPath_LostFocus() {
    txtScreenPath_->setText(fixPath(txtScreenPath_->text()));
}

// The screen-image prefix ends up in a file name on the instrument just like the other two,
// so it takes the same filter.
void frmPrefs::txtScreenPrefix_KeyPress(int& KeyAscii) {
    KeyAscii = prefixFilter(KeyAscii);
}

void frmPrefs::txtWFMpath_KeyPress(int& KeyAscii) {
    KeyAscii = slashConversion(KeyAscii);
}

void frmPrefs::txtWFMpath_LostFocus() {
    txtWFMpath_->setText(fixPath(txtWFMpath_->text()));
}

void frmPrefs::txtWFMprefix_KeyPress(int& KeyAscii) {
    KeyAscii = prefixFilter(KeyAscii);
}

void frmPrefs::Form_MouseUp(int Button) {
    messageBoxes_.show(this, kTitle, QString::number(Button), windowing::Icon::None,
                       windowing::Buttons::Ok);
}

void frmPrefs::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // A spontaneous show is the window system restoring the window, not the program showing it.
    if (!event->spontaneous()) {
        Form_Activate();
    }
}

void frmPrefs::reject() {
    if (isVisible()) {
        cbCancel_Click();
    }
}

void frmPrefs::closeEvent(QCloseEvent* event) {
    // The window holds the live preference set and is never closed: a close request from the
    // frame is a Cancel, which hides it and shows the main window again.
    if (isVisible()) {
        event->ignore();
        cbCancel_Click();
    } else {
        event->accept();
    }
}

void frmPrefs::mousePressEvent(QMouseEvent* event) {
    // Presses on a frame or a control arrive here too when that control ignores them.
    if (!childAt(event->position().toPoint())) {
        barePresses_ |= event->button();
    }
    event->accept();
}

void frmPrefs::mouseReleaseEvent(QMouseEvent* event) {
    const Qt::MouseButton button = event->button();
    event->accept();
    if (!barePresses_.testFlag(button)) {
        return;
    }
    barePresses_ &= ~Qt::MouseButtons(button);
    switch (button) {
    case Qt::LeftButton:
        Form_MouseUp(1);
        break;
    case Qt::RightButton:
        Form_MouseUp(2);
        break;
    case Qt::MiddleButton:
        Form_MouseUp(4);
        break;
    default:
        break;
    }
}

} // namespace prefs
