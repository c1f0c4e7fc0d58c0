#include <QDropEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QStackedWidget>
#include <QTableWidget>
#include <QUrl>

#include "WorkflowFixture.h"
#include "app/gui/CheckBtn.h"
#include "report/ErrorReportText.h"
#include "support/Damage.h"

namespace apptest {
namespace {

using Workflow = WorkflowTest;

TEST_F(Workflow, ChosenFileDecidesTheEngineTheScreenAndTheWorkingPath) {
  ASSERT_TRUE(launch(scripted(completingJob(), completingJob(), /*aviValid=*/false)));
  EXPECT_TRUE(controller->window()->isVisible() && onPage(qvr::tabs::kMain));
  click("helppBtn");
  EXPECT_EQ(desktop.openedURLs, std::vector<std::string>{"https://help.example/guide"});
  click("browsebutton");  // cancelled
  // A name typed with another extension is nothing to repair, but is listed for a report.
  chooseDamaged(movieIn("notes.txt"));
  EXPECT_FALSE(controller->aviFile() || controller->movFile() || visible("repairbutton"));

  // Every button is reached by keyboard, and Return presses the focused one as a click would.
  for (QAbstractButton* button : controller->window()->findChildren<QAbstractButton*>()) {
    EXPECT_TRUE(button->focusPolicy() & Qt::TabFocus) << button->objectName().toStdString();
  }
  desktop.panelAnswers.push_back(movieIn("clip.AVI"));
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(widget("browsebutton"), &enter);
  ASSERT_TRUE(waitUntil([&] { return controller->aviFile(); }, 1000));
  EXPECT_TRUE(onPage(qvr::tabs::kMain) && visible("repairbutton"));
  EXPECT_EQ(controller->repairedFilePath(), work.path() + "/.testfile.avi");
  click("repairbutton");
  EXPECT_EQ(desktop.alerts.size(), 1u) << "an AVI failing the validity check is refused";
  EXPECT_FALSE(controller->repairing() || controller->jobThreadAlive());

  const std::string mp4 = movieIn("HOLIDAY.MP4");
  chooseDamaged(mp4);
  EXPECT_TRUE(controller->movFile() && onPage(qvr::tabs::kReference) && widget("refTabRepairBtn")->isEnabled());
  EXPECT_FALSE(visible("selectRefFileBtn"));
  EXPECT_EQ(controller->repairedFilePath(), work.path() + "/.testfile.mov");
  EXPECT_EQ(controller->referenceFilePath(), mp4) << "the first repair uses the file as its own reference";
  EXPECT_EQ(controller->fileClassArray().size(), 3u);

  desktop.instances = 2;  // another copy runs
  EXPECT_FALSE(launch(scripted(completingJob())));
  EXPECT_TRUE(desktop.alerts.size() == 2 && desktop.terminations == 1);
  EXPECT_FALSE(controller->window()->isVisible());
}

TEST_F(Workflow, RepairShowsTheFactsOfTheResultAndTheStartClearsThemForTheNext) {
  ASSERT_TRUE(launch(scripted(completingJob())));
  startRepair("beach.mov");
  EXPECT_TRUE(onPage(qvr::tabs::kRepairing));
  ASSERT_TRUE(waitUntil([&] { return repaired(); }));
  const std::pair<const char*, const char*> facts[] = {{"fileNamefield", "beach.mov"}, {"sizeField", "2.50 MB"},
                                                       {"videoCodecField", "video"},   {"fpsField", "fps"},
                                                       {"tracksField", "track"},       {"durationField", "duration"}};
  for (const auto& [field, value] : facts) EXPECT_EQ(text(field), value) << field;
  EXPECT_TRUE(visible("installVLC")) << "no VLC on this desktop";

  click("prewTabHomeBtn");
  EXPECT_TRUE(onPage(qvr::tabs::kMain));
  for (const auto& [field, value] : facts) EXPECT_TRUE(text(field).isEmpty()) << field;
  EXPECT_FALSE(controller->movFile() || qvr::fs::fileExists(work.path() + "/.testfile.mov"));
  EXPECT_TRUE(controller->corruptFilePath().empty() && controller->fileClassArray().empty());
  repairStandIn("second.avi");
  EXPECT_EQ(text("fileNamefield"), "second.avi");
  // Closing once the job is over quits and takes the temporary file along.
  click("closeBtn");
  EXPECT_TRUE(desktop.terminations == 1 && !qvr::fs::fileExists(work.path() + "/.testfile.avi"));
}

// A job that runs until stopped, through the controller's MOV and AVI branches alike.
class PauseAndStop : public WorkflowTest, public ::testing::WithParamInterface<const char*> {};
INSTANTIATE_TEST_SUITE_P(Kinds, PauseAndStop, ::testing::Values("mp4", "avi"),
                         [](const auto& kind) { return std::string(kind.param); });

TEST_P(PauseAndStop, PauseFreezesBusyRefusesAndAStopLeavesNoFileNoErrorAndNoResult) {
  // Once stopped the job still finishes its file and says so, then fails, as a stopped engine may.
  const JobScript endless =
      endlessJob([](RepairFileDelegate& delegate, ScriptedJobState& state, const std::string& out) {
        completingJob()(delegate, state, out);
        delegate.repairFileDidFailWithError(qvr::Error(qvr::kRepairErrorDomain, 107, {}));
      });
  ASSERT_TRUE(launch(scripted(endless, endless)));
  startRepair(std::string("a.") + GetParam());
  ASSERT_TRUE(waitUntil([&] { return text("percent") != "0%" && text("elapsedTime") != "00:00:00"; }));
  EXPECT_EQ(text("currentstatus"), "Locating audio / video data forks..");
  click("repPauseBtn");
  EXPECT_TRUE(job->pause);
  const QString shown = text("percent") + text("elapsedTime"), elapsed = text("elapsedTime");
  controller->repairFileCurrentTaskProgress(77);
  spin(2300);
  EXPECT_EQ(text("percent") + text("elapsedTime"), shown);
  click("repPauseBtn");
  EXPECT_FALSE(job->pause);
  ASSERT_TRUE(waitUntil([&] { return text("elapsedTime") != elapsed; }, 3000));
  EXPECT_GE(text("elapsedTime"), "00:00:03") << "the start was not moved by the pause";

  const std::string result = controller->repairedFilePath();
  controller->repair(nullptr);
  controller->mainScreen(nullptr);
  click("closeBtn");
  EXPECT_TRUE(made == 1 && onPage(qvr::tabs::kRepairing) && desktop.terminations == 0);
  EXPECT_EQ(desktop.alerts.size(), 1u) << "the refusal to close is said";

  click("repCancelBtn");
  EXPECT_TRUE(job->pause) << "the question pauses the job";
  click("stoprepaircancelbutton");
  EXPECT_FALSE(job->pause);
  click("repCancelBtn");
  click("stoprepairokbutton");
  EXPECT_TRUE(job->stop && !job->pause) << "a paused engine must be resumed to see the stop";
  EXPECT_TRUE(visible("repairAbortedWindow") && !controller->repairing());
  ASSERT_TRUE(waitUntil([&] { return !job->running; }));
  spin(200);
  EXPECT_FALSE(visible("couldntRepair") || repaired() || desktop.alerts.size() > 1);
  click("repairAbortedOkBtn");
  EXPECT_TRUE(onPage(qvr::tabs::kMain) && !qvr::fs::fileExists(result));
}

TEST_F(Workflow, EveryKindOfFailureEndsInCouldNotRepair) {
  const JobScript nothingWritten = [](RepairFileDelegate& delegate, ScriptedJobState&, const std::string&) {
    delegate.repairFileDidComplete();
  };
  // An engine missing from the build: its maker is absent or makes nothing.
  qvr::EngineFactory noMov = scripted(completingJob());
  noMov.makeMovEngine = [] { return std::unique_ptr<qvr::MovEngine>(); };
  qvr::EngineFactory noAvi = scripted(completingJob());
  noAvi.makeAviEngine = nullptr;
  const std::tuple<const char*, qvr::EngineFactory, const char*> cases[] = {
      {"engine failure", scripted(failingJob(101)), "a.mp4"},
      {"completion without a file", scripted(nothingWritten), "a.mp4"},
      {"no MOV engine", noMov, "a.mp4"},
      {"no AVI engine", noAvi, "a.avi"}};
  for (const auto& [what, engines, movie] : cases) {
    SCOPED_TRACE(what);
    ASSERT_TRUE(launch(engines));
    startRepair(movie);
    ASSERT_TRUE(waitUntil([&] { return visible("couldntRepair"); }));
    EXPECT_FALSE(controller->repairing() || repaired());
    EXPECT_TRUE(desktop.alerts.empty());
    EXPECT_TRUE(text("supportTextfield").contains("https://help.example/support"));
    click("couldNotRepairOkBtn");
    EXPECT_TRUE(!visible("couldntRepair") && onPage(qvr::tabs::kMain));
  }
  emit widget<QLabel>("supportTextfield")->linkActivated("https://help.example/support");
  EXPECT_EQ(desktop.openedURLs, std::vector<std::string>{"https://help.example/support"});
}

TEST_F(Workflow, ReferenceRequestAsksOnceThenAFailureIsFinal) {
  ASSERT_TRUE(launch(scripted([](RepairFileDelegate& delegate, ScriptedJobState& state, const std::string&) {
    state.stop = true;
    delegate.moveBackToSelectReferenceFile();
  })));
  startRepair("a.mp4");
  ASSERT_TRUE(waitUntil([&] { return visible("selectRefFileBtn"); }));
  EXPECT_TRUE(onPage(qvr::tabs::kReference) && !widget("refTabRepairBtn")->isEnabled());
  desktop.panelAnswers.push_back(movieIn("good.mts"));
  click("selectRefFileBtn");
  EXPECT_TRUE(widget("refTabRepairBtn")->isEnabled());

  click("refTabRepairBtn");
  ASSERT_TRUE(waitUntil([&] { return visible("couldntRepair"); }));
  std::lock_guard<std::mutex> lock(job->mutex);
  EXPECT_EQ(job->arguments,
            (std::vector<std::string>{work.file("good.mts"), work.file("a.mp4"), work.path() + "/.testfile.mov"}));
  EXPECT_EQ(made, 2) << "every start makes a new engine";
}

TEST_F(Workflow, DroppedMovieIsTakenOnTheStartScreenOnly) {
  ASSERT_TRUE(launch(scripted(completingJob())));
  const std::string mp4 = movieIn("dropped.mp4");
  EXPECT_FALSE(controller->canTakeDroppedFile(movieIn("notes.txt")));
  EXPECT_FALSE(controller->canTakeDroppedFile(work.path() + "/missing.mov"));
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(mp4))});
  QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(controller->window(), &enter);
  EXPECT_TRUE(enter.isAccepted() && controller->ui().dropZone->property("active").toBool());
  QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(controller->window(), &drop);
  EXPECT_TRUE(onPage(qvr::tabs::kReference) && controller->corruptFilePath() == mp4);
  EXPECT_FALSE(controller->canTakeDroppedFile(mp4)) << "not while another screen is up";
}

