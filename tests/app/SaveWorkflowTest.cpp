#include <signal.h>
#include <sys/resource.h>

#include <filesystem>

#include "DesktopTestSupport.h"
#include "WorkflowFixture.h"
#include "app/gui/Interface.h"
#include "app/gui/SaveWorkflow.h"
#include "foundation/FileSystem.h"

namespace apptest {
namespace {

// A repaired movie on its details screen, ready to be saved through a scripted desktop.
class SaveFlow : public WorkflowTest {
 protected:
  void SetUp() override {
    WorkflowTest::SetUp();
    ASSERT_TRUE(launch(scripted(completingJob())));
    chooseDamaged(movieIn("holiday.mp4"));
    click("refTabRepairBtn");
    ASSERT_TRUE(waitUntil([&] { return onPage(qvr::tabs::kDetails); }));
    controller->setDesktopServices(&desktop);
    controller->saving().minReportInterval = std::chrono::milliseconds(0);
    controller->saving().pausePoll = std::chrono::milliseconds(10);
  }

  void save() { click("prewSaveBtn"); }
  void stopSaving() { click("cancelSaveBtn"); }
  void continueSaving() { click("stopsavingCancelbutton"); }
  void stopSavingOk() { click("stopsavingOKbutton"); }
  void saveCompletedOk() { click("savingCompletedOK"); }

  std::vector<std::string> entriesOf(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
    return names;
  }
  bool dialogShown(const char* name) { return widget(name)->isVisible(); }

