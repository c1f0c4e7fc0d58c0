#include "app/gui/Quenda_Video_Repair_AppDelegate.h"

#include <QAbstractButton>
#include <QMetaObject>
#include <QStyle>

#include "app/gui/Formatting.h"
#include "app/gui/Manual.h"
#include "app/gui/PreviewLauncher.h"
#include "app/gui/QtDesktopServices.h"
#include "app/gui/SaveWorkflow.h"
#include "app/gui/UpdateChecker.h"
#include "foundation/FileSystem.h"
#include "foundation/Log.h"

namespace {
QString qs(const std::string& text) { return QString::fromStdString(text); }
}  // namespace

// Hands one job's reports to the controller together with the job's generation, so that the
// controller can drop what a stopped or replaced job still says on its way out.
class Quenda_Video_Repair_AppDelegate::JobRelay : public RepairFileDelegate {
 public:
  JobRelay(Quenda_Video_Repair_AppDelegate& owner, uint64_t generation) : owner_(owner), generation_(generation) {}
  void repairFileDidStartPerformingTask(const std::string& task) override { owner_.taskFromJob(generation_, task); }
  void repairFileCurrentTaskProgress(int32_t percentage) override { owner_.progressFromJob(generation_, percentage); }
  void repairFileAttribute(const std::string& key, const std::string& value) override {
    owner_.attributeFromJob(generation_, key, value);
  }
  void repairFileDidComplete() override { owner_.completeFromJob(generation_); }
  void repairFileDidFailWithError(const qvr::Error& error) override {
    qvr::log("repair failed: %s", error.toString().c_str());
    owner_.failureFromJob(generation_);
  }
  void moveBackToSelectReferenceFile() override { owner_.referenceRequestFromJob(generation_); }

 private:
  Quenda_Video_Repair_AppDelegate& owner_;
  uint64_t generation_;
};

Quenda_Video_Repair_AppDelegate::Quenda_Video_Repair_AppDelegate(qvr::PlatformServices& platform,
                                                                 qvr::EngineFactory engines, qvr::AppInfo info,
                                                                 QObject* parent)
    : QObject(parent), platform_(platform), engines_(std::move(engines)), info_(std::move(info)) {
  setInitVariables();
  ui_.build();
  errorReport_ = std::make_unique<ErrorReportWindows>(
      ErrorReportWindows::Host{ui_.window, platform_, fileClassArray_, ui_.couldntRepair,
                               [this] { return ui_.tabview->currentWidget() == ui_.page(qvr::tabs::kDetails); },
                               [this] { couldntRepairOk(nullptr); }},
      *this);
  wireActions();
  setDesktopServices(nullptr);
  elapsedTimer_.setInterval(1000);
  connect(&elapsedTimer_, &QTimer::timeout, this, [this] { elapsedTimeThread(); });
  awakeFromNib();
}

Quenda_Video_Repair_AppDelegate::~Quenda_Video_Repair_AppDelegate() {
  elapsedTimer_.stop();
  finishJob();
  // A running upload is aborted and waited for before its windows go.
  errorReport_.reset();
  // The save copy and the update check end before the windows they report to.
  saving_.reset();
  updates_.reset();
  delete ui_.window;
}

