#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/gui/AppInfo.h"
#include "app/gui/DesktopServices.h"
#include "app/gui/ErrorReportWindows.h"
#include "app/gui/FileClass.h"
#include "app/gui/Interface.h"
#include "app/gui/PlatformServices.h"
#include "app/gui/RepairEngines.h"
#include "foundation/RepairFileDelegate.h"
#include "report/ErrorReportDelegate.h"

class QAbstractButton;

namespace qvr {
class PreviewLauncher;
class QtDesktopServices;
class SaveWorkflow;
class UpdateChecker;
}  // namespace qvr

// The application's controller: owns the main window with its screens and dialogs, the state of
// the repair workflow and the engine of the current job, whose delegate it is. Every method runs
// on the GUI thread except the RepairFileDelegate callbacks, which arrive on the job's worker
// thread and hand every screen change over to the GUI thread.
class Quenda_Video_Repair_AppDelegate : public QObject, public RepairFileDelegate, public ErrorReportDelegate {
  Q_OBJECT

 public:
  Quenda_Video_Repair_AppDelegate(qvr::PlatformServices& platform, qvr::EngineFactory engines,
                                  qvr::AppInfo info = qvr::AppInfo::current(), QObject* parent = nullptr);
  ~Quenda_Video_Repair_AppDelegate() override;

  // Start-up, in this order.
  void awakeFromNib();
  // False when the application is to end at once (another copy runs).
  bool applicationWillFinishLaunching();
  void applicationDidFinishLaunching();

  void setInitVariables();
  void setupInitialUI();

  // Actions of the main window.
  void mainScreen(QObject* sender);
  void closeClicked(QObject* sender);
  void minimizeClicked(QObject* sender);
  // The configured help page, else the installed manual in a window.
  void help(QObject* sender);
  void about(QObject* sender);
  void topButtonsSetEnabled(bool enabled);

  // The repair workflow.
  void openFinderWindow(QObject* sender);
  void openReferenceFile(QObject* sender);
  void repair(QObject* sender);
  void pauseRepairing(QAbstractButton* sender);
  void stopProgress(QObject* sender);
  void stopRepairCancel(QObject* sender);
  void stopRepairOk(QObject* sender);
  void repairAbortedOk(QObject* sender);
  void couldntRepairOk(QObject* sender);
  void elapsedTimeThread();
  void repairCompleted();
  void setFlags(bool pause);

  // What the open panel's OK does with the chosen damaged file; a dropped file goes the same way.
  void chooseDamagedFile(const std::string& path);
  // A dropped file is taken on the start screen while nothing runs, and only a movie.
  bool canTakeDroppedFile(const std::string& path) const;
  // A file handed over by the desktop (a file argument, or a later launch with one) is taken as
  // if it had been dropped on the start screen; false when it could not be taken.
  bool openFileFromDesktop(const std::string& path);

  // Hooks that later work fills: saving, preview, VLC, update check, error report.
  void saveClicked(QObject* sender);
  void previewClicked(QObject* sender);
  void installVLCClicked(QObject* sender);
  void checkForUpdateClicked(QObject* sender);
  void openErrorReportWindow(QObject* sender);

  // Saving the repaired file.
  void save(QObject* sender);
  void stopSaving(QObject* sender);
  void continueSaving(QObject* sender);
  void stopSavingOk(QObject* sender);
  void saveCompletedOk(QObject* sender);
  // Preview of the repaired file.
  void preview(QObject* sender);
  void playWithVLC(QObject* sender);
  void OpenVLCPage(QObject* sender);
  // The desktop calls of saving, preview and the update check; null gives the Qt ones.
  void setDesktopServices(qvr::DesktopServices* desktop);
  qvr::SaveWorkflow& saving() const { return *saving_; }
  qvr::UpdateChecker& updates() const { return *updates_; }

  // Window delegate.
  bool windowShouldClose();
  void windowWillClose();

  // RepairFileDelegate; may be called on any thread.
  void repairFileDidStartPerformingTask(const std::string& task) override;
  void repairFileCurrentTaskProgress(int32_t percentage) override;
  void repairFileAttribute(const std::string& key, const std::string& value) override;
  void repairFileDidComplete() override;
  void repairFileDidFailWithError(const qvr::Error& error) override;
  void moveBackToSelectReferenceFile() override;

  // ErrorReportDelegate: the upload windows arrive with the error report; these fill them then.
  void changeErrorTabViewWithIdentifier(const std::string& identifier, const std::string& buttonTitle,
                                        bool retryButtonHidden) override;
  void changeUploadFileName(const std::string& name) override;
  void updatePercentageForErrorUpload(double percentage) override;
  void failedUploadWithHeader(const std::string& header) override;
  void failedUploadWithHeaderState(bool state) override;

  // Texts and paths.
  QString getTimeFormStringForInterval(double seconds) const;
  QString getFormattedStringForSize(uint64_t bytes) const;
  // Rich text: `text` underlined in blue, linking to `address`.
  QString getAttributedStringForLink(const QString& address, const QString& text) const;
  std::string getRepairedFilePathFor(const std::string& extension) const;