  ScriptedDesktop desktop;
};

TEST_F(SaveFlow, CopiesIntoANewFolderThenRevealsItAndStartsOver) {
  const std::string repaired = controller->repairedFilePath();
  const std::vector<uint8_t> original = testsupport::readFile(repaired);
  const std::string folder = work.file("My Repaired");
  desktop.saveAnswers.push_back(folder);
  save();

  ASSERT_EQ(desktop.savePanels.size(), 1u);
  EXPECT_EQ(desktop.savePanels[0].prompt, "Save");
  EXPECT_EQ(desktop.savePanels[0].nameFieldValue, "Repaired");
  EXPECT_EQ(desktop.savePanels[0].startingFolder, "/home/tester");
  EXPECT_TRUE(onPage(qvr::tabs::kSaving));
  EXPECT_EQ(controller->savepath(), folder + "/repaired.mov");
  EXPECT_TRUE(controller->savingProgress());
  EXPECT_EQ(text("upperBoxField"), "Saving Repaired Video File");
  EXPECT_EQ(text("savingNotification"), "Saving File...");
  EXPECT_EQ(text("destinationPath"), QString::fromStdString("Destination Path:" + folder + "/repaired.mov"));
  EXPECT_FALSE(widget("homeBtn")->isEnabled());
  EXPECT_FALSE(widget("helppBtn")->isEnabled());
  EXPECT_FALSE(controller->windowShouldClose()) << "no quitting while saving";

  ASSERT_TRUE(waitUntil([&] { return dialogShown("savingCompletedwindow"); }));
  EXPECT_FALSE(controller->savingProgress());
  EXPECT_EQ(text("savingPercentage"), "100%");
  const auto* bar = widget<QProgressBar>("saveProgressBarr");
  EXPECT_EQ(bar->maximum(), static_cast<int>(qvr::saveChunkCount(original.size())));
  EXPECT_EQ(bar->value(), bar->maximum() - 1);
  EXPECT_EQ(testsupport::readFile(folder + "/repaired.mov"), original);
  EXPECT_EQ(entriesOf(folder).size(), 1u);

  saveCompletedOk();
  EXPECT_FALSE(dialogShown("savingCompletedwindow"));
  EXPECT_EQ(desktop.revealed, std::vector<std::string>{folder + "/repaired.mov"});
  EXPECT_TRUE(onPage(qvr::tabs::kMain));
  EXPECT_TRUE(widget("helppBtn")->isEnabled());
  EXPECT_FALSE(qvr::fs::fileExists(repaired)) << "the temporary result goes with the return to the start";
  EXPECT_TRUE(qvr::fs::fileExists(folder + "/repaired.mov"));
}

TEST_F(SaveFlow, EmptyResultCompletesAtOnce) {
  std::filesystem::resize_file(controller->repairedFilePath(), 0);
  desktop.saveAnswers.push_back(work.file("Repaired"));
  save();
  ASSERT_TRUE(waitUntil([&] { return dialogShown("savingCompletedwindow"); }));
  EXPECT_EQ(text("savingPercentage"), "100%");
  EXPECT_EQ(qvr::fs::fileSize(work.file("Repaired/repaired.mov")), 0u);
}

TEST_F(SaveFlow, RefusalsKeepTheDetailsScreen) {
  save();  // panel cancelled
  EXPECT_TRUE(onPage(qvr::tabs::kDetails));
  EXPECT_TRUE(platform.alerts.empty());

  desktop.writable = false;
  desktop.saveAnswers.push_back(work.file("ReadOnly"));
  save();
  ASSERT_EQ(platform.alerts.size(), 1u);
  EXPECT_EQ(platform.alerts[0].title, "! Disk is not writable");
  EXPECT_FALSE(qvr::fs::fileExists(work.file("ReadOnly")));
  EXPECT_TRUE(onPage(qvr::tabs::kDetails));

  desktop.writable = true;
  desktop.freeBytes = std::optional<uint64_t>(qvr::fs::fileSize(controller->repairedFilePath()).value());
  desktop.saveAnswers.push_back(work.file("Full"));
  save();
  ASSERT_EQ(platform.alerts.size(), 2u);
  EXPECT_EQ(platform.alerts[1].title, "! Not enough free disk space");
  EXPECT_TRUE(entriesOf(work.file("Full")).empty()) << "the new folder stays, empty";
  EXPECT_TRUE(onPage(qvr::tabs::kDetails));
  EXPECT_FALSE(controller->savingProgress());
}

TEST_F(SaveFlow, StopWhilePausedRemovesThePartialCopy) {
  // Big enough that the copy is still running when the stop button is pressed.
  std::filesystem::resize_file(controller->repairedFilePath(), 96u << 20);
  const std::string folder = work.file("Stopped");
  desktop.saveAnswers.push_back(folder);
  save();
  stopSaving();
  EXPECT_TRUE(dialogShown("stopsavingwindow"));
  EXPECT_TRUE(controller->pauseSaving());
  EXPECT_FALSE(widget<ActivityIndicator>("savingAnimation")->isAnimating());
  spin(100);
  const int frozen = widget<QProgressBar>("saveProgressBarr")->value();
  spin(100);
  EXPECT_EQ(widget<QProgressBar>("saveProgressBarr")->value(), frozen) << "a paused copy stands still";

  continueSaving();
  EXPECT_FALSE(dialogShown("stopsavingwindow"));
  EXPECT_TRUE(widget<ActivityIndicator>("savingAnimation")->isAnimating());
  stopSaving();
  stopSavingOk();
  EXPECT_FALSE(dialogShown("stopsavingwindow"));
  EXPECT_FALSE(dialogShown("savingCompletedwindow"));
  EXPECT_TRUE(onPage(qvr::tabs::kMain));
  EXPECT_FALSE(controller->savingProgress());
  EXPECT_FALSE(controller->pauseSaving());
  EXPECT_TRUE(entriesOf(folder).empty());
  EXPECT_FALSE(qvr::fs::fileExists(controller->repairedFilePath())) << "the repair has to be run again";
  spin(200);
  EXPECT_TRUE(entriesOf(folder).empty()) << "nothing arrives after the stop";
}

TEST_F(SaveFlow, WriteFailureShowsAnErrorInsteadOfCompletion) {
  const std::string folder = work.file("Limited");
  desktop.saveAnswers.push_back(folder);
  struct rlimit old {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto previous = signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 64 * 1024;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  save();
  const bool ended = waitUntil([&] { return !controller->savingProgress(); }, 30000);
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, previous);
  ASSERT_TRUE(ended);

  ASSERT_EQ(platform.alerts.size(), 1u);
  EXPECT_EQ(platform.alerts[0].title, qvr::saveFailedAlert().title);
  EXPECT_FALSE(dialogShown("savingCompletedwindow"));
  EXPECT_TRUE(entriesOf(folder).empty());
  EXPECT_TRUE(onPage(qvr::tabs::kDetails)) << "the repaired file is still there to be saved elsewhere";
  EXPECT_TRUE(widget("homeBtn")->isEnabled());
  EXPECT_TRUE(qvr::fs::fileExists(controller->repairedFilePath()));

  // A second try in a roomy place works.
  desktop.saveAnswers.push_back(work.file("Roomy"));
  save();
  ASSERT_TRUE(waitUntil([&] { return dialogShown("savingCompletedwindow"); }));
  EXPECT_EQ(testsupport::readFile(work.file("Roomy/repaired.mov")),
            testsupport::readFile(controller->repairedFilePath()));
}

}  // namespace
}  // namespace apptest