void Quenda_Video_Repair_AppDelegate::wireActions() {
  auto on = [this](QAbstractButton* button, void (Quenda_Video_Repair_AppDelegate::*action)(QObject*)) {
    connect(button, &QAbstractButton::clicked, this, [this, button, action] { (this->*action)(button); });
  };
  using C = Quenda_Video_Repair_AppDelegate;
  on(ui_.homeBtn, &C::mainScreen);
  on(ui_.helppBtn, &C::help);
  on(ui_.closeBtn, &C::closeClicked);
  on(ui_.minimizeBtn, &C::minimizeClicked);
  on(ui_.browsebutton, &C::openFinderWindow);
  on(ui_.backBtn, &C::mainScreen);
  on(ui_.repairbutton, &C::repair);
  on(ui_.selectRefFileBtn, &C::openReferenceFile);
  on(ui_.refTabBackBtn, &C::mainScreen);
  on(ui_.refTabRepairBtn, &C::repair);
  connect(ui_.repPauseBtn, &QAbstractButton::clicked, this, [this] { pauseRepairing(ui_.repPauseBtn); });
  on(ui_.repCancelBtn, &C::stopProgress);
  on(ui_.stoprepaircancelbutton, &C::stopRepairCancel);
  on(ui_.stoprepairokbutton, &C::stopRepairOk);
  on(ui_.repairAbortedOkBtn, &C::repairAbortedOk);
  on(ui_.couldNotRepairOkBtn, &C::couldntRepairOk);
  on(ui_.shareBtn, &C::openErrorReportWindow);
  on(ui_.prewTabHomeBtn, &C::mainScreen);
  on(ui_.prewBtn, &C::previewClicked);
  on(ui_.prewSaveBtn, &C::saveClicked);
  on(ui_.installVLC, &C::installVLCClicked);
  on(ui_.cancelSaveBtn, &C::stopSaving);
  on(ui_.stopsavingCancelbutton, &C::continueSaving);
  on(ui_.stopsavingOKbutton, &C::stopSavingOk);
  on(ui_.savingCompletedOK, &C::saveCompletedOk);
  // The menu's items are the senders, as a menu bar's would be.
  auto item = [this](QAction* action, void (Quenda_Video_Repair_AppDelegate::*handler)(QObject*)) {
    connect(action, &QAction::triggered, this, [this, action, handler] { (this->*handler)(action); });
  };
  item(ui_.checkForUpdatesItem, &C::checkForUpdateClicked);
  item(ui_.reportProblemItem, &C::openErrorReportWindow);
  item(ui_.helpItem, &C::help);
  item(ui_.aboutItem, &C::about);

  auto openLink = [this](const QString& address) { platform_.openURL(address.toStdString()); };
  connect(ui_.whyMovFile, &QLabel::linkActivated, this, openLink);
  connect(ui_.supportTextfield, &QLabel::linkActivated, this, openLink);

  ui_.window->shouldClose = [this] { return windowShouldClose(); };
  ui_.window->willClose = [this] { windowWillClose(); };
  ui_.window->canTakeDroppedFile = [this](const std::string& path) { return canTakeDroppedFile(path); };
  ui_.window->fileDropped = [this](const std::string& path) { chooseDamagedFile(path); };
  ui_.window->dropHighlight = [this](bool on) {
    ui_.dropZone->setProperty("active", on);
    ui_.dropZone->style()->unpolish(ui_.dropZone);
    ui_.dropZone->style()->polish(ui_.dropZone);
  };
}

// ---- start-up and reset ----

void Quenda_Video_Repair_AppDelegate::awakeFromNib() { ui_.browsebutton->setFocus(Qt::OtherFocusReason); }

bool Quenda_Video_Repair_AppDelegate::applicationWillFinishLaunching() {
  if (ui_.window->isVisible()) ui_.window->hide();
  if (platform_.runningInstanceCount(info_.bundleIdentifier) < 2) {
    ui_.window->show();
    ui_.window->raise();
    ui_.window->activateWindow();
    checkForUpdateClicked(nullptr);
    return true;
  }
  platform_.runAlert({"Alert", "Application is alredy running.", {"OK"}, qvr::AlertStyle::Informational});
  platform_.terminate();
  return false;
}

void Quenda_Video_Repair_AppDelegate::applicationDidFinishLaunching() {
  setupInitialUI();
  showTab(qvr::tabs::kMain);
}

void Quenda_Video_Repair_AppDelegate::setInitVariables() {
  corruptFilePath_.clear();
  referenceFilePath_.clear();
  aviFile_ = false;
  movFile_ = false;
  pauseSaving_ = false;
  pauseRepairing_ = false;
  savingProgress_ = false;
  stopElapsedTimeThread_ = true;
  if (saving_) saving_->reset();
  // An engine is released only once its worker has ended.
  finishJob();
  repair_.reset();
  repairAvi_.reset();
  setCurrentPerformingTask("");
  currentTaskProgress_ = 0;
  fileClassArray_.clear();
  errordelegate_ = this;
}

