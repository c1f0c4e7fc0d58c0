#pragma once

#include <QDateTime>
#include <QObject>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "app/gui/DesktopServices.h"
#include "app/gui/PlatformServices.h"
#include "app/gui/SaveOperation.h"

class Quenda_Video_Repair_AppDelegate;

namespace qvr {

// Saving the repaired file for the controller: the save panel and its checks, the saving screen
// fed by one SaveOperation, pause and stop through the stop dialog, and the completion or
// failure that follows. Runs on the GUI thread; the copy's reports are posted to it.
class SaveWorkflow : public QObject {
  Q_OBJECT

 public:
  SaveWorkflow(Quenda_Video_Repair_AppDelegate& app, PlatformServices& platform, DesktopServices& desktop);
  ~SaveWorkflow() override;

  // The Save button: panel, checks, then the copy.
  void save();
  // Starts the copy of `source` (`size` bytes) into `folder`.
  void saveFileAtPath(const std::string& folder, const std::string& source, uint64_t size);
  void setSavingTabLabelWithSavePath(const std::string& path);
  void stopSaving();
  void continueSaving();
  void stopSavingOk();
  void saveCompletedOk();
  // Forgets the last copy (waiting for its worker if it still runs).
  void reset();

  const std::string& savepath() const { return savepath_; }
  SaveOperation* savingQueue() const { return savingQueue_.get(); }
  QDateTime scanStartDate() const { return startDate_; }

  // Shorter waits for tests.
  std::chrono::milliseconds minReportInterval{100};
  std::chrono::milliseconds pausePoll{100};

 private:
  void progressOnGui(uint64_t chunk, uint64_t chunkCount);
  void finishedOnGui(SaveOperation::Outcome outcome);
  void backToDetails();
  void post(std::function<void()> work);

  Quenda_Video_Repair_AppDelegate& app_;
  PlatformServices& platform_;
  DesktopServices& desktop_;
  std::string savepath_;
  std::unique_ptr<SaveOperation> savingQueue_;
  QDateTime startDate_;
  // Divides chunk numbers so that the progress bar's int range holds them.
  uint64_t barScale_ = 1;
  std::atomic<bool> completed_{false};
  // Reports of a copy that was stopped or replaced are dropped.
  std::atomic<uint64_t> generation_{0};
};

}  // namespace qvr