TEST_F(Workflow, FileFromTheDesktopIsTakenAsIfDroppedButNotDuringARepair) {
  ASSERT_TRUE(launch(scripted(endlessJob())));
  const std::string startHeader = text("upperBoxField").toStdString();
  controller->window()->hide();
  EXPECT_TRUE(controller->openFileFromDesktop(movieIn("clip.avi")));
  EXPECT_TRUE(controller->window()->isVisible() && onPage(qvr::tabs::kMain) && visible("repairbutton"));
  const std::string mov = movieIn("clip.mov");
  EXPECT_TRUE(controller->openFileFromDesktop(mov));
  EXPECT_TRUE(onPage(qvr::tabs::kReference) && controller->movFile() && controller->corruptFilePath() == mov);
  EXPECT_NE(text("upperBoxField").toStdString(), startHeader) << "the start screen's header outlives it";
  click("refTabRepairBtn");
  EXPECT_FALSE(controller->openFileFromDesktop(movieIn("other.mov")));
  EXPECT_TRUE(onPage(qvr::tabs::kRepairing) && controller->corruptFilePath() == mov);
}

// The error report's windows as the application opens them, over the could-not-repair dialog.
class ErrorReport : public WorkflowTest {
 protected:
  void SetUp() override {
    WorkflowTest::SetUp();
    ASSERT_TRUE(launch(scripted(failingJob(101))));
    startRepair("a.mp4");
    ASSERT_TRUE(waitUntil([&] { return visible("couldntRepair"); }));
    click("shareBtn");
  }
  QString page() { return widget<QStackedWidget>("errorTabView")->currentWidget()->objectName(); }
  // The flow's message as the user sees it once the posted changes have run, then dismissed.
  void expectMessage(const char* message) {
    ASSERT_TRUE(waitUntil([&] { return visible("errorUploadWindow") && text("alertMessage") == message; }, 5000))
        << text("alertMessage").toStdString();
    EXPECT_EQ(page(), "5");
    click("errorUploadCloseBtn");
    EXPECT_TRUE(!visible("errorUploadWindow") && visible("errorReportWindow")) << "a message leaves the form up";
  }
};

