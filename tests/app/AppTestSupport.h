#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/gui/PlatformServices.h"
#include "app/gui/RepairEngines.h"
#include "foundation/Pause.h"

namespace apptest {

// Runs the GUI thread's event loop until `done` holds or `timeoutMs` passes.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 60000) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > timeoutMs) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

inline void spin(int ms) {
  waitUntil([] { return false; }, ms);
}

// The desktop with scripted answers; every request is recorded.
class ScriptedPlatform : public qvr::PlatformServices {
 public:
  std::deque<std::optional<std::string>> panelAnswers;
  std::vector<qvr::OpenPanelOptions> panels;
  std::vector<qvr::AlertRequest> alerts;
  int alertAnswer = 0;
  int instances = 1;
  std::string working;
  std::optional<std::string> vlc;
  std::vector<std::string> openedURLs;
  int terminations = 0;

  std::optional<std::string> runOpenPanel(const qvr::OpenPanelOptions& options) override {
    panels.push_back(options);
    if (panelAnswers.empty()) return std::nullopt;
    auto answer = panelAnswers.front();
    panelAnswers.pop_front();
    return answer;
  }
  int runAlert(const qvr::AlertRequest& alert) override {
    alerts.push_back(alert);
    return alertAnswer;
  }
  int runningInstanceCount(const std::string&) override { return instances; }
  std::string workingFolder() override { return working; }
  std::string loginName() override { return "tester"; }
  std::string homeFolder() override { return "/home/tester"; }
  std::optional<std::string> fullPathForApplication(const std::string&) override { return vlc; }
  bool openURL(const std::string& address) override {
    openedURLs.push_back(address);
    return true;
  }
  bool isConnectedToInternet() override { return true; }
  void terminate() override { ++terminations; }
};

// What a scripted job saw and can be steered by; shared between the test and the engine.
struct ScriptedJobState {
  std::atomic<bool> pause{false};
  std::atomic<bool> stop{false};
  std::atomic<bool> running{false};
  std::atomic<bool> finished{false};
  std::atomic<int> jobs{0};
  std::mutex mutex;
  std::vector<std::string> arguments;  // of the last job
};

// A job body: the delegate, the state and the output path.
using JobScript = std::function<void(RepairFileDelegate&, ScriptedJobState&, const std::string& output)>;

class ScriptedMovEngine : public qvr::MovEngine {
 public:
  ScriptedMovEngine(std::shared_ptr<ScriptedJobState> state, JobScript script)
      : state_(std::move(state)), script_(std::move(script)) {}
  void setDelegate(RepairFileDelegate* delegate) override { delegate_ = delegate; }
  void repairMOVWithRefFileAtPath(const std::string& reference, const std::string& corrupt,
                                  const std::string& repaired) override {
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      state_->arguments = {reference, corrupt, repaired};
    }
    state_->running = true;
    script_(*delegate_, *state_, repaired);
    state_->running = false;
    state_->finished = true;
  }
  void setPauseRepairing(bool pause) override { state_->pause = pause; }
  void setStopflag(bool stop) override { state_->stop = stop; }

 private:
  std::shared_ptr<ScriptedJobState> state_;
  JobScript script_;
  RepairFileDelegate* delegate_ = nullptr;
};

class ScriptedAviEngine : public qvr::AviEngine {
 public:
  ScriptedAviEngine(std::shared_ptr<ScriptedJobState> state, JobScript script, bool valid)
      : state_(std::move(state)), script_(std::move(script)), valid_(valid) {}
  void setDelegate(RepairFileDelegate* delegate) override { delegate_ = delegate; }
  bool fileValidityCheckAtPath(const std::string&) override { return valid_; }
  void retrieveAudioVideoSamplesForFileAtPath(const std::string& corrupt, const std::string& repaired) override {
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      state_->arguments = {corrupt, repaired};
    }
    state_->running = true;
    script_(*delegate_, *state_, repaired);
    state_->running = false;
    state_->finished = true;
  }
  void setPauseRepairingAVI(bool pause) override { state_->pause = pause; }
  void setStopflag(bool stop) override { state_->stop = stop; }

 private:
  std::shared_ptr<ScriptedJobState> state_;
  JobScript script_;
  RepairFileDelegate* delegate_ = nullptr;
  bool valid_;
};

// Writes `bytes` bytes at `path` as a stand-in for a repaired movie.
void writeStandIn(const std::string& path, size_t bytes);

// A job that reports the first task and progress, then works until stopped (honouring pause),
// and finally reports completion when `completeAtEnd`, as the MOV engine does even after a stop.
JobScript endlessJob(bool completeAtEnd);
// A job that writes a stand-in, reports the movie's facts and completes.
JobScript completingJob();
// A job that reports that it needs a separate reference.
JobScript referenceRequestJob();
// A job that fails with the given code.
JobScript failingJob(int64_t code);

}  // namespace apptest
