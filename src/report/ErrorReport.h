#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "report/ErrorReportDelegate.h"
#include "report/ReportPlatform.h"
#include "report/SupportMail.h"

class AZSCloudBlobContainer;

namespace qvr {

// One entry of the upload list as the flow needs it.
struct ReportFile {
  bool select = false;
  std::string filePath;
};

// What the user typed into the report window.
struct ReportForm {
  std::string email;
  std::string description;
  bool uploadFiles = true;  // the upload option, otherwise the Drive-link option
  std::string driveLink;
};

// What the flow shows beyond the upload window's pages. Called from any thread; the receiver
// moves the change to the GUI thread.
class ErrorReportWindowHost {
 public:
  virtual ~ErrorReportWindowHost() = default;
  // The message page's icon and text.
  virtual void showMessage(const std::string& message, const std::string& imageName) = 0;
  // The upload window over the report window, unless it is up already.
  virtual void runUploadWindow() = 0;
};

// The deployment values the report needs.
struct ReportServices {
  std::string storageConnectionString;
  MailSettings mail;
  static ReportServices fromConfiguration(const Configuration& config);
};

// The error report without its windows: the form's validation, the Drive-link report, the upload
// of the selected files into a new storage container one 1 MiB block at a time, the error log and
// the support mail. Everything it shows goes through `errordelegate` and the window host.
class ErrorReport {
 public:
  ErrorReport(ReportServices services, ReportPlatform& platform, ErrorReportDelegate& errordelegate,
              ErrorReportWindowHost& windows);
  // Aborts a running upload and waits for it and for the mails to end.
  ~ErrorReport();
  ErrorReport(const ErrorReport&) = delete;
  ErrorReport& operator=(const ErrorReport&) = delete;

  // The submit button: validation in order, then the upload or the Drive-link report.
  void submitErrorReport(const ReportForm& form, const std::vector<ReportFile>& files);
  // The retry button: the same report again with the list as it is now.
  void retryClicked(const std::vector<ReportFile>& files);
  // The user confirmed the abort question.
  void abortUpload();

  static int32_t getselectFile(const std::vector<ReportFile>& files);
  void runAlertWithMessage(const std::string& message, const std::string& image, bool retryButtonHidden);
  void uploadFileWithSelectedCount(int32_t count);
  void startUploadingFileWithWmailID(const std::string& email, int32_t fileCount, const std::string& message);
  void sendMailWithSubject(const std::string& subject, const std::string& sender, const std::string& message);
  // Whether a report's mail is waiting to be sent again (its files stay uploaded meanwhile).
  bool mailPending() const;

  // The error log of failed files: a file this report created itself (beside any the user
  // already has), and the only one deleteErrorLog() removes when the report window closes.
  // Before the first failure it names where the log would go.
  std::string errorLogPath() const;
  void deleteErrorLog();

  bool uploadCompleted() const { return uploadCompleted_; }
  bool AbortError() const { return AbortError_; }
  bool uploading() const;
  // The container of the latest upload (also the report id of its mail); empty before the first.
  std::string containerName() const;
  // Waits until no upload runs and every mail has its answer.
  void waitUntilIdle();

 private:
  struct Upload;
  void driveLinkReport();
  void uploadLoop(const std::shared_ptr<Upload>& upload);
  void uploadOneFile(const std::shared_ptr<Upload>& upload, const ReportFile& file);
  // `counted`: the file was counted as started.
  void markFileFailed(Upload& upload, const std::string& path, bool counted);
  void finishUpload(Upload& upload);
  void deleteContainer(const std::shared_ptr<AZSCloudBlobContainer>& container, bool showAborted);
  void appendErrorLog(const std::string& path);
  void internetMessage();
  bool servicesConfigured(bool forUpload);
  void workStarted();
  void workEnded();

  ReportServices services_;
  ReportPlatform& platform_;
  ErrorReportDelegate& errordelegate_;
  ErrorReportWindowHost& windows_;
  SupportMailer mailer_;

  ReportForm form_;
  std::vector<ReportFile> files_;
  // The report's mail: support hears of the files only through it, so the report is sent only
  // when the mail service accepted it. A mail that did not go out waits here for the retry.
  struct ReportMail {
    std::string subject;
    std::string sender;
    std::string body;
  };
  void sendReportMail(ReportMail mail, bool showOutcome);
  void resendPendingMail();
  void setPendingMail(std::optional<ReportMail> mail);
  mutable std::mutex mailMutex_;
  std::optional<ReportMail> pendingMail_;

  std::atomic<bool> uploadCompleted_{false};
  std::atomic<bool> AbortError_{false};
  std::atomic<bool> uploadRunning_{false};  // from the start request to the end of the upload loop

  mutable std::mutex logMutex_;
  std::string ownLogPath_;     // empty until this report has created its log
  std::string containerName_;  // guarded by workMutex_
  mutable std::mutex workMutex_;
  std::condition_variable workDone_;
  int work_ = 0;
};

}  // namespace qvr
