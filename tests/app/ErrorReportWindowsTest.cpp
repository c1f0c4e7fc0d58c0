// The error report's windows over the real flow, with a scripted desktop and a local mail service.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTableWidget>

#include "app/AppTestSupport.h"
#include "app/gui/CheckBtn.h"
#include "app/gui/ErrorPageBtn.h"
#include "app/gui/ErrorReportWindows.h"
#include "app/gui/coreWindow.h"
#include "foundation/FileSystem.h"
#include "report/ErrorReportTestSupport.h"
#include "report/ErrorReportText.h"

using apptest::waitUntil;

namespace {

// Stands where the controller stands: the flow's delegate, handing every change to the windows.
struct ForwardingDelegate : ErrorReportDelegate {
  ErrorReportWindows* to = nullptr;
  void changeErrorTabViewWithIdentifier(const std::string& i, const std::string& t, bool h) override {
    to->changeErrorTabViewWithIdentifier(i, t, h);
  }
  void changeUploadFileName(const std::string& n) override { to->changeUploadFileName(n); }
  void updatePercentageForErrorUpload(double p) override { to->updatePercentageForErrorUpload(p); }
  void failedUploadWithHeader(const std::string& h) override { to->failedUploadWithHeader(h); }
  void failedUploadWithHeaderState(bool s) override { to->failedUploadWithHeaderState(s); }
};

class ReportWindows : public ::testing::Test {
 protected:
  ReportWindows() : mail(reporttest::acceptMail) {
    mainWindow.resize(900, 640);
    mainWindow.show();
    coreWindow::setApplicationMainWindow(&mainWindow);
    files.push_back(FileClass{true, "/videos/damaged.mov"});
    platformForReport = std::make_shared<reporttest::FakeReportPlatform>(scratch.file("Desktop/errorlog.txt"));
    windows = std::make_unique<ErrorReportWindows>(
        ErrorReportWindows::Host{&mainWindow, platform, files, nullptr, [this] { return onDetails; },
                                 [this] { ++backToStart; }},
        forward, qvr::ReportServices{"", reporttest::mailSettingsFor(mail)}, platformForReport);
    forward.to = windows.get();
    windows->openErrorReportWindow();
  }

  template <typename T>
  T* find(const char* name) {
    for (QWidget* top :
         {static_cast<QWidget*>(windows->errorReportWindow()), static_cast<QWidget*>(windows->errorUploadWindow())}) {
      if (auto* w = top->findChild<T*>(name)) return w;
    }
    return nullptr;
  }
  void click(const char* name) { find<QAbstractButton>(name)->click(); }
  QString page() { return find<QStackedWidget>("errorTabView")->currentWidget()->objectName(); }
  QString text(const char* name) { return find<QLabel>(name)->text(); }
  bool uploadWindowUp() { return windows->errorUploadWindow()->isVisible(); }
  // The message page as the user sees it once the posted changes have run.
  void expectMessage(const QString& message, const QString& image) {
    ASSERT_TRUE(waitUntil([&] { return uploadWindowUp() && text("alertMessage") == message; }, 5000))
        << text("alertMessage").toStdString();
    EXPECT_EQ(page(), "5");
    EXPECT_EQ(find<QWidget>("alertIcon")->property("image").toString(), image);
    EXPECT_EQ(find<ErrorPageBtn>("errorUploadCloseBtn")->title(), "OK");
    EXPECT_FALSE(find<QWidget>("errorUploadRetryBtn")->isVisible());
  }
  // With QVR_REPORT_SCREENSHOTS=DIR the windows are photographed for a look by eye.
  void snap(const char* name) {
    const char* dir = std::getenv("QVR_REPORT_SCREENSHOTS");
    if (!dir || !*dir) return;
    apptest::spin(50);
    QWidget* w = uploadWindowUp() ? static_cast<QWidget*>(windows->errorUploadWindow()) : windows->errorReportWindow();
    w->grab().save(QString("%1/%2.png").arg(dir, name));
  }
  void dismiss() {
    click("errorUploadCloseBtn");
    ASSERT_FALSE(uploadWindowUp());
  }