  // State, named as the workflow names it.
  qvr::MovEngine* repair() const { return repair_.get(); }
  qvr::AviEngine* repairAvi() const { return repairAvi_.get(); }
  const std::vector<FileClass>& fileClassArray() const { return fileClassArray_; }
  const std::string& savepath() const { return savepath_; }
  void setSavepath(const std::string& path) { savepath_ = path; }
  ErrorReportDelegate* errordelegate() const { return errordelegate_; }
  bool aviFile() const { return aviFile_; }
  bool movFile() const { return movFile_; }
  bool stopElapsedTimeThread() const { return stopElapsedTimeThread_; }
  // Written by the report's upload thread; the flow holds them.
  bool uploadCompleted() const { return errorReport_ && errorReport_->uploadCompleted(); }
  bool AbortError() const { return errorReport_ && errorReport_->AbortError(); }
  ErrorReportWindows* errorReport() const { return errorReport_.get(); }
  bool repairing() const { return repairing_; }
  void setRepairing(bool value) { repairing_ = value; }
  bool savingProgress() const { return savingProgress_; }
  void setSavingProgress(bool value) { savingProgress_ = value; }
  bool pauseSaving() const { return pauseSaving_; }
  void setPauseSaving(bool value) { pauseSaving_ = value; }
  bool pauseRepairing() const { return pauseRepairing_; }
  void setPauseRepairing(bool value) { pauseRepairing_ = value; }
  int32_t currentTaskProgress() const { return currentTaskProgress_; }
  void setCurrentTaskProgress(int32_t value) { currentTaskProgress_ = value; }
  std::string currentPerformingTask() const;
  void setCurrentPerformingTask(const std::string& task);
  QDateTime scanStartDate() const { return scanStartDate_; }
  const std::string& corruptFilePath() const { return corruptFilePath_; }
  const std::string& referenceFilePath() const { return referenceFilePath_; }
  const std::string& repairedFilePath() const { return repairedFilePath_; }
  QWidget* window() const { return ui_.window; }
  const Interface& ui() const { return ui_; }

  // True while a worker thread of a job (running or winding down after a stop) exists.
  bool jobThreadAlive() const { return worker_.joinable(); }
  // Waits for the worker of the last job to end; the engine is stopped first if still running.
  void finishJob();

 private:
  class JobRelay;

  void showTab(const char* identifier);
  void showDetailsPage();
  void wireActions();
  void startJob(std::function<void()> work);
  void showCouldNotRepair();
  void removeRepairedFile();
  // Runs `work` on the GUI thread later, unless the job of `generation` is no longer current.
  void post(uint64_t generation, std::function<void()> work);
  bool isCurrent(uint64_t generation) const { return generation == jobGeneration_.load(); }

  // The delegate callbacks of one job; late ones of a stopped or replaced job are dropped.
  void taskFromJob(uint64_t generation, const std::string& task);
  void progressFromJob(uint64_t generation, int32_t percentage);
  void attributeFromJob(uint64_t generation, const std::string& key, const std::string& value);
  void completeFromJob(uint64_t generation);
  void failureFromJob(uint64_t generation);
  void referenceRequestFromJob(uint64_t generation);

  qvr::PlatformServices& platform_;
  qvr::EngineFactory engines_;
  qvr::AppInfo info_;
  Interface ui_;

  std::unique_ptr<qvr::MovEngine> repair_;
  std::unique_ptr<qvr::AviEngine> repairAvi_;
  std::vector<FileClass> fileClassArray_;
  std::string savepath_;
  ErrorReportDelegate* errordelegate_ = nullptr;
  bool aviFile_ = false;
  bool movFile_ = false;
  std::atomic<bool> stopElapsedTimeThread_{true};
  std::atomic<bool> repairing_{false};
  std::atomic<bool> savingProgress_{false};
  std::atomic<bool> pauseSaving_{false};
  bool pauseRepairing_ = false;
  std::atomic<int32_t> currentTaskProgress_{0};
  mutable std::mutex taskMutex_;
  std::string currentPerformingTask_;
  QDateTime scanStartDate_;
  std::string corruptFilePath_;
  std::string referenceFilePath_;
  std::string repairedFilePath_;

  QTimer elapsedTimer_;
  std::thread worker_;
  std::unique_ptr<JobRelay> relay_;
  // The error report's windows and flow; created with the interface.
  std::unique_ptr<ErrorReportWindows> errorReport_;
  // Names the job whose reports are wanted; bumped at every start, stop and reset.
  std::atomic<uint64_t> jobGeneration_{0};

  std::unique_ptr<qvr::QtDesktopServices> ownDesktop_;
  qvr::DesktopServices* desktop_ = nullptr;
  std::unique_ptr<qvr::SaveWorkflow> saving_;
  std::unique_ptr<qvr::PreviewLauncher> previewer_;
  std::unique_ptr<qvr::UpdateChecker> updates_;
};