void Quenda_Video_Repair_AppDelegate::setupInitialUI() {
  ui_.upperBoxField->setText("Add a video file to repair");
  ui_.selectFileText->show();
  ui_.fileStatus->clear();
  ui_.fileStatus->hide();
  ui_.filePathUp->clear();
  ui_.filePathUp->hide();
  ui_.nextstepTextField->hide();
  ui_.refTabRefFilePath->clear();
  ui_.refTabRefFilePath->hide();
  ui_.homeBtn->setEnabled(false);
  ui_.backBtn->hide();
  ui_.repairbutton->hide();
  topButtonsSetEnabled(true);

  for (QLabel* field :
       {ui_.fileNamefield, ui_.sizeField, ui_.tracksField, ui_.videoCodecField, ui_.fpsField, ui_.durationField}) {
    field->clear();
  }
  if (errorReport_) errorReport_->clearFields();

  ui_.browsebutton->setFocus(Qt::OtherFocusReason);
  removeRepairedFile();
}

void Quenda_Video_Repair_AppDelegate::removeRepairedFile() {
  if (!repairedFilePath_.empty() && qvr::fs::isReadableFile(repairedFilePath_)) {
    qvr::fs::removeFile(repairedFilePath_);
  }
}

void Quenda_Video_Repair_AppDelegate::showTab(const char* identifier) {
  if (QWidget* page = ui_.page(identifier)) ui_.tabview->setCurrentWidget(page);
}

void Quenda_Video_Repair_AppDelegate::showDetailsPage() {
  const int repairingIndex = ui_.tabview->indexOf(ui_.page(qvr::tabs::kRepairing));
  ui_.tabview->setCurrentIndex(repairingIndex + 1);
}

// ---- main window actions ----

void Quenda_Video_Repair_AppDelegate::mainScreen(QObject*) {
  if (repairing_ || savingProgress_) return;
  // A stopped job may still be winding down; it must not write the file after it is deleted.
  finishJob();
  removeRepairedFile();
  setInitVariables();
  setupInitialUI();
  showTab(qvr::tabs::kMain);
}

void Quenda_Video_Repair_AppDelegate::closeClicked(QObject*) { ui_.window->close(); }

void Quenda_Video_Repair_AppDelegate::minimizeClicked(QObject*) { ui_.window->showMinimized(); }

void Quenda_Video_Repair_AppDelegate::help(QObject*) {
  if (!info_.helpLink.empty()) {
    platform_.openURL(info_.helpLink);
    return;
  }
  // Without a configured page the installed manual is the help a user can count on.
  const std::optional<std::string> page = qvr::manualPagePath(qvr::manualPageCandidates());
  const std::optional<std::string> text = page ? qvr::manualText(*page) : std::nullopt;
  if (text && platform_.showDocument("Quenda Video Repair Help", *text)) return;
  platform_.runAlert({"Help",
                      "The manual could not be shown. In a terminal, \"man quenda-video-repair\" and "
                      "\"quenda-video-repair --help\" describe the program.",
                      {"OK"},
                      qvr::AlertStyle::Informational});
}

void Quenda_Video_Repair_AppDelegate::about(QObject*) {
  const std::string text = "Version " + info_.shortVersion +
                           "\n\nRepairs damaged MOV, MP4, M4V and AVI movies.\n\n"
                           "Licence: GNU General Public License, version 2 or later.\n\n"
                           "Built with Qt " +
                           std::string(qVersion()) +
                           ", FAAD2 (AAC decoding), libxml2, libcurl, OpenSSL and nlohmann/json.";
  platform_.runAlert({"About Quenda Video Repair", text, {"OK"}, qvr::AlertStyle::Informational});
}

void Quenda_Video_Repair_AppDelegate::topButtonsSetEnabled(bool enabled) { ui_.helppBtn->setEnabled(enabled); }

bool Quenda_Video_Repair_AppDelegate::windowShouldClose() {
  if (repairing_) {
    platform_.runAlert({"Information", "Repairinig is in progress..", {"Ok"}, qvr::AlertStyle::Informational});
    return false;
  }
  if (savingProgress_) {
    platform_.runAlert({"Information", "Saving is in progress..", {"Ok"}, qvr::AlertStyle::Informational});
    return false;
  }
  return true;
}

void Quenda_Video_Repair_AppDelegate::windowWillClose() {
  elapsedTimer_.stop();
  finishJob();
  removeRepairedFile();
  platform_.terminate();
}

// ---- choosing files ----

