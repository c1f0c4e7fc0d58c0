// The error report as the application opens it: from the could-not-repair dialog, through the controller.
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QStackedWidget>
#include <QTableWidget>
#include <thread>

#include "WorkflowFixture.h"
#include "app/gui/ErrorReportWindows.h"
#include "app/gui/coreWindow.h"

using namespace apptest;

namespace {

using ErrorReportFromTheApplication = WorkflowTest;

TEST_F(ErrorReportFromTheApplication, OpensOverTheFailureFormsTheListAndGoesHomeWhenClosed) {
  ASSERT_TRUE(launch(scripted(failingJob(101))));
  const std::string damaged = movieIn("a.mp4");
  chooseDamaged(damaged);
  click("refTabRepairBtn");
  ASSERT_TRUE(waitUntil([&] { return visible("couldntRepair"); }));
  click("shareBtn");
  EXPECT_FALSE(visible("couldntRepair"));
  ASSERT_TRUE(visible("errorReportWindow"));
  auto* table = widget<QTableWidget>("tableView");
  ASSERT_EQ(table->rowCount(), 1);
  EXPECT_EQ(table->item(0, 1)->text().toStdString(), damaged);

  // The flow answers through the controller, whichever thread it speaks from.
  click("submitErrorReportBtn");
  ASSERT_TRUE(
      waitUntil([&] { return visible("errorUploadWindow") && text("alertMessage") == "Please enter email address."; }));
  std::thread([this] { controller->changeUploadFileName("Uploading (1/1): a.mp4"); }).join();
  ASSERT_TRUE(waitUntil([&] { return text("uploadingFileName") == "Uploading (1/1): a.mp4"; }));
  EXPECT_EQ(controller->errordelegate(), static_cast<ErrorReportDelegate*>(controller.get()));
  EXPECT_FALSE(controller->uploadCompleted());
  EXPECT_FALSE(controller->AbortError());
  click("errorUploadCloseBtn");
  EXPECT_FALSE(visible("errorUploadWindow"));

  widget<QLineEdit>("emailId")->setText("someone@example.com");
  click("closeErrorReportBtn");
  EXPECT_FALSE(visible("errorReportWindow"));
  EXPECT_TRUE(onPage(qvr::tabs::kMain));
  EXPECT_TRUE(controller->fileClassArray().empty());
  EXPECT_TRUE(widget<QLineEdit>("emailId")->text().isEmpty()) << "the start screen clears the form";
}

}  // namespace
