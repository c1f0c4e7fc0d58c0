#include "app/gui/SaveWorkflow.h"

#include <QMetaObject>
#include <climits>

#include "app/gui/Formatting.h"
#include "app/gui/Quenda_Video_Repair_AppDelegate.h"
#include "foundation/FileSystem.h"
#include "foundation/Log.h"

namespace qvr {

SaveWorkflow::SaveWorkflow(Quenda_Video_Repair_AppDelegate& app, PlatformServices& platform, DesktopServices& desktop)
    : app_(app), platform_(platform), desktop_(desktop) {}

SaveWorkflow::~SaveWorkflow() { reset(); }

void SaveWorkflow::reset() {
  ++generation_;
  savingQueue_.reset();
}

void SaveWorkflow::post(std::function<void()> work) {
  const uint64_t generation = generation_;
  QMetaObject::invokeMethod(
      this,
      [this, generation, work = std::move(work)] {
        if (generation == generation_) work();
      },
      Qt::QueuedConnection);
}

void SaveWorkflow::save() {
  if (app_.savingProgress() || app_.repairing()) return;
  SavePanelOptions options;
  options.prompt = "Save";
  options.nameFieldValue = "Repaired";
  options.startingFolder = platform_.homeFolder();
  const std::optional<std::string> chosen = desktop_.runSavePanel(options);
  if (!chosen || chosen->empty()) return;
  // The repaired movie never takes the place of a movie it was made from: if the repair is poor,
  // the user must be able to try again.
  const std::string target = savedFilePathIn(*chosen, app_.movFile());
  for (const std::string& input : {app_.corruptFilePath(), app_.referenceFilePath()}) {
    if (!input.empty() && fs::sameFile(target, input)) {
      platform_.runAlert({"Choose another folder",
                          "Saving here would replace " + fs::fileName(input) +
                              ", the video the repair was made from. Choose another folder.",
                          {"OK"},
                          AlertStyle::Warning});
      return;
    }
  }
  const SavePreparation prepared = prepareSaveFolder(desktop_, *chosen, app_.repairedFilePath());
  if (prepared.check != SaveCheck::Ready) {
    platform_.runAlert(saveCheckAlert(prepared.check));
    return;
  }
  saveFileAtPath(*chosen, app_.repairedFilePath(), prepared.sourceSize);
}

void SaveWorkflow::setSavingTabLabelWithSavePath(const std::string& path) {
  const Interface& ui = app_.ui();
  ui.homeBtn->setEnabled(false);
  app_.topButtonsSetEnabled(false);
  ui.upperBoxField->setText("Saving Repaired Video File");
  ui.savingNotification->setText("Saving File...");
  ui.destinationPath->setText(QString("Destination Path:%1").arg(QString::fromStdString(path)));
  ui.savingPercentage->setText(QString::asprintf("%d%%", 0));
  ui.savingAnimation->startAnimation();
  startDate_ = QDateTime::currentDateTime();
  ui.savingStartTime->setText(startDate_.toString("HH:mm:ss"));
  ui.savingElapsedTime->setText("00:00:00");
  if (QWidget* page = ui.page(tabs::kSaving)) ui.tabview->setCurrentWidget(page);
}

void SaveWorkflow::saveFileAtPath(const std::string& folder, const std::string& source, uint64_t size) {
  reset();
  completed_ = false;
  savepath_ = savedFilePathIn(folder, app_.movFile());
  app_.setSavepath(savepath_);
  setSavingTabLabelWithSavePath(savepath_);

  const uint64_t generation = generation_;
  SaveOperation::Callbacks callbacks;
  callbacks.progress = [this](uint64_t chunk, uint64_t count) {
    post([this, chunk, count] { progressOnGui(chunk, count); });
  };
  callbacks.finished = [this, generation](SaveOperation::Outcome outcome, const std::string&) {
    if (outcome == SaveOperation::Outcome::Completed && generation == generation_) completed_ = true;
    post([this, outcome] { finishedOnGui(outcome); });
  };
  savingQueue_ = std::make_unique<SaveOperation>(source, savepath_, size, std::move(callbacks), minReportInterval);
  savingQueue_->setPausePoll(pausePoll);

  const uint64_t count = savingQueue_->chunkCount();
  barScale_ = count > static_cast<uint64_t>(INT_MAX) ? count / INT_MAX + 1 : 1;
  const Interface& ui = app_.ui();
  ui.saveProgressBarr->setRange(0, static_cast<int>(count / barScale_));
  ui.saveProgressBarr->setValue(0);
  app_.setSavingProgress(true);
  if (!savingQueue_->start()) {
    log("Saving failed: %s", savingQueue_->error().c_str());
    savingQueue_.reset();
    finishedOnGui(SaveOperation::Outcome::Failed);
  }
}

void SaveWorkflow::progressOnGui(uint64_t chunk, uint64_t chunkCount) {
  const Interface& ui = app_.ui();
  const double elapsed = static_cast<double>(startDate_.msecsTo(QDateTime::currentDateTime())) / 1000.0;
  ui.savingElapsedTime->setText(QString::fromStdString(timeFormStringForInterval(elapsed)));
  ui.saveProgressBarr->setValue(static_cast<int>(chunk / barScale_));
  ui.savingPercentage->setText(QString::asprintf("%d%%", savePercent(chunk, chunkCount)));
}

void SaveWorkflow::finishedOnGui(SaveOperation::Outcome outcome) {
  if (outcome == SaveOperation::Outcome::Cancelled) return;
  const Interface& ui = app_.ui();
  ui.savingAnimation->stopAnimation();
  app_.setSavingProgress(false);
  if (outcome == SaveOperation::Outcome::Failed) {
    // The temporary repaired file is still there: back to its details, to save elsewhere.
    ui.savingNotification->setText("Saving failed");
    platform_.runAlert(saveFailedAlert());
    backToDetails();
    return;
  }
  ui.savingPercentage->setText(QString::asprintf("%d%%", 100));
  // The last block may have been under way when the stop question went up; the copy is whole,
  // so the question is moot.
  if (ui.stopsavingwindow->isShowing()) {
    ui.stopsavingwindow->closeWindow();
    app_.setPauseSaving(false);
  }
  ui.savingCompletedwindow->showWindow();
}

void SaveWorkflow::backToDetails() {
  const Interface& ui = app_.ui();
  app_.setPauseSaving(false);
  ui.homeBtn->setEnabled(true);
  app_.topButtonsSetEnabled(true);
  ui.upperBoxField->setText("Details of repaired video file");
  if (QWidget* page = ui.page(tabs::kDetails)) ui.tabview->setCurrentWidget(page);
}

void SaveWorkflow::stopSaving() {
  if (!app_.savingProgress()) return;
  app_.setPauseSaving(true);
  if (savingQueue_) savingQueue_->setPaused(true);
  app_.ui().savingAnimation->stopAnimation();
  app_.ui().stopsavingwindow->showWindow();
}

void SaveWorkflow::continueSaving() {
  app_.setPauseSaving(false);
  if (savingQueue_) savingQueue_->setPaused(false);
  app_.ui().savingAnimation->startAnimation();
  app_.ui().stopsavingwindow->closeWindow();
}

void SaveWorkflow::stopSavingOk() {
  // The worker removes its partial file as it ends; a copy that completed just before the stop
  // was confirmed is removed too, since the user asked for no copy.
  if (savingQueue_) {
    savingQueue_->cancel();
    savingQueue_->setPaused(false);
    savingQueue_->wait();
  }
  reset();
  if (completed_.exchange(false) && fs::fileExists(savepath_)) fs::removeFile(savepath_);
  app_.ui().savingAnimation->stopAnimation();
  app_.ui().stopsavingwindow->closeWindow();
  app_.setSavingProgress(false);
  app_.setPauseSaving(false);
  app_.mainScreen(nullptr);
}

void SaveWorkflow::saveCompletedOk() {
  app_.ui().savingCompletedwindow->closeWindow();
  if (!desktop_.revealFile(savepath_)) log("Could not show %s in the file manager", savepath_.c_str());
  app_.topButtonsSetEnabled(true);
  app_.mainScreen(nullptr);
}

}  // namespace qvr