void Quenda_Video_Repair_AppDelegate::openFinderWindow(QObject*) {
  qvr::OpenPanelOptions options;
  options.allowedFileTypes = {"mov", "mp4", "m4v", "avi"};
  options.startingFolder = platform_.homeFolder();
  options.title = "Choose the damaged video";
  const std::optional<std::string> chosen = platform_.runOpenPanel(options);
  if (!chosen) return;
  chooseDamagedFile(*chosen);
}

bool Quenda_Video_Repair_AppDelegate::canTakeDroppedFile(const std::string& path) const {
  return !repairing_ && !savingProgress_ && ui_.tabview->currentWidget() == ui_.page(qvr::tabs::kMain) &&
         qvr::isMovieExtension(qvr::fs::extensionLower(path)) && qvr::fs::isReadableFile(path);
}

bool Quenda_Video_Repair_AppDelegate::openFileFromDesktop(const std::string& path) {
  ui_.window->show();
  ui_.window->raise();
  ui_.window->activateWindow();
  if (!canTakeDroppedFile(path)) return false;
  chooseDamagedFile(path);
  return true;
}

void Quenda_Video_Repair_AppDelegate::chooseDamagedFile(const std::string& path) {
  corruptFilePath_ = path;
  referenceFilePath_ = path;
  fileClassArray_.push_back(FileClass{true, path});

  // A second choice replaces the first: a flag left from an earlier AVI would send the
  // repaired movie to the AVI preview.
  const std::string extension = qvr::fs::extensionLower(path);
  aviFile_ = false;
  movFile_ = false;
  // The start screen's invitation no longer fits once a movie is chosen, however it came.
  if (qvr::isMovieExtension(extension)) ui_.upperBoxField->setText("Repair the selected video file");
  if (extension == "avi") {
    aviFile_ = true;
    repairedFilePath_ = getRepairedFilePathFor("avi");
    ui_.fileStatus->setText("File Selected");
    ui_.filePathUp->setText(QString("Path:%1").arg(qs(path)));
    ui_.fileStatus->show();
    ui_.filePathUp->show();
    ui_.backBtn->show();
    ui_.repairbutton->show();
    ui_.repairbutton->setFocus(Qt::OtherFocusReason);
    ui_.selectFileText->hide();
  } else if (qvr::isMovFamilyExtension(extension)) {
    movFile_ = true;
    repairedFilePath_ = getRepairedFilePathFor("mov");
    showTab(qvr::tabs::kReference);
    ui_.refTabFileStatus->setText("File Selected");
    ui_.refTabCorruptPath->setText(QString("Corrupted File:%1").arg(qs(path)));
    ui_.whyMovFile->setText(getAttributedStringForLink(qs(info_.faqAddress), "Why i need to select a reference file?"));
    ui_.selectRefFileBtn->hide();
    ui_.nextstepTextField->hide();
    ui_.whyMovFile->hide();
    ui_.refTabRefFilePath->hide();
    ui_.repHealthyFilePath->hide();
    ui_.refTabRepairBtn->setEnabled(true);
    ui_.refTabRepairBtn->setFocus(Qt::OtherFocusReason);
  }
}

void Quenda_Video_Repair_AppDelegate::openReferenceFile(QObject*) {
  qvr::OpenPanelOptions options;
  options.allowedFileTypes = {"mov", "mp4", "m4v", "mts"};
  options.title = "Choose a healthy reference video";
  const std::optional<std::string> chosen = platform_.runOpenPanel(options);
  if (!chosen) return;
  referenceFilePath_ = *chosen;
  ui_.nextstepTextField->hide();
  ui_.refTabRefFilePath->setText(QString("Healthy File:%1").arg(qs(*chosen)));
  ui_.refTabRefFilePath->show();
  ui_.repHealthyFilePath->show();
  ui_.refTabRepairBtn->setEnabled(true);
  ui_.refTabRepairBtn->setFocus(Qt::OtherFocusReason);
}

// ---- the repair job ----

void Quenda_Video_Repair_AppDelegate::finishJob() {
  ++jobGeneration_;
  if (!worker_.joinable()) return;
  if (repair_) {
    repair_->setStopflag(true);
    repair_->setPauseRepairing(false);
  }
  if (repairAvi_) {
    repairAvi_->setStopflag(true);
    repairAvi_->setPauseRepairingAVI(false);
  }
  worker_.join();
}

void Quenda_Video_Repair_AppDelegate::startJob(std::function<void()> work) { worker_ = std::thread(std::move(work)); }

