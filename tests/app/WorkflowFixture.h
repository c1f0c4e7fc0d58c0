#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>
#include <memory>

#include "AppTestSupport.h"
#include "app/gui/Quenda_Video_Repair_AppDelegate.h"
#include "support/TestSupport.h"

namespace apptest {

// A started application over a scripted desktop, its working folder in a scratch folder.
class WorkflowTest : public ::testing::Test {
 protected:
  void SetUp() override { platform.working = work.path(); }
  void TearDown() override { controller.reset(); }

  static qvr::AppInfo testInfo() {
    qvr::AppInfo info;
    info.bundleIdentifier = "com.example.repair-test";
    info.helpLink = "https://help.example/guide";
    info.faqAddress = "https://help.example/faq";
    info.supportAddress = "https://help.example/support";
    return info;
  }

  // Scripted engines; each job's body comes from the script of its kind.
  qvr::EngineFactory scripted(JobScript movScript, JobScript aviScript = completingJob(), bool aviValid = true) {
    qvr::EngineFactory factory;
    factory.makeMovEngine = [this, movScript] {
      ++movMade;
      return std::unique_ptr<qvr::MovEngine>(std::make_unique<ScriptedMovEngine>(job, movScript));
    };
    factory.makeAviEngine = [this, aviScript, aviValid] {
      ++aviMade;
      return std::unique_ptr<qvr::AviEngine>(std::make_unique<ScriptedAviEngine>(job, aviScript, aviValid));
    };
    return factory;
  }

  bool launch(qvr::EngineFactory engines) {
    controller = std::make_unique<Quenda_Video_Repair_AppDelegate>(platform, std::move(engines), testInfo());
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

  // Chooses `path` through the browse button's panel.
  void chooseDamaged(const std::string& path) {
    platform.panelAnswers.push_back(path);
    click("browsebutton");
  }
  void chooseReference(const std::string& path) {
    platform.panelAnswers.push_back(path);
    click("selectRefFileBtn");
  }
  std::string movieIn(const std::string& name, size_t bytes = 4096) {
    const std::string path = work.file(name);
    writeStandIn(path, bytes);
    return path;
  }

  testsupport::TempDir work;
  ScriptedPlatform platform;
  std::shared_ptr<ScriptedJobState> job = std::make_shared<ScriptedJobState>();
  int movMade = 0;
  int aviMade = 0;
  std::unique_ptr<Quenda_Video_Repair_AppDelegate> controller;
};

}  // namespace apptest
