#include "DesktopTestSupport.h"
#include "WorkflowFixture.h"
#include "app/gui/Interface.h"
#include "app/gui/PreviewLauncher.h"
#include "app/gui/SaveWorkflow.h"
#include "app/gui/UpdateChecker.h"
#include "foundation/FileSystem.h"
#include "support/LocalHttpServer.h"

namespace apptest {
namespace {

// The controller's Preview, Save, VLC and update actions over a scripted desktop.
class DesktopHooks : public WorkflowTest {
 protected:
  bool start(qvr::AppInfo info) {
    controller = std::make_unique<Quenda_Video_Repair_AppDelegate>(platform, scripted(completingJob()), info);
    controller->setDesktopServices(&desktop);
    controller->updates().finished = [this](bool available) { updateAnswers.push_back(available); };
    if (!controller->applicationWillFinishLaunching()) return false;
    controller->applicationDidFinishLaunching();
    return true;
  }
  void repair(const std::string& name) {
    chooseDamaged(movieIn(name));
    click(qvr::fs::extensionLower(name) == "avi" ? "repairbutton" : "refTabRepairBtn");
    ASSERT_TRUE(waitUntil([&] { return onPage(qvr::tabs::kDetails); }));
  }

  ScriptedDesktop desktop;
  std::vector<bool> updateAnswers;
};

TEST_F(DesktopHooks, PreviewAndVlcButtonsPlayTheTemporaryResult) {
  ASSERT_TRUE(start(testInfo()));
  repair("clip.mov");
  const std::string movResult = controller->repairedFilePath();
  click("prewBtn");
  EXPECT_EQ(desktop.previews, std::vector<std::string>{movResult});
  EXPECT_TRUE(platform.alerts.empty());

  platform.vlc = "/usr/bin/vlc";
  click("prewBtn");
  ASSERT_EQ(desktop.launches.size(), 1u);
  EXPECT_EQ(desktop.launches[0].program, "/usr/bin/vlc");
  EXPECT_EQ(desktop.launches[0].arguments, std::vector<std::string>{movResult});
  EXPECT_EQ(desktop.previews.size(), 1u);

  click("homeBtn");
  platform.vlc.reset();
  repair("clip.avi");
  platform.alertAnswer = 0;
  click("prewBtn");
  ASSERT_EQ(platform.alerts.size(), 1u);
  EXPECT_EQ(platform.alerts[0].title, qvr::vlcMissingAlert().title);
  EXPECT_EQ(desktop.previews.size(), 1u) << "an AVI never goes to the built-in preview";
  EXPECT_EQ(platform.openedURLs.back(), qvr::kDefaultVlcDownloadLink);
  click("installVLC");
  EXPECT_EQ(platform.openedURLs.size(), 2u);

  // An AVI result is saved under its own name.
  desktop.saveAnswers.push_back(work.file("AviCopy"));
  click("prewSaveBtn");
  ASSERT_TRUE(waitUntil([&] { return widget("savingCompletedwindow")->isVisible(); }));
  EXPECT_TRUE(qvr::fs::fileExists(work.file("AviCopy/repaired.avi")));
  click("savingCompletedOK");
}

std::string versionList(const std::string& version) {
  return "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleShortVersionString</key><string>" + version +
         "</string></dict></plist>";
}

TEST_F(DesktopHooks, StartUpCheckAsksOnlyWhenThePublishedVersionDiffers) {
  testsupport::LocalHttpServer server([](const testsupport::LocalHttpServer::Request&) {
    testsupport::LocalHttpServer::Response response;
    response.body = versionList("7.0");
    return response;
  });
  qvr::AppInfo info = testInfo();
  info.cloudPlistUrl = server.baseUrl() + "/version.plist";
  info.shortVersion = "7.0";
  ASSERT_TRUE(start(info));
  ASSERT_TRUE(waitUntil([&] { return !updateAnswers.empty(); }, 20000));
  EXPECT_FALSE(updateAnswers[0]);
  EXPECT_TRUE(platform.alerts.empty());
  EXPECT_TRUE(desktop.launches.empty());

  controller->checkForUpdateClicked(controller->window());  // from the menu
  ASSERT_TRUE(waitUntil([&] { return updateAnswers.size() == 2; }, 20000));
  EXPECT_EQ(desktop.launches.size(), 1u) << "the updater's agent says so";

  controller.reset();
  updateAnswers.clear();
  desktop.launches.clear();
  info.shortVersion = "7.1";
  platform.alertAnswer = 0;
  ASSERT_TRUE(start(info));
  ASSERT_TRUE(waitUntil([&] { return !updateAnswers.empty(); }, 20000));
  ASSERT_EQ(platform.alerts.size(), 1u);
  EXPECT_EQ(platform.alerts[0].title, qvr::updateAlert().title);
  ASSERT_EQ(desktop.launches.size(), 1u);
  EXPECT_EQ(desktop.launches[0].program, qvr::updaterProgram(work.path()));
}

}  // namespace
}  // namespace apptest
