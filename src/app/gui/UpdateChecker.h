#pragma once

#include <QObject>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "app/gui/DesktopServices.h"
#include "app/gui/PlatformServices.h"

namespace qvr {

// The published version compared with ours: true only when both version strings are present and
// differ (equality, not order: a published older version counts too). An unreachable server,
// an answer other than 2xx, a body that is no property list or a missing key count as false.
bool checkForUpdate(const std::string& cloudPlistUrl, const std::string& localVersion,
                    std::chrono::seconds timeout = std::chrono::seconds(15));

// The address with every space written as %20.
std::string escapeSpaces(const std::string& address);

// The updater installed in the working folder: the program ".refresher" there, or the folder
// ".refresher" holding the program "refresher"; its agent is "Refresher Agent" in that folder.
std::string updaterProgram(const std::string& workingFolder);
std::string updaterAgent(const std::string& workingFolder);

// The alert that offers the update.
AlertRequest updateAlert();

// Runs the check on a worker thread of its own and asks the question on the GUI thread.
class UpdateChecker : public QObject {
  Q_OBJECT

 public:
  UpdateChecker(PlatformServices& platform, DesktopServices& desktop, std::string cloudPlistUrl,
                std::string localVersion);
  // Waits for a running check (bounded by the request's timeout).
  ~UpdateChecker() override;

  // `userAsked`: from the menu, so a negative answer starts the updater's agent to say so;
  // at start-up a negative answer shows nothing. A click while a check runs is ignored.
  void checkForUpdateClicked(bool userAsked);
  bool running() const { return running_; }
  // Called on the GUI thread when a check has finished (tests wait for it).
  std::function<void(bool updateAvailable)> finished;

  std::chrono::seconds timeout{15};

 private:
  void answerOnGui(bool available, bool userAsked);

  PlatformServices& platform_;
  DesktopServices& desktop_;
  std::string cloudPlistUrl_;
  std::string localVersion_;
  std::atomic<bool> running_{false};
  std::thread worker_;
};

}  // namespace qvr