  testsupport::TempDir scratch;
  testsupport::LocalHttpServer mail;
  QWidget mainWindow;
  apptest::ScriptedPlatform platform;
  std::vector<FileClass> files;
  std::shared_ptr<reporttest::FakeReportPlatform> platformForReport;
  ForwardingDelegate forward;
  std::unique_ptr<ErrorReportWindows> windows;
  bool onDetails = false;
  int backToStart = 0;
};

TEST_F(ReportWindows, OptionsAndTheFileListEditTheControllersList) {
  EXPECT_TRUE(windows->errorReportWindow()->isVisible());
  EXPECT_TRUE(find<QRadioButton>("radioBtn1")->isChecked());
  EXPECT_FALSE(find<QLineEdit>("DriveLink")->isEnabled());
  auto* table = find<QTableWidget>("tableView");
  ASSERT_EQ(table->rowCount(), 1);
  EXPECT_EQ(table->item(0, 1)->text(), "/videos/damaged.mov");
  auto* check = table->cellWidget(0, 0)->findChild<CheckBtn*>();
  ASSERT_TRUE(check);
  EXPECT_TRUE(check->isChecked());

  platform.panelAnswers = {std::string("/videos/damaged.mov")};
  click("addFilesToUpload");
  ASSERT_EQ(platform.panels.size(), 1u);
  EXPECT_EQ(platform.panels[0].allowedFileTypes, (std::vector<std::string>{"mov", "mp4", "m4v", "avi"}));
  EXPECT_EQ(platform.panels[0].startingFolder, "/home/tester");
  expectMessage("Slected file is already in list.", "information-icon");
  dismiss();

  platform.panelAnswers = {std::string("/videos/second.mp4")};
  click("addFilesToUpload");
  snap("report-form");
  ASSERT_EQ(files.size(), 2u);
  EXPECT_TRUE(files[1].select);
  ASSERT_EQ(table->rowCount(), 2);
  table->cellWidget(1, 0)->findChild<CheckBtn*>()->click();
  EXPECT_FALSE(files[1].select);

  table->setCurrentCell(-1, -1);
  click("removeFiles");
  expectMessage("Click on the file to remove.", "information-icon");
  dismiss();
  table->setCurrentCell(0, 1);
  click("removeFiles");
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].filePath, "/videos/second.mp4");
  EXPECT_EQ(table->rowCount(), 1);

  click("radioBtn2");
  EXPECT_FALSE(find<QRadioButton>("radioBtn1")->isChecked());
  EXPECT_TRUE(find<QLineEdit>("DriveLink")->isEnabled());
  EXPECT_TRUE(find<QWidget>("pasteLink")->isEnabled());
  EXPECT_FALSE(table->isEnabled());
  EXPECT_FALSE(find<QWidget>("addFilesToUpload")->isEnabled());
}

TEST_F(ReportWindows, FormErrorsShowOnTheMessagePageAndTheFormStays) {
  click("submitErrorReportBtn");
  expectMessage("Please enter email address.", "Mail");
  snap("report-message");
  dismiss();
  EXPECT_TRUE(windows->errorReportWindow()->isVisible());
  find<QLineEdit>("emailId")->setText("someone@example.c");
  find<QPlainTextEdit>("errorDetails")->setPlainText("It stops.");
  click("submitErrorReportBtn");
  expectMessage("Enter a valid Email Address.", "Mail");
  dismiss();
  // Uploading with no storage configured says so instead of failing obscurely.
  find<QLineEdit>("emailId")->setText("someone@example.com");
  click("submitErrorReportBtn");
  expectMessage(qvr::report::kNotConfigured, "information-icon");
  EXPECT_TRUE(mail.requests().empty());
}