void Quenda_Video_Repair_AppDelegate::repair(QObject*) {
  // One job at a time: a second start while one runs is refused.
  if (repairing_) return;
  finishJob();
  repair_.reset();
  repairAvi_.reset();
  relay_.reset();
  ui_.progressbar->setValue(0);

  auto beginRepairingScreen = [this](const QString& header) {
    scanStartDate_ = QDateTime::currentDateTime();
    ui_.repairingStartTimeField->setText(scanStartDate_.toString("HH:mm:ss"));
    stopElapsedTimeThread_ = false;
    elapsedTimer_.start();
    repairing_ = true;
    ui_.animView->startAnimation();
    topButtonsSetEnabled(false);
    ui_.upperBoxField->setText(header);
    ui_.repPauseBtn->setTitle("Pause");
    ui_.repCancelBtn->setEnabled(true);
    ui_.percent->setText("0%");
  };

  if (movFile_) {
    repair_ = engines_.makeMovEngine ? engines_.makeMovEngine() : nullptr;
    if (!repair_) {
      qvr::log("the MOV/MP4 repair engine is not part of this build");
      showCouldNotRepair();
      return;
    }
    const uint64_t generation = ++jobGeneration_;
    relay_ = std::make_unique<JobRelay>(*this, generation);
    repair_->setDelegate(relay_.get());
    ui_.repFileStatus->setText("File Selected");
    ui_.repCorruptFilePath->setText(QString("Corrupted File:%1").arg(qs(corruptFilePath_)));
    ui_.repHealthyFilePath->setText(QString("Healthy File:%1").arg(qs(referenceFilePath_)));
    ui_.repHealthyFilePath->show();
    beginRepairingScreen("Repairing the video file");
    ui_.elapsedTime->setText("00:00:00");
    ui_.currentstatus->setText("Repairing...");
    showTab(qvr::tabs::kRepairing);
    qvr::MovEngine* engine = repair_.get();
    startJob([engine, reference = referenceFilePath_, corrupt = corruptFilePath_, repaired = repairedFilePath_] {
      engine->repairMOVWithRefFileAtPath(reference, corrupt, repaired);
    });
  } else if (aviFile_) {
    repairAvi_ = engines_.makeAviEngine ? engines_.makeAviEngine() : nullptr;
    if (!repairAvi_) {
      qvr::log("the AVI repair engine is not part of this build");
      showCouldNotRepair();
      return;
    }
    const uint64_t generation = ++jobGeneration_;
    relay_ = std::make_unique<JobRelay>(*this, generation);
    repairAvi_->setDelegate(relay_.get());
    if (!repairAvi_->fileValidityCheckAtPath(corruptFilePath_)) {
      platform_.runAlert({"Invalid corrupted file", "Select a movie file", {"OK"}, qvr::AlertStyle::Warning});
      return;
    }
    ui_.repFileStatus->setText("File Selected");
    ui_.repCorruptFilePath->setText(QString("Corrupted File:%1").arg(qs(corruptFilePath_)));
    ui_.repHealthyFilePath->hide();
    beginRepairingScreen("Repairing Video File");
    // The AVI path leaves these as the previous job left them; a fresh start reads better.
    ui_.elapsedTime->setText("00:00:00");
    ui_.currentstatus->clear();
    showTab(qvr::tabs::kRepairing);
    qvr::AviEngine* engine = repairAvi_.get();
    startJob([engine, corrupt = corruptFilePath_, repaired = repairedFilePath_] {
      engine->retrieveAudioVideoSamplesForFileAtPath(corrupt, repaired);
    });
  }
}

void Quenda_Video_Repair_AppDelegate::elapsedTimeThread() {
  if (!pauseRepairing_) {
    ui_.elapsedTime->setText(getTimeFormStringForInterval(
        static_cast<double>(scanStartDate_.msecsTo(QDateTime::currentDateTime())) / 1000.0));
    ui_.currentstatus->setText(qs(currentPerformingTask()));
    const int32_t progress = currentTaskProgress_;
    ui_.percent->setText(QString::asprintf("%d%%", progress));
    ui_.progressbar->setValue(std::clamp(progress, 0, 100));
  }
  if (stopElapsedTimeThread_) elapsedTimer_.stop();
}

