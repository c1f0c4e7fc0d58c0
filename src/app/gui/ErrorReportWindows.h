#pragma once

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/gui/FileClass.h"
#include "app/gui/PlatformServices.h"
#include "report/ErrorReport.h"

class CheckBtn;
class ErrorPageBtn;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QRadioButton;
class QStackedWidget;
class QTableWidget;
class coreWindow;

namespace qvr {
class ReportImageView;
}

// The error report's two windows: the form (address, description, the upload list or a Drive link)
// and the upload window with its pages "1" to "5". A thin view over qvr::ErrorReport, which does the
// checking, uploading and mailing; every widget carries its outlet name as objectName.
class ErrorReportWindows : public QObject, public ErrorReportDelegate, public qvr::ErrorReportWindowHost {
  Q_OBJECT

 public:
  // What the windows take from the controller.
  struct Host {
    QWidget* mainWindow = nullptr;
    qvr::PlatformServices& platform;
    std::vector<FileClass>& fileClassArray;
    coreWindow* couldntRepair = nullptr;    // ended when the report window opens
    std::function<bool()> onDetailsScreen;  // the main window shows the repaired file's details
    std::function<void()> couldntRepairOk;  // back to the start screen
  };

  ErrorReportWindows(
      Host host, ErrorReportDelegate& errordelegate,
      qvr::ReportServices services = qvr::ReportServices::fromConfiguration(qvr::Configuration::shared()),
      std::shared_ptr<qvr::ReportPlatform> reportPlatform = std::make_shared<qvr::SystemReportPlatform>());
  // Aborts a running upload and waits for it before the windows go.
  ~ErrorReportWindows() override;

  // Actions.
  void openErrorReportWindow();
  void closeErrorReportWindow();
  void closeUploadWindow();
  void submitErrorReport();
  void radioBtnClicked(QRadioButton* sender);
  void addFileToUpload();
  void removeFileToUpload();
  void pasteGDriveLink();
  void checkClicked(CheckBtn* sender);
  void retryClicked();
  void openTxtFile();
  // The form emptied, as the start screen leaves it.
  void clearFields();
  // Rebuilds the file table from the controller's list.
  void reloadData();

  // ErrorReportDelegate, from any thread: each change is carried out on the GUI thread.
  void changeErrorTabViewWithIdentifier(const std::string& identifier, const std::string& buttonTitle,
                                        bool retryButtonHidden) override;
  void changeUploadFileName(const std::string& name) override;
  void updatePercentageForErrorUpload(double percentage) override;
  void failedUploadWithHeader(const std::string& header) override;
  void failedUploadWithHeaderState(bool state) override;

  // ErrorReportWindowHost, from any thread.
  void showMessage(const std::string& message, const std::string& imageName) override;
  void runUploadWindow() override;

  bool uploadCompleted() const { return report_->uploadCompleted(); }
  bool AbortError() const { return report_->AbortError(); }
  qvr::ErrorReport& report() { return *report_; }
  coreWindow* errorReportWindow() const { return errorReportWindow_; }
  coreWindow* errorUploadWindow() const { return errorUploadWindow_; }

 private:
  void buildReportWindow();
  void buildUploadWindow();
  void post(std::function<void()> change);
  std::vector<qvr::ReportFile> reportFiles() const;

  Host host_;
  std::shared_ptr<qvr::ReportPlatform> reportPlatform_;
  std::unique_ptr<qvr::ErrorReport> report_;

  // errorReportWindow
  // Child of the main window; it goes with it if the main window goes first.
  QPointer<coreWindow> errorReportWindow_;
  QLineEdit* emailId_ = nullptr;
  QPlainTextEdit* errorDetails_ = nullptr;
  QRadioButton* radioBtn1_ = nullptr;
  QRadioButton* radioBtn2_ = nullptr;
  QLineEdit* DriveLink_ = nullptr;
  ErrorPageBtn* pasteLink_ = nullptr;
  QTableWidget* tableView_ = nullptr;
  ErrorPageBtn* addFilesToUpload_ = nullptr;
  ErrorPageBtn* removeFiles_ = nullptr;

  // errorUploadWindow
  coreWindow* errorUploadWindow_ = nullptr;  // child of errorReportWindow_
  QStackedWidget* errorTabView_ = nullptr;
  QLabel* uploadingFileName_ = nullptr;
  QLabel* errorUploadingPercentage_ = nullptr;
  QProgressBar* errorUploadProgress_ = nullptr;
  ErrorPageBtn* errorUploadCloseBtn_ = nullptr;
  ErrorPageBtn* errorUploadRetryBtn_ = nullptr;
  qvr::ReportImageView* alertIcon_ = nullptr;
  QLabel* alertMessage_ = nullptr;
  QLabel* failedUploadHeaderText_ = nullptr;
  QLabel* failedUploadAbortedHeaderText_ = nullptr;
};