TEST_F(ErrorReport, FileListEditsTheControllersList) {
  EXPECT_FALSE(visible("couldntRepair"));
  auto* table = widget<QTableWidget>("tableView");
  ASSERT_EQ(table->rowCount(), 1);
  EXPECT_EQ(table->item(0, 1)->text().toStdString(), work.file("a.mp4"));
  desktop.panelAnswers.push_back(work.file("a.mp4"));
  click("addFilesToUpload");
  expectMessage(qvr::report::kAlreadyInList);

  desktop.panelAnswers.push_back(movieIn("second.mov"));
  click("addFilesToUpload");
  const std::vector<FileClass>& files = controller->fileClassArray();
  ASSERT_EQ(files.size(), 2u);
  ASSERT_EQ(table->rowCount(), 2);
  table->cellWidget(1, 0)->findChild<CheckBtn*>()->click();
  EXPECT_FALSE(files[1].select);
  table->setCurrentCell(-1, -1);
  click("removeFiles");
  expectMessage(qvr::report::kClickToRemove);
  table->setCurrentCell(0, 1);
  click("removeFiles");
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(files[0].filePath == work.file("second.mov") && table->rowCount() == 1);
}

TEST_F(ErrorReport, UploadPageFollowsTheFlowFromAnyThreadAndAsksBeforeAborting) {
  controller->errorReport()->runUploadWindow();
  std::thread([this] {
    controller->changeErrorTabViewWithIdentifier("2", "Cancel", true);
    controller->changeUploadFileName("Uploading (1/2): a.mp4");
    controller->updatePercentageForErrorUpload(66.9);
  }).join();
  ASSERT_TRUE(waitUntil([&] { return text("errorUploadingPercentage") == "66%"; }, 5000));
  EXPECT_TRUE(page() == "2" && widget<QProgressBar>("errorUploadProgress")->value() == 66);
  EXPECT_EQ(text("uploadingFileName"), "Uploading (1/2): a.mp4");
  const int uploadingHeight = widget("errorUploadWindow")->height();

  desktop.alertAnswer = 1;  // "NO"
  click("errorUploadCloseBtn");
  EXPECT_TRUE(desktop.alerts.size() == 1 && !controller->AbortError() && visible("errorUploadWindow"));
  desktop.alertAnswer = 0;  // "YES"
  click("errorUploadCloseBtn");
  EXPECT_TRUE(controller->AbortError());
  ASSERT_TRUE(waitUntil([&] { return text("uploadingFileName") == qvr::report::kAborting; }, 5000));

  controller->failedUploadWithHeader("1 File uploaded sucessfully.");
  controller->changeErrorTabViewWithIdentifier("1", "Close", true);
  ASSERT_TRUE(waitUntil([&] { return page() == "1"; }, 5000));
  EXPECT_EQ(text("failedUploadHeaderText"), "1 File uploaded sucessfully.");
  EXPECT_LT(uploadingHeight, widget("errorUploadWindow")->height()) << "the window fits the page shown";
  click("errorUploadCloseBtn");
  EXPECT_TRUE(visible("errorReportWindow")) << "the failure page keeps the form";
}