void Quenda_Video_Repair_AppDelegate::pauseRepairing(QAbstractButton* sender) {
  QAbstractButton* button = sender ? sender : ui_.repPauseBtn;
  if (button->text() == "Pause") {
    setFlags(true);
    if (auto* titled = qobject_cast<WhiteLabelButton*>(button))
      titled->setTitle("Resume");
    else
      button->setText("Resume");
  } else {
    setFlags(false);
    if (auto* titled = qobject_cast<WhiteLabelButton*>(button))
      titled->setTitle("Pause");
    else
      button->setText("Pause");
  }
}

void Quenda_Video_Repair_AppDelegate::setFlags(bool pause) {
  if (pause) {
    ui_.animView->stopAnimation();
  } else {
    ui_.animView->startAnimation();
  }
  ui_.repCancelBtn->setEnabled(!pause);
  pauseRepairing_ = pause;
  if (movFile_) {
    if (repair_) repair_->setPauseRepairing(pause);
  } else if (aviFile_) {
    if (repairAvi_) repairAvi_->setPauseRepairingAVI(pause);
  }
}

void Quenda_Video_Repair_AppDelegate::stopProgress(QObject*) {
  setFlags(true);
  ui_.stoprepairwindow->showWindow();
}

void Quenda_Video_Repair_AppDelegate::stopRepairCancel(QObject*) {
  setFlags(false);
  ui_.stoprepairwindow->closeWindow();
}

void Quenda_Video_Repair_AppDelegate::stopRepairOk(QObject*) {
  if (movFile_) {
    if (repair_) repair_->setStopflag(true);
  } else if (repairAvi_) {
    repairAvi_->setStopflag(true);
  }
  // From here on the job's reports are stale: a stopped engine may still announce completion
  // or an error on its way out, and the user has already been told it was aborted.
  ++jobGeneration_;
  setFlags(false);
  repairing_ = false;
  stopElapsedTimeThread_ = true;
  ui_.animView->stopAnimation();
  ui_.stoprepairwindow->closeWindow();
  ui_.repairAbortedWindow->showWindow();
}

void Quenda_Video_Repair_AppDelegate::repairAbortedOk(QObject* sender) {
  ui_.repairAbortedWindow->closeWindow();
  mainScreen(sender);
}

void Quenda_Video_Repair_AppDelegate::couldntRepairOk(QObject* sender) {
  ui_.couldntRepair->closeWindow();
  mainScreen(sender);
}

void Quenda_Video_Repair_AppDelegate::repairCompleted() {
  ui_.fileNamefield->setText(qs(qvr::fs::fileName(corruptFilePath_)));
  // An engine that does not know a fact leaves it out; a dash reads better than a gap.
  for (QLabel* fact : {ui_.tracksField, ui_.videoCodecField, ui_.fpsField, ui_.durationField}) {
    if (fact->text().isEmpty()) fact->setText(QStringLiteral("\u2013"));
  }
  ui_.sizeField->setText(getFormattedStringForSize(qvr::fs::fileSize(repairedFilePath_).value_or(0)));
  ui_.upperBoxField->setText("Details of repaired video file");
  showDetailsPage();
  ui_.currentstatus->clear();
  const bool haveVlc = platform_.fullPathForApplication("VLC").has_value();
  ui_.installVLC->setVisible(!haveVlc);
  ui_.noteTxt->setVisible(!haveVlc);
  ui_.prewSaveBtn->setFocus(Qt::OtherFocusReason);
}

void Quenda_Video_Repair_AppDelegate::showCouldNotRepair() {
  repairing_ = false;
  stopElapsedTimeThread_ = true;
  ui_.animView->stopAnimation();
  ui_.currentstatus->clear();
  ui_.supportTextfield->setText(
      QString("<span style=\"font-size:13px\">Please %1 for helping you with repairing this file.</span>")
          .arg(getAttributedStringForLink(qs(info_.supportAddress), "contact support")));
  ui_.couldntRepair->showWindow();
  ui_.shareBtn->setFocus(Qt::OtherFocusReason);
}

// ---- delegate callbacks (worker thread) ----

void Quenda_Video_Repair_AppDelegate::post(uint64_t generation, std::function<void()> work) {
  QMetaObject::invokeMethod(
      this,
      [this, generation, work = std::move(work)] {
        if (isCurrent(generation)) work();
      },
      Qt::QueuedConnection);
}

