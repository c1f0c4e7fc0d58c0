#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>
#include <memory>

#include "AppTestSupport.h"
#include "app/gui/Interface.h"
#include "app/gui/Quenda_Video_Repair_AppDelegate.h"
#include "foundation/FileSystem.h"
#include "support/TestSupport.h"

namespace apptest {

// A started application over a scripted desktop, its working folder in a scratch folder.
class WorkflowTest : public ::testing::Test {
 protected:
  void SetUp() override { desktop.working = work.path(); }
  void TearDown() override { controller.reset(); }

  static qvr::AppInfo testInfo() {
    qvr::AppInfo info;
    info.helpLink = "https://help.example/guide";
    info.supportAddress = "https://help.example/support";
    return info;
  }

  // Scripted engines; each job's body comes from the script of its kind.
  qvr::EngineFactory scripted(JobScript movScript, JobScript aviScript = completingJob(), bool aviValid = true) {
    qvr::EngineFactory factory;
    factory.makeMovEngine = [this, movScript] {
      ++made;
      return std::unique_ptr<qvr::MovEngine>(std::make_unique<ScriptedEngine>(job, movScript));
    };
    factory.makeAviEngine = [this, aviScript, aviValid] {
      ++made;
      return std::unique_ptr<qvr::AviEngine>(std::make_unique<ScriptedEngine>(job, aviScript, aviValid));
    };
    return factory;
  }

  bool launch(qvr::EngineFactory engines, qvr::AppInfo info = testInfo()) {
    controller.reset();
    controller = std::make_unique<Quenda_Video_Repair_AppDelegate>(desktop, std::move(engines), std::move(info));
    controller->setDesktopServices(&desktop);
    if (!controller->applicationWillFinishLaunching()) return false;
    controller->applicationDidFinishLaunching();
    return true;
  }

  template <typename T = QWidget>
  T* widget(const char* name) const {
    T* found = controller->window()->findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
  }
  QString text(const char* label) const { return widget<QLabel>(label)->text(); }
  bool visible(const char* name) const { return widget(name)->isVisible(); }
  void click(const char* button) { widget<QAbstractButton>(button)->click(); }
  bool onPage(const char* identifier) const {
    return controller->ui().tabview->currentWidget() == controller->ui().page(identifier);
  }

  std::string movieIn(const std::string& name) {
    writeStandIn(work.file(name), 4096);
    return work.file(name);
  }
  // Chooses `path` through the browse button's panel.
  void chooseDamaged(const std::string& path) {
    desktop.panelAnswers.push_back(path);
    click("browsebutton");
  }
  // Chooses a stand-in movie and presses the repair button of its screen.
  void startRepair(const std::string& name) {
    chooseDamaged(movieIn(name));
    click(qvr::fs::extensionLower(name) == "avi" ? "repairbutton" : "refTabRepairBtn");
  }
  bool repaired() const { return onPage(qvr::tabs::kDetails); }
  void repairStandIn(const std::string& name) {
    startRepair(name);
    ASSERT_TRUE(waitUntil([&] { return repaired(); }));
  }

  testsupport::TempDir work;
  ScriptedDesktop desktop;
  std::shared_ptr<ScriptedJobState> job = std::make_shared<ScriptedJobState>();
  int made = 0;  // engines
  std::unique_ptr<Quenda_Video_Repair_AppDelegate> controller;
};

}  // namespace apptest
