#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QUrl>

#include "WorkflowFixture.h"
#include "app/gui/Interface.h"
#include "foundation/FileSystem.h"

namespace apptest {
namespace {

using Workflow = WorkflowTest;

TEST_F(Workflow, StartsAloneOnTheStartScreen) {
  ASSERT_TRUE(launch(scripted(completingJob())));
  EXPECT_TRUE(controller->window()->isVisible());
  EXPECT_TRUE(onPage(qvr::tabs::kMain));
  EXPECT_EQ(text("upperBoxField"), "Add a video file to repair");
  EXPECT_FALSE(widget("homeBtn")->isEnabled());
  EXPECT_TRUE(widget("helppBtn")->isEnabled());
  EXPECT_FALSE(visible("backBtn"));
  EXPECT_FALSE(visible("repairbutton"));
  EXPECT_FALSE(visible("fileStatus"));
  EXPECT_TRUE(platform.alerts.empty());
  EXPECT_EQ(platform.terminations, 0);
  EXPECT_EQ(controller->errordelegate(), static_cast<ErrorReportDelegate*>(controller.get()));

  click("helppBtn");
  ASSERT_EQ(platform.openedURLs.size(), 1u);
  EXPECT_EQ(platform.openedURLs[0], "https://help.example/guide");
}

TEST_F(Workflow, SecondCopyIsRefusedAndEnds) {
  platform.instances = 2;
  EXPECT_FALSE(launch(scripted(completingJob())));
  ASSERT_EQ(platform.alerts.size(), 1u);
  EXPECT_EQ(platform.alerts[0].title, "Alert");
  EXPECT_EQ(platform.alerts[0].message, "Application is alredy running.");
  EXPECT_EQ(platform.alerts[0].buttons, std::vector<std::string>{"OK"});
  EXPECT_EQ(platform.terminations, 1);
  EXPECT_FALSE(controller->window()->isVisible());
}

TEST_F(Workflow, ChoosingAFilePicksTheEngineKindScreenAndWorkingPath) {
  ASSERT_TRUE(launch(scripted(completingJob())));

  click("browsebutton");  // cancelled
  EXPECT_TRUE(controller->corruptFilePath().empty());
  ASSERT_EQ(platform.panels.size(), 1u);
  EXPECT_EQ(platform.panels[0].allowedFileTypes, (std::vector<std::string>{"mov", "mp4", "m4v", "avi"}));
  EXPECT_EQ(platform.panels[0].startingFolder, "/home/tester");

  // A name typed with another extension changes nothing on screen but is listed for a report.
  chooseDamaged(movieIn("notes.txt"));
  EXPECT_TRUE(onPage(qvr::tabs::kMain));
  EXPECT_FALSE(visible("repairbutton"));
  EXPECT_FALSE(controller->aviFile() || controller->movFile());
  EXPECT_EQ(controller->fileClassArray().size(), 1u);

  const std::string avi = movieIn("clip.AVI");
  chooseDamaged(avi);
  EXPECT_TRUE(controller->aviFile());
  EXPECT_TRUE(onPage(qvr::tabs::kMain));
  EXPECT_EQ(text("fileStatus"), "File Selected");
  EXPECT_EQ(text("filePathUp"), QString::fromStdString("Path:" + avi));
  EXPECT_TRUE(visible("repairbutton") && visible("backBtn") && visible("fileStatus") && visible("filePathUp"));
  EXPECT_FALSE(visible("selectFileText"));
  EXPECT_EQ(controller->repairedFilePath(), work.path() + "/.testfile.avi");

  const std::string mp4 = movieIn("HOLIDAY.MP4");
  chooseDamaged(mp4);
  EXPECT_TRUE(controller->movFile());
  EXPECT_TRUE(onPage(qvr::tabs::kReference));
  EXPECT_EQ(text("refTabFileStatus"), "File Selected");
  EXPECT_EQ(text("refTabCorruptPath"), QString::fromStdString("Corrupted File:" + mp4));
  EXPECT_TRUE(text("whyMovFile").contains("Why i need to select a reference file?"));
  EXPECT_TRUE(text("whyMovFile").contains("https://help.example/faq"));
  for (const char* hidden : {"selectRefFileBtn", "nextstepTextField", "whyMovFile", "refTabRefFilePath"}) {
    EXPECT_FALSE(visible(hidden)) << hidden;
  }
  EXPECT_TRUE(widget("refTabRepairBtn")->isEnabled());
  EXPECT_EQ(controller->repairedFilePath(), work.path() + "/.testfile.mov");
  EXPECT_EQ(controller->referenceFilePath(), mp4) << "the first repair uses the file as its own reference";
  // No duplicate test on this list: every choice is one more entry.
  EXPECT_EQ(controller->fileClassArray().size(), 3u);
  EXPECT_TRUE(controller->fileClassArray().back().select);
}

TEST_F(Workflow, RepairShowsProgressThenTheDetailsOfTheResult) {
  ASSERT_TRUE(launch(scripted(completingJob())));
  const std::string mp4 = movieIn("beach.mov");
  chooseDamaged(mp4);
  click("refTabRepairBtn");
  EXPECT_TRUE(onPage(qvr::tabs::kRepairing));
  EXPECT_EQ(text("upperBoxField"), "Repairing the video file");
  EXPECT_EQ(text("repCorruptFilePath"), QString::fromStdString("Corrupted File:" + mp4));
  EXPECT_EQ(text("repHealthyFilePath"), QString::fromStdString("Healthy File:" + mp4));
  EXPECT_EQ(text("elapsedTime"), "00:00:00");
  EXPECT_FALSE(widget("helppBtn")->isEnabled());
  ASSERT_TRUE(waitUntil([&] { return onPage(qvr::tabs::kDetails); }));
  {
    std::lock_guard<std::mutex> lock(job->mutex);
    EXPECT_EQ(job->arguments, (std::vector<std::string>{mp4, mp4, work.path() + "/.testfile.mov"}));
  }
  EXPECT_EQ(text("upperBoxField"), "Details of repaired video file");
  EXPECT_EQ(text("fileNamefield"), "beach.mov");
  EXPECT_EQ(text("sizeField"), "2.50 MB");
  EXPECT_EQ(text("videoCodecField"), "AVC1");
  EXPECT_EQ(text("fpsField"), "25.00");
  EXPECT_EQ(text("tracksField"), "2");
  EXPECT_EQ(text("durationField"), "0:0:6");
  EXPECT_TRUE(text("currentstatus").isEmpty());
  EXPECT_TRUE(widget("homeBtn")->isEnabled());
  EXPECT_TRUE(widget("helppBtn")->isEnabled());
  EXPECT_FALSE(controller->repairing());
  EXPECT_TRUE(visible("installVLC") && visible("noteTxt")) << "no VLC on this desktop";
}

TEST_F(Workflow, InstalledVlcHidesItsInstallNote) {
  platform.vlc = "/usr/bin/vlc";
  ASSERT_TRUE(launch(scripted(completingJob())));
  chooseDamaged(movieIn("a.mp4"));
  click("refTabRepairBtn");
  ASSERT_TRUE(waitUntil([&] { return onPage(qvr::tabs::kDetails); }));
  EXPECT_FALSE(visible("installVLC"));
  EXPECT_FALSE(visible("noteTxt"));
}

TEST_F(Workflow, PauseFreezesTheDisplayAndDisablesStop) {
  ASSERT_TRUE(launch(scripted(endlessJob(false))));
  chooseDamaged(movieIn("a.mp4"));
  click("refTabRepairBtn");
  ASSERT_TRUE(waitUntil([&] { return text("percent") != "0%" && text("elapsedTime") != "00:00:00"; }));
  EXPECT_EQ(text("currentstatus"), "Locating audio / video data forks..");

  click("repPauseBtn");
  EXPECT_EQ(widget<QAbstractButton>("repPauseBtn")->text(), "Resume");
  EXPECT_FALSE(widget("repCancelBtn")->isEnabled());
  EXPECT_TRUE(job->pause);
  EXPECT_FALSE(controller->ui().animView->isAnimating());
  const QString frozenPercent = text("percent");
  const QString frozenElapsed = text("elapsedTime");
  controller->repairFileCurrentTaskProgress(77);
  controller->repairFileDidStartPerformingTask("Writing audio / video data forks..");
  spin(2300);
  EXPECT_EQ(text("percent"), frozenPercent);
  EXPECT_EQ(text("elapsedTime"), frozenElapsed);

  click("repPauseBtn");
  EXPECT_EQ(widget<QAbstractButton>("repPauseBtn")->text(), "Pause");
  EXPECT_TRUE(widget("repCancelBtn")->isEnabled());
  EXPECT_FALSE(job->pause);
  EXPECT_TRUE(controller->ui().animView->isAnimating());
  ASSERT_TRUE(waitUntil([&] { return text("elapsedTime") != frozenElapsed; }, 3000));
  // The start was not moved by the pause: the elapsed time includes it.
  EXPECT_GE(text("elapsedTime"), "00:00:03");
}

TEST_F(Workflow, StopAsksFirstThenAbortsAndReturnsToTheStart) {
  // The job announces completion even after a stop, as the MOV engine does.
  ASSERT_TRUE(launch(scripted(endlessJob(true))));
  chooseDamaged(movieIn("a.m4v"));
  click("refTabRepairBtn");
  ASSERT_TRUE(waitUntil([&] { return job->running.load(); }));

  click("repCancelBtn");
  EXPECT_TRUE(visible("stoprepairwindow"));
  EXPECT_TRUE(job->pause) << "the question pauses the job";
  click("stoprepaircancelbutton");
  EXPECT_FALSE(visible("stoprepairwindow"));
  EXPECT_FALSE(job->pause);
  EXPECT_TRUE(controller->repairing());

  click("repCancelBtn");
  click("stoprepairokbutton");
  EXPECT_TRUE(job->stop);
  EXPECT_FALSE(job->pause) << "a paused engine must be resumed to see the stop";
  EXPECT_FALSE(controller->repairing());
  EXPECT_FALSE(visible("stoprepairwindow"));
  EXPECT_TRUE(visible("repairAbortedWindow"));

  // What the stopped job still says is not shown.
  ASSERT_TRUE(waitUntil([&] { return job->finished.load(); }));
  spin(200);
  EXPECT_TRUE(onPage(qvr::tabs::kRepairing));
  EXPECT_FALSE(visible("couldntRepair"));

  click("repairAbortedOkBtn");
  EXPECT_FALSE(visible("repairAbortedWindow"));
  EXPECT_TRUE(onPage(qvr::tabs::kMain));
  EXPECT_FALSE(qvr::fs::fileExists(work.path() + "/.testfile.mov"));
}

TEST_F(Workflow, BusyRepairRefusesASecondStartHomeAndClosing) {
  ASSERT_TRUE(launch(scripted(endlessJob(false))));
  chooseDamaged(movieIn("a.mp4"));
  click("refTabRepairBtn");
  ASSERT_TRUE(waitUntil([&] { return job->running.load(); }));

  controller->repair(nullptr);
  spin(100);
  EXPECT_EQ(movMade, 1);

  controller->mainScreen(nullptr);
  EXPECT_TRUE(onPage(qvr::tabs::kRepairing));
  EXPECT_FALSE(controller->corruptFilePath().empty());

  click("closeBtn");
  ASSERT_EQ(platform.alerts.size(), 1u);
  EXPECT_EQ(platform.alerts[0].title, "Information");
  EXPECT_EQ(platform.alerts[0].message, "Repairinig is in progress..");
  EXPECT_EQ(platform.alerts[0].buttons, std::vector<std::string>{"Ok"});
  EXPECT_TRUE(controller->window()->isVisible());
  EXPECT_EQ(platform.terminations, 0);
  EXPECT_TRUE(job->running);

  controller->setSavingProgress(true);
  controller->setRepairing(false);
  EXPECT_FALSE(controller->windowShouldClose());
  EXPECT_EQ(platform.alerts.back().message, "Saving is in progress..");
  controller->mainScreen(nullptr);
  EXPECT_TRUE(onPage(qvr::tabs::kRepairing)) << "home does nothing while saving either";
  controller->setSavingProgress(false);
}

TEST_F(Workflow, ReturningToTheStartClearsEverythingSoAnAviFollowsAMov) {
  ASSERT_TRUE(launch(scripted(completingJob())));
  chooseDamaged(movieIn("first.mov"));
  click("refTabRepairBtn");
  ASSERT_TRUE(waitUntil([&] { return onPage(qvr::tabs::kDetails); }));
  const std::string repaired = work.path() + "/.testfile.mov";
  ASSERT_TRUE(qvr::fs::fileExists(repaired));

  click("prewTabHomeBtn");
  EXPECT_TRUE(onPage(qvr::tabs::kMain));
  for (const char* field :
       {"fileNamefield", "sizeField", "tracksField", "videoCodecField", "fpsField", "durationField", "filePathUp"}) {
    EXPECT_TRUE(text(field).isEmpty()) << field;
  }
  EXPECT_FALSE(controller->movFile());
  EXPECT_FALSE(controller->aviFile());
  EXPECT_TRUE(controller->corruptFilePath().empty());
  EXPECT_TRUE(controller->referenceFilePath().empty());
  EXPECT_TRUE(controller->fileClassArray().empty());
  EXPECT_EQ(controller->repair(), nullptr);
  EXPECT_FALSE(qvr::fs::fileExists(repaired));
  EXPECT_EQ(text("upperBoxField"), "Add a video file to repair");

  chooseDamaged(movieIn("second.avi"));
  click("repairbutton");
  ASSERT_TRUE(waitUntil([&] { return onPage(qvr::tabs::kDetails); }));
  EXPECT_EQ(aviMade, 1);
  EXPECT_EQ(movMade, 1);
  EXPECT_EQ(text("fileNamefield"), "second.avi");
  EXPECT_TRUE(qvr::fs::fileExists(work.path() + "/.testfile.avi"));

  // Closing once the job is over quits and takes the temporary file along.
  click("closeBtn");
  EXPECT_EQ(platform.terminations, 1);
  EXPECT_TRUE(platform.alerts.empty());
  EXPECT_FALSE(qvr::fs::fileExists(work.path() + "/.testfile.avi"));
}

TEST_F(Workflow, AviFailingTheValidityCheckIsRefusedWithAnAlert) {
  ASSERT_TRUE(launch(scripted(completingJob(), completingJob(), /*aviValid=*/false)));
  chooseDamaged(movieIn("broken.avi"));
  click("repairbutton");
  ASSERT_EQ(platform.alerts.size(), 1u);
  EXPECT_EQ(platform.alerts[0].title, "Invalid corrupted file");
  EXPECT_EQ(platform.alerts[0].message, "Select a movie file");
  EXPECT_EQ(platform.alerts[0].buttons, std::vector<std::string>{"OK"});
  EXPECT_TRUE(onPage(qvr::tabs::kMain));
  EXPECT_FALSE(controller->repairing());
  EXPECT_FALSE(job->running);
  EXPECT_FALSE(controller->jobThreadAlive());
}

TEST_F(Workflow, FailureShowsTheCouldNotRepairDialogWithItsSupportLink) {
  ASSERT_TRUE(launch(scripted(failingJob(101))));
  chooseDamaged(movieIn("a.mp4"));
  click("refTabRepairBtn");
  ASSERT_TRUE(waitUntil([&] { return visible("couldntRepair"); }));
  EXPECT_FALSE(controller->repairing());
  const QString support = text("supportTextfield");
  EXPECT_TRUE(support.contains("Please "));
  EXPECT_TRUE(support.contains(">contact support</a>"));
  EXPECT_TRUE(support.contains(" for helping you with repairing this file."));
  EXPECT_TRUE(support.contains("https://help.example/support"));
  EXPECT_TRUE(widget("shareBtn")->hasFocus() || !QApplication::focusWidget());
  emit widget<QLabel>("supportTextfield")->linkActivated("https://help.example/support");
  EXPECT_EQ(platform.openedURLs.back(), "https://help.example/support");

  click("couldNotRepairOkBtn");
  EXPECT_FALSE(visible("couldntRepair"));
  EXPECT_TRUE(onPage(qvr::tabs::kMain));
}

TEST_F(Workflow, ReferenceRequestAsksOnceThenAFailureIsFinal) {
  ASSERT_TRUE(launch(scripted(referenceRequestJob())));
  const std::string mp4 = movieIn("a.mp4");
  chooseDamaged(mp4);
  click("refTabRepairBtn");
  ASSERT_TRUE(waitUntil([&] { return visible("selectRefFileBtn"); }));
  EXPECT_TRUE(onPage(qvr::tabs::kReference));
  EXPECT_EQ(text("upperBoxField"), "Select a healthy reference file to repair");
  EXPECT_TRUE(visible("nextstepTextField") && visible("whyMovFile"));
  EXPECT_FALSE(visible("refTabRefFilePath"));
  EXPECT_FALSE(widget("refTabRepairBtn")->isEnabled());

  const std::string reference = movieIn("good.mts");
  chooseReference(reference);
  EXPECT_EQ(platform.panels.back().allowedFileTypes, (std::vector<std::string>{"mov", "mp4", "m4v", "mts"}));
  EXPECT_EQ(controller->referenceFilePath(), reference);
  EXPECT_EQ(text("refTabRefFilePath"), QString::fromStdString("Healthy File:" + reference));
  EXPECT_TRUE(visible("refTabRefFilePath"));
  EXPECT_FALSE(visible("nextstepTextField"));
  EXPECT_TRUE(widget("refTabRepairBtn")->isEnabled());

  click("refTabRepairBtn");
  ASSERT_TRUE(waitUntil([&] { return visible("couldntRepair"); }));
  std::lock_guard<std::mutex> lock(job->mutex);
  EXPECT_EQ(job->arguments, (std::vector<std::string>{reference, mp4, work.path() + "/.testfile.mov"}));
  EXPECT_EQ(movMade, 2) << "every start makes a new engine";
}

TEST_F(Workflow, CompletionWithoutARepairedFileIsNoSuccess) {
  JobScript nothingWritten = [](RepairFileDelegate& delegate, ScriptedJobState&, const std::string&) {
    delegate.repairFileDidComplete();
  };
  ASSERT_TRUE(launch(scripted(nothingWritten)));
  chooseDamaged(movieIn("a.mp4"));
  click("refTabRepairBtn");
  ASSERT_TRUE(waitUntil([&] { return visible("couldntRepair"); }));
  EXPECT_FALSE(onPage(qvr::tabs::kDetails));
}

TEST_F(Workflow, DroppedMovieIsTakenOnTheStartScreenOnly) {
  ASSERT_TRUE(launch(scripted(endlessJob(false))));
  const std::string mp4 = movieIn("dropped.mp4");
  EXPECT_TRUE(controller->canTakeDroppedFile(mp4));
  EXPECT_FALSE(controller->canTakeDroppedFile(movieIn("notes.txt")));
  EXPECT_FALSE(controller->canTakeDroppedFile(work.path() + "/missing.mov"));

  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(mp4))});
  QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(controller->window(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  EXPECT_TRUE(controller->ui().dropZone->property("active").toBool());
  QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(controller->window(), &drop);
  EXPECT_TRUE(onPage(qvr::tabs::kReference));
  EXPECT_EQ(controller->corruptFilePath(), mp4);
  EXPECT_FALSE(controller->canTakeDroppedFile(mp4)) << "not while another screen is up";

  click("refTabRepairBtn");
  ASSERT_TRUE(waitUntil([&] { return job->running.load(); }));
  EXPECT_FALSE(controller->canTakeDroppedFile(mp4));
}

TEST_F(Workflow, KeyboardReachesEveryButtonAndTheWindowResizes) {
  ASSERT_TRUE(launch(scripted(completingJob())));
  const auto buttons = controller->window()->findChildren<QAbstractButton*>();
  ASSERT_GT(buttons.size(), 20);
  for (QAbstractButton* button : buttons) {
    EXPECT_TRUE(button->focusPolicy() & Qt::TabFocus) << button->objectName().toStdString();
  }
  // Return presses the focused button as a click would.
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(widget("browsebutton"), &enter);
  spin(300);
  EXPECT_EQ(platform.panels.size(), 1u);

  QWidget* window = controller->window();
  EXPECT_GE(window->minimumWidth(), 700);
  EXPECT_GE(window->minimumHeight(), 500);
  EXPECT_GT(window->maximumWidth(), window->minimumWidth());
  window->resize(1400, 900);
  spin(50);
  EXPECT_EQ(window->size(), QSize(1400, 900));
  window->resize(200, 200);
  spin(50);
  EXPECT_EQ(window->size(), window->minimumSize());
}

}  // namespace
}  // namespace apptest