void Quenda_Video_Repair_AppDelegate::taskFromJob(uint64_t generation, const std::string& task) {
  if (isCurrent(generation)) setCurrentPerformingTask(task);
}

void Quenda_Video_Repair_AppDelegate::progressFromJob(uint64_t generation, int32_t percentage) {
  if (isCurrent(generation)) currentTaskProgress_ = percentage;
}

void Quenda_Video_Repair_AppDelegate::attributeFromJob(uint64_t generation, const std::string& key,
                                                       const std::string& value) {
  if (!isCurrent(generation)) return;
  QLabel* field = nullptr;
  if (key == "track") field = ui_.tracksField;
  if (key == "duration") field = ui_.durationField;
  if (key == "video") field = ui_.videoCodecField;
  if (key == "fps") field = ui_.fpsField;
  if (!field) return;
  post(generation, [field, text = qs(value)] { field->setText(text); });
}

void Quenda_Video_Repair_AppDelegate::completeFromJob(uint64_t generation) {
  if (!isCurrent(generation)) return;
  repairing_ = false;
  stopElapsedTimeThread_ = true;
  post(generation, [this] {
    ui_.animView->stopAnimation();
    // A completion without a repaired file on disk is no success to show.
    if (qvr::fs::fileSize(repairedFilePath_).value_or(0) == 0) {
      qvr::log("the engine reported completion but %s is missing or empty", repairedFilePath_.c_str());
      showCouldNotRepair();
      return;
    }
    ui_.homeBtn->setEnabled(true);
    topButtonsSetEnabled(true);
    repairCompleted();
  });
}

void Quenda_Video_Repair_AppDelegate::failureFromJob(uint64_t generation) {
  if (!isCurrent(generation)) return;
  repairing_ = false;
  stopElapsedTimeThread_ = true;
  post(generation, [this] { showCouldNotRepair(); });
}

void Quenda_Video_Repair_AppDelegate::referenceRequestFromJob(uint64_t generation) {
  if (!isCurrent(generation)) return;
  repairing_ = false;
  stopElapsedTimeThread_ = true;
  post(generation, [this, generation] {
    // The paths are compared on the GUI thread, which alone changes them.
    if (corruptFilePath_ != referenceFilePath_) {
      failureFromJob(generation);
      return;
    }
    ui_.animView->stopAnimation();
    ui_.upperBoxField->setText("Select a healthy reference file to repair");
    showTab(qvr::tabs::kReference);
    ui_.selectRefFileBtn->show();
    ui_.nextstepTextField->show();
    ui_.whyMovFile->show();
    ui_.refTabRefFilePath->hide();
    ui_.refTabRepairBtn->setEnabled(false);
    topButtonsSetEnabled(true);
    ui_.selectRefFileBtn->setFocus(Qt::OtherFocusReason);
  });
}

void Quenda_Video_Repair_AppDelegate::repairFileDidStartPerformingTask(const std::string& task) {
  taskFromJob(jobGeneration_, task);
}
void Quenda_Video_Repair_AppDelegate::repairFileCurrentTaskProgress(int32_t percentage) {
  progressFromJob(jobGeneration_, percentage);
}
void Quenda_Video_Repair_AppDelegate::repairFileAttribute(const std::string& key, const std::string& value) {
  attributeFromJob(jobGeneration_, key, value);
}
void Quenda_Video_Repair_AppDelegate::repairFileDidComplete() { completeFromJob(jobGeneration_); }
void Quenda_Video_Repair_AppDelegate::repairFileDidFailWithError(const qvr::Error&) { failureFromJob(jobGeneration_); }
void Quenda_Video_Repair_AppDelegate::moveBackToSelectReferenceFile() { referenceRequestFromJob(jobGeneration_); }

std::string Quenda_Video_Repair_AppDelegate::currentPerformingTask() const {
  std::lock_guard<std::mutex> lock(taskMutex_);
  return currentPerformingTask_;
}

void Quenda_Video_Repair_AppDelegate::setCurrentPerformingTask(const std::string& task) {
  std::lock_guard<std::mutex> lock(taskMutex_);
  currentPerformingTask_ = task;
}

// ---- texts ----

QString Quenda_Video_Repair_AppDelegate::getTimeFormStringForInterval(double seconds) const {
  return qs(qvr::timeFormStringForInterval(seconds));
}

