#include "app/frm_main.h"

#include "acquisition/event_pump.h"
#include "acquisition/progress_dots.h"
#include "acquisition/timed_wait.h"
#include "app/application.h"
#include "app/single_instance.h"
#include "app/window_preferences.h"
#include "instrument/instrument_search.h"
#include "prefs/frm_prefs.h"
#include "prefs/frm_screen_options.h"
#include "prefs/preference_set.h"

#include <QApplication>
#include <QCloseEvent>
#include <QIcon>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace {

// The layout is kept in twips, the unit it was drawn in; 15 twips are one pixel at 96 dpi.
constexpr int px(int twips) {
    return twips / 15;
}

QPushButton* makeButton(QWidget* parent, const char* name, const char* caption, const char* toolTip,
                        int left) {
    auto* button = new QPushButton(QString::fromLatin1(caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setToolTip(QString::fromLatin1(toolTip));
    button->setGeometry(px(left), px(0), px(615), px(375));
    return button;
}

} // namespace

frmMain::frmMain(quorix::QuorixControl& quorix, windowing::MessageBoxes& messageBoxes,
                 QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      Quorix1(quorix), messageBoxes_(messageBoxes),
      procedures_(
          quorix, [this] { return isIdle(); }, [this](double seconds) { waitSeconds(seconds); },
          [this] { addProgressDot(); }),
      clock_(std::make_shared<acquisition::SteadyClock>()) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Varnolt v1.1"));
    setFixedSize(px(2445), px(675));

    cbPrefs = makeButton(this, "cbPrefs", "Prefs", "Select what to save", 0);
    cbStart = makeButton(this, "cbStart", "Start", "Start saving", 615);
    cbStop = makeButton(this, "cbStop", "Stop", "Stop Saving", 1230);
    cbClose = makeButton(this, "cbClose", "Close", "Close and exit program", 1845);

    Text1 = new QLineEdit(QStringLiteral("Text1"), this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setToolTip(QStringLiteral("Status"));
    Text1->setGeometry(px(0), px(360), px(2415), px(285));
    Text1->setReadOnly(true);
    // Opaque, so that the repaint after every progress dot paints the status line alone and not
    // also the window and the buttons whose bottom row it overlaps.
    Text1->setAutoFillBackground(true);

    setTabOrder(cbPrefs, cbStart);
    setTabOrder(cbStart, cbStop);
    setTabOrder(cbStop, cbClose);
    setTabOrder(cbClose, Text1);

    statusPaintTimer_.setSingleShot(true);
    connect(&statusPaintTimer_, &QTimer::timeout, this,
            [this] { showStatus(StatusPaint::AtOnce); });

    connect(cbPrefs, &QPushButton::clicked, this, [this] { cbPrefs_Click(); });
    connect(cbStart, &QPushButton::clicked, this, [this] { cbStart_Click(); });
    connect(cbStop, &QPushButton::clicked, this, [this] { cbStop_Click(); });
    connect(cbClose, &QPushButton::clicked, this, [this] { cbClose_Click(); });

    qApp->installEventFilter(this);
}

frmMain::~frmMain() {
    qApp->removeEventFilter(this);
}

void frmMain::setInstanceLockPath(const QString& path) {
    instanceLockPath_ = path;
}

void frmMain::setClock(std::shared_ptr<const acquisition::MonotonicClock> clock) {
    if (clock) {
        clock_ = std::move(clock);
    }
}

void frmMain::setSettingsFilePath(const QString& path) {
    settingsFilePath_ = path;
}

void frmMain::setHelpViewerCommands(QList<launching::ViewerCommand> commands) {
    helpViewerCommands_ = std::move(commands);
    helpViewer_.reset();
}

void frmMain::setHelpFilePath(const QString& path) {
    helpFilePath_ = path;
}

void frmMain::show_help() {
    if (!helpViewer_) {
        helpViewer_ = std::make_unique<launching::HelpViewer>(helpViewerCommands_);
    }
    const auto result = helpViewer_->show(
        helpFilePath_.isEmpty() ? launching::HelpViewer::programHelpFilePath() : helpFilePath_);
    if (!result.shown) {
        QWidget* shown = QApplication::activeWindow();
        messageBoxes_.show(shown ? shown : this, QString::fromLatin1(app::ProgramTitle),
                           result.failure, windowing::Icon::None, windowing::Buttons::Ok);
    }
}

void frmMain::setLocalClock(acquisition::FileStamps::LocalClock clock) {
    fileStamps_ = acquisition::FileStamps(std::move(clock));
}

void frmMain::setProgramIcon(const QIcon& icon) {
    setWindowIcon(icon);
}

void frmMain::loadPrefs(bool reset) {
    prefs::loadPrefs(reset, *frmPrefs_, *frmScreenOptions_, *store_);
}

bool frmMain::savePrefs() {
    return prefs::savePrefs(*frmPrefs_, *frmScreenOptions_, *store_, messageBoxes_, this);
}

// The preference subsystem's start-up: both option windows, hidden, then the preference set.
void frmMain::startPreferenceSubsystem() {
    store_ = std::make_unique<prefs::PreferenceStore>(
        settingsFilePath_.isEmpty() ? prefs::PreferenceStore::defaultFilePath()
                                    : settingsFilePath_);
    frmPrefs_ = std::make_unique<prefs::frmPrefs>(messageBoxes_);
    frmScreenOptions_ = std::make_unique<prefs::frmScreenOptions>();
    frmPrefs_->setMainWindow(this);
    frmPrefs_->setScreenOptions(frmScreenOptions_.get());
    frmPrefs_->setResetToDefaults([this] { loadPrefs(true); });
    frmPrefs_->setShowHelp([this] { show_help(); });
    frmScreenOptions_->setShowHelp([this] { show_help(); });
    frmScreenOptions_->setPrefsWindow(frmPrefs_.get());
    preferences_ = std::make_unique<app::WindowPreferences>(*frmPrefs_, *frmScreenOptions_);
    acquisition::RunHost& host = *this;
    cycle_ = std::make_unique<acquisition::AcquisitionCycle>(host, *preferences_, fileStamps_);
    loadPrefs(false);
}

frmMain::LoadResult frmMain::Form_Load() {
    instanceLock_ = std::make_unique<app::SingleInstanceLock>(
        instanceLockPath_.isEmpty() ? app::SingleInstanceLock::defaultPath() : instanceLockPath_);
    if (!instanceLock_->tryAcquire()) {
        const QString failure = instanceLock_->failure();
        instanceLock_.reset();
        showMessage(failure.isEmpty() ? QStringLiteral("Varnolt is already running.") : failure);
        return LoadResult::EndProgram;
    }

    makeTopMost();
    startPreferenceSubsystem();
    setIdleButtons();

    const auto found = instrument::findInstrument(
        Quorix1, procedures_, [this](const QString& text) { setStatusText(text); });
    switch (found.outcome) {
    case instrument::SearchResult::Outcome::Ready:
        return LoadResult::Ready;
    case instrument::SearchResult::Outcome::NoResources:
        showMessage(QStringLiteral("Scope not found.  Please check Lumetra."));
        return LoadResult::EndProgram;
    case instrument::SearchResult::Outcome::NoneAccepted:
        break;
    }
    showMessage(QStringLiteral("Error writing to ") + found.text +
                QStringLiteral(".  Please check Lumetra Resource Manager."));
    return LoadResult::EndProgram;
}

void frmMain::makeTopMost() {
    // A shown window loses its native window when its flags change and must be shown again.
    const bool shown = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
    if (shown) {
        show();
    }
}

void frmMain::setIdleButtons() {
    cbStart->setEnabled(true);
    cbPrefs->setEnabled(true);
    cbClose->setEnabled(true);
    cbStop->setEnabled(false);
}

void frmMain::setRunningButtons() {
    cbStart->setEnabled(false);
    cbPrefs->setEnabled(false);
    cbClose->setEnabled(false);
    cbStop->setEnabled(true);
}

bool frmMain::isIdle() const {
    return cbStart->isEnabled();
}

void frmMain::waitSeconds(double seconds) {
    acquisition::TimedWait(
        *clock_, [this] { addProgressDot(); }, acquisition::processEventsFor)
        .waitSeconds(seconds);
}

void frmMain::addProgressDot() {
    statusText_ = acquisition::withProgressDot(statusText_);
    showStatus(StatusPaint::AtFrameRate);
    acquisition::processPendingEvents();
}

void frmMain::setStatusText(const QString& text) {
    statusText_ = text;
    showStatus(isIdle() ? StatusPaint::AtOnce : StatusPaint::AtFrameRate);
}

// A screen shows no more than one frame every 1/60 s, while the trigger wait can add dots
// many thousands of times a second and a fast instrument runs a thousand cycles a second, each
// with two phases; laying out and painting every one of them would cost more than the polls
// and saves themselves. So during a run a change reaches the status line at once when the line
// was last painted a frame ago or more, and otherwise at the end of that frame, with the text it
// has then. Once the run is over, a new text is shown at once.
void frmMain::showStatus(StatusPaint when) {
    constexpr int FrameMs = 16;
    if (when == StatusPaint::AtOnce || !statusPaintClock_.isValid() ||
        statusPaintClock_.elapsed() >= FrameMs) {
        statusPaintTimer_.stop();
        Text1->setText(statusText_);
        // The count and phase lead the text and must stay in view; setText alone would
        // scroll the line to its end.
        Text1->setCursorPosition(0);
        Text1->repaint();
        statusPaintClock_.start();
    } else if (!statusPaintTimer_.isActive()) {
        statusPaintTimer_.start(FrameMs - int(statusPaintClock_.elapsed()));
    }
}

void frmMain::sendCommand(const QString& command) {
    procedures_.sendCommand(command);
}

QString frmMain::queryInstrument(const QString& query) {
    return procedures_.queryInstrument(query);
}

void frmMain::cbPrefs_Click() {
    hide();
    frmPrefs_->show();
}

void frmMain::cbStart_Click() {
    cycle_->cbStart_Click();
}

void frmMain::cbStop_Click() {
    cycle_->cbStop_Click();
}

QString frmMain::nextFileStamp() {
    return cycle_->nextFileStamp();
}

void frmMain::cbClose_Click() {
    cbStop_Click();
    if (messageBoxes_.show(this, QString::fromLatin1(app::ProgramTitle),
                           QStringLiteral("Close program?"), windowing::Icon::None,
                           windowing::Buttons::YesNo) == windowing::Answer::No) {
        return;
    }
    savePrefs(); // tells the user itself when the store cannot be written
    endProgram();
}

void frmMain::yield() {
    acquisition::processPendingEvents();
}

void frmMain::clearLink() {
    try {
        Quorix1.Clear();
    } catch (const quorix::Error&) {
        // A link that cannot be cleared is left to the retry loops of the commands that follow.
    }
}

bool frmMain::sendCommandBounded(const QString& command, int attempts) {
    return procedures_.sendCommandBounded(command, attempts);
}

frmMain::Answer frmMain::askSaveAcquisition() {
    switch (messageBoxes_.show(this, QString::fromLatin1(app::ProgramTitle),
                               QStringLiteral("Save this Aquisition?"), windowing::Icon::None,
                               windowing::Buttons::YesNoCancel, windowing::Answer::Yes)) {
    case windowing::Answer::Yes:
        return Answer::Yes;
    case windowing::Answer::No:
        return Answer::No;
    default:
        return Answer::Cancel;
    }
}

void frmMain::warnNothingSelected() {
    messageBoxes_.show(this, QString::fromLatin1(app::ProgramTitle),
                       QStringLiteral("Nothing to selected to Save. Check Prefs"),
                       windowing::Icon::Exclamation, windowing::Buttons::Ok);
}

void frmMain::reportSaveFailure(const QString& fileName, const QString& instrumentMessage) {
    messageBoxes_.show(this, QString::fromLatin1(app::ProgramTitle),
                       QStringLiteral("The instrument did not save \"%1\".\n\nIt reported: %2\n\n"
                                      "Check the path and prefix in Prefs against the folders "
                                      "on the instrument's drive.")
                           .arg(fileName, instrumentMessage),
                       windowing::Icon::None, windowing::Buttons::Ok);
}

// The title bar's close is the Close button while idle; during a run it is refused, since a
// run ends only through Stop. Either way the window itself stays: ending the program is
// endProgram's business.
void frmMain::closeEvent(QCloseEvent* event) {
    event->ignore();
    if (isIdle() && !ending_) {
        cbClose_Click();
    }
}

void frmMain::endProgram() {
    ending_ = true;
    if (frmScreenOptions_) {
        frmScreenOptions_->hide();
    }
    if (frmPrefs_) {
        frmPrefs_->hide();
    }
    hide();
    QCoreApplication::quit();
}

void frmMain::showMessage(const QString& text) {
    messageBoxes_.show(this, QString::fromLatin1(app::ProgramTitle), text, windowing::Icon::None,
                       windowing::Buttons::Ok);
}

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show && watched == this) {
        everShown_ = true;
    } else if (event->type() == QEvent::Hide && watched->isWidgetType() &&
               static_cast<QWidget*>(watched)->isWindow()) {
        // Checked once the hand-over that hid this window has shown the next one.
        QMetaObject::invokeMethod(this, &frmMain::keepAWindowShown, Qt::QueuedConnection);
    }
    return QWidget::eventFilter(watched, event);
}

// The program must never go on running with all of its windows hidden, where nothing could
// end it: if the window the main window handed over to was closed without handing back, the
// main window comes back.
void frmMain::keepAWindowShown() {
    if (!everShown_ || ending_) {
        return;
    }
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (const QWidget* window : windows) {
        if (window->isVisible()) {
            return;
        }
    }
    show();
}