TEST_F(ErrorReport, ClosingTheFormGoesHomeUnlessARepairedFileIsShown) {
  widget<QLineEdit>("emailId")->setText("someone@example.com");
  click("closeErrorReportBtn");
  EXPECT_TRUE(!visible("errorReportWindow") && onPage(qvr::tabs::kMain) && controller->fileClassArray().empty());
  EXPECT_TRUE(widget<QLineEdit>("emailId")->text().isEmpty()) << "the start screen clears the form";

  ASSERT_TRUE(launch(scripted(completingJob())));
  repairStandIn("b.mp4");
  controller->openErrorReportWindow(nullptr);
  click("closeErrorReportBtn");
  EXPECT_TRUE(repaired() && qvr::fs::fileExists(controller->repairedFilePath()));
}

// The workflow over the engines of this build and standard damaged recordings.
class RealEngines : public WorkflowTest {
 protected:
  void SetUp() override {
    WorkflowTest::SetUp();
    ASSERT_TRUE(launch(qvr::EngineFactory::realEngines()));
  }
  testsupport::MadeCase made(const char* name) {
    return testsupport::makeCase(testsupport::standardCase(name), work.file("case"));
  }
  bool finished() const { return repaired() || visible("couldntRepair"); }
};

TEST_F(RealEngines, DamagedMp4IsFirstItsOwnReferenceThenRepairedWithAChosenOne) {
  const testsupport::MadeCase mp4 = made("h264_aac_mp4");
  chooseDamaged(mp4.damaged);
  click("refTabRepairBtn");
  // Cut off before its movie box, the file cannot describe itself.
  ASSERT_TRUE(waitUntil([&] { return visible("selectRefFileBtn") || visible("couldntRepair"); }));
  ASSERT_TRUE(visible("selectRefFileBtn"));
  desktop.panelAnswers.push_back(mp4.reference);
  click("selectRefFileBtn");
  click("refTabRepairBtn");
  ASSERT_TRUE(waitUntil([&] { return finished(); }, 300000));
  ASSERT_TRUE(repaired()) << "the repair failed";
  const std::pair<const char*, const char*> facts[] = {
      {"videoCodecField", "AVC1"}, {"fpsField", "25.00"}, {"tracksField", "2"}};
  for (const auto& [field, value] : facts) EXPECT_EQ(text(field), value) << field;
  EXPECT_FALSE(text("durationField").isEmpty());
}

TEST_F(RealEngines, DamagedAviIsRepairedWithoutAReference) {
  chooseDamaged(made("avi_mpeg4_pcm").damaged);
  click("repairbutton");
  ASSERT_TRUE(waitUntil([&] { return finished(); }, 300000));
  ASSERT_TRUE(repaired());
  EXPECT_EQ(text("tracksField") + text("videoCodecField") + text("fpsField"), "2XVID25.00");
  EXPECT_NE(text("durationField"), QStringLiteral("\u2013")) << "no duration known";
  EXPECT_GT(qvr::fs::fileSize(work.path() + "/.testfile.avi").value_or(0), 1000000u);
}

}  // namespace
}  // namespace apptest