TEST_F(ReportWindows, DriveLinkReportIsSentAndClosingLeavesTheReport) {
  find<QLineEdit>("emailId")->setText("someone@example.com");
  find<QPlainTextEdit>("errorDetails")->setPlainText("It stops.");
  click("radioBtn2");
  find<QLineEdit>("DriveLink")->setText("https://drive.example/f/1");
  qvr::fs::createDirectories(scratch.file("Desktop"));
  testsupport::writeFile(scratch.file("Desktop/errorlog.txt"), {'x'});
  click("submitErrorReportBtn");
  ASSERT_TRUE(waitUntil([&] { return uploadWindowUp() && page() == "4"; }, 5000));
  EXPECT_EQ(find<ErrorPageBtn>("errorUploadCloseBtn")->title(), "Close");
  EXPECT_TRUE(windows->uploadCompleted());
  snap("report-sent");
  windows->report().waitUntilIdle();
  EXPECT_EQ(reporttest::mailRequests(mail).size(), 1u);

  click("errorUploadCloseBtn");
  EXPECT_FALSE(uploadWindowUp());
  EXPECT_FALSE(windows->errorReportWindow()->isVisible()) << "a handed-over report closes its form too";
  EXPECT_EQ(backToStart, 1);
  EXPECT_FALSE(qvr::fs::fileExists(scratch.file("Desktop/errorlog.txt")));
}

TEST_F(ReportWindows, UploadPageProgressAbortQuestionAndFailureHeaders) {
  windows->runUploadWindow();
  std::thread worker([this] {
    forward.changeErrorTabViewWithIdentifier("2", "Cancel", true);
    forward.changeUploadFileName("Uploading (1/2): damaged.mov");
    forward.updatePercentageForErrorUpload(66.9);
  });
  worker.join();
  ASSERT_TRUE(waitUntil([&] { return text("errorUploadingPercentage") == "66%"; }, 5000));
  EXPECT_EQ(page(), "2");
  EXPECT_EQ(find<QProgressBar>("errorUploadProgress")->value(), 66);
  EXPECT_EQ(text("uploadingFileName"), "Uploading (1/2): damaged.mov");
  EXPECT_EQ(find<ErrorPageBtn>("errorUploadCloseBtn")->title(), "Cancel");
  snap("report-uploading");

  platform.alertAnswer = 1;  // "NO"
  click("errorUploadCloseBtn");
  ASSERT_EQ(platform.alerts.size(), 1u);
  EXPECT_EQ(platform.alerts[0].message, "Do you really want to abort the process?");
  EXPECT_EQ(platform.alerts[0].buttons, (std::vector<std::string>{"YES", "NO"}));
  EXPECT_FALSE(windows->AbortError());
  EXPECT_TRUE(uploadWindowUp());
  platform.alertAnswer = 0;  // "YES"
  click("errorUploadCloseBtn");
  EXPECT_TRUE(windows->AbortError());
  ASSERT_TRUE(waitUntil([&] { return text("uploadingFileName") == "Aborting please wait..."; }, 5000));

  forward.failedUploadWithHeader("1 File uploaded sucessfully.");
  forward.failedUploadWithHeaderState(false);
  forward.changeErrorTabViewWithIdentifier("1", "Close", true);
  ASSERT_TRUE(waitUntil([&] { return page() == "1"; }, 5000));
  EXPECT_EQ(text("failedUploadHeaderText"), "1 File uploaded sucessfully.");
  EXPECT_TRUE(find<QWidget>("failedUploadHeaderText")->isVisible());
  EXPECT_FALSE(find<QWidget>("failedUploadAbortedHeaderText")->isVisible());
  snap("report-failed");
  forward.failedUploadWithHeaderState(true);
  ASSERT_TRUE(waitUntil([&] { return find<QWidget>("failedUploadAbortedHeaderText")->isVisible(); }, 5000));
  EXPECT_FALSE(find<QWidget>("failedUploadHeaderText")->isVisible());

  click("openTxtFile");
  ASSERT_EQ(platform.openedURLs.size(), 1u);
  EXPECT_EQ(platform.openedURLs[0], "file://" + scratch.file("Desktop/errorlog.txt"));

  // The failure page keeps the form open, and closing the form away from the details screen goes home.
  click("errorUploadCloseBtn");
  EXPECT_TRUE(windows->errorReportWindow()->isVisible());
  click("closeErrorReportBtn");
  EXPECT_EQ(backToStart, 1);
  onDetails = true;
  windows->openErrorReportWindow();
  click("closeErrorReportBtn");
  EXPECT_EQ(backToStart, 1);
}

}  // namespace