QString Quenda_Video_Repair_AppDelegate::getFormattedStringForSize(uint64_t bytes) const {
  return qs(qvr::formattedStringForSize(bytes));
}

QString Quenda_Video_Repair_AppDelegate::getAttributedStringForLink(const QString& address, const QString& text) const {
  return QString("<a href=\"%1\" style=\"color:#0589ef; text-decoration:underline;\">%2</a>")
      .arg(address.toHtmlEscaped(), text.toHtmlEscaped());
}

std::string Quenda_Video_Repair_AppDelegate::getRepairedFilePathFor(const std::string& extension) const {
  return qvr::repairedFilePathFor(platform_.workingFolder(), extension);
}

// ---- hooks for later work ----

void Quenda_Video_Repair_AppDelegate::saveClicked(QObject* sender) { save(sender); }

void Quenda_Video_Repair_AppDelegate::previewClicked(QObject* sender) { preview(sender); }

void Quenda_Video_Repair_AppDelegate::installVLCClicked(QObject* sender) { OpenVLCPage(sender); }

void Quenda_Video_Repair_AppDelegate::checkForUpdateClicked(QObject* sender) {
  // Without a sender this is the silent check at start-up.
  updates_->checkForUpdateClicked(sender != nullptr);
}

void Quenda_Video_Repair_AppDelegate::changeErrorTabViewWithIdentifier(const std::string& identifier,
                                                                       const std::string& buttonTitle,
                                                                       bool retryButtonHidden) {
  errorReport_->changeErrorTabViewWithIdentifier(identifier, buttonTitle, retryButtonHidden);
}
void Quenda_Video_Repair_AppDelegate::changeUploadFileName(const std::string& name) {
  errorReport_->changeUploadFileName(name);
}
void Quenda_Video_Repair_AppDelegate::updatePercentageForErrorUpload(double percentage) {
  errorReport_->updatePercentageForErrorUpload(percentage);
}
void Quenda_Video_Repair_AppDelegate::failedUploadWithHeader(const std::string& header) {
  errorReport_->failedUploadWithHeader(header);
}
void Quenda_Video_Repair_AppDelegate::failedUploadWithHeaderState(bool state) {
  errorReport_->failedUploadWithHeaderState(state);
}

void Quenda_Video_Repair_AppDelegate::openErrorReportWindow(QObject*) { errorReport_->openErrorReportWindow(); }

// ---- saving, preview and the update check ----

void Quenda_Video_Repair_AppDelegate::setDesktopServices(qvr::DesktopServices* desktop) {
  saving_.reset();
  updates_.reset();
  previewer_.reset();
  if (!desktop) {
    if (!ownDesktop_) {
      ownDesktop_ = std::make_unique<qvr::QtDesktopServices>();
      ownDesktop_->setDialogParent(ui_.window);
    }
    desktop = ownDesktop_.get();
  }
  desktop_ = desktop;
  saving_ = std::make_unique<qvr::SaveWorkflow>(*this, platform_, *desktop_);
  previewer_ = std::make_unique<qvr::PreviewLauncher>(platform_, *desktop_, info_.vlcDownloadLink);
  updates_ = std::make_unique<qvr::UpdateChecker>(platform_, *desktop_, info_.cloudPlistUrl, info_.shortVersion);
}

void Quenda_Video_Repair_AppDelegate::save(QObject*) { saving_->save(); }
void Quenda_Video_Repair_AppDelegate::stopSaving(QObject*) { saving_->stopSaving(); }
void Quenda_Video_Repair_AppDelegate::continueSaving(QObject*) { saving_->continueSaving(); }
void Quenda_Video_Repair_AppDelegate::stopSavingOk(QObject*) { saving_->stopSavingOk(); }
void Quenda_Video_Repair_AppDelegate::saveCompletedOk(QObject*) { saving_->saveCompletedOk(); }

void Quenda_Video_Repair_AppDelegate::preview(QObject*) { playWithVLC(nullptr); }
void Quenda_Video_Repair_AppDelegate::playWithVLC(QObject*) { previewer_->playWithVLC(repairedFilePath_, aviFile_); }
void Quenda_Video_Repair_AppDelegate::OpenVLCPage(QObject*) { previewer_->OpenVLCPage(); }
