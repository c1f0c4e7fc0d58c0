#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <atomic>
#include <deque>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/gui/DesktopServices.h"
#include "app/gui/PlatformServices.h"
#include "app/gui/RepairEngines.h"
#include "foundation/Error.h"
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

// The desktop with scripted answers, for the platform and the desktop calls alike; every
// request is recorded. A panel without an answer left is cancelled.
class ScriptedDesktop : public qvr::PlatformServices, public qvr::DesktopServices {
 public:
  std::deque<std::optional<std::string>> panelAnswers;  // open and save panels
  std::optional<std::string> applicationAnswer;
  std::vector<qvr::AlertRequest> alerts;
  int alertAnswer = 0;
  int instances = 1;
  std::string working;
  std::optional<std::string> vlc;
  std::vector<std::string> openedURLs;
  int terminations = 0;
  bool writable = true;
  std::optional<uint64_t> freeBytes = uint64_t{1} << 40;  // none: unreadable
  std::vector<std::string> revealed;
  std::vector<std::vector<std::string>> launches;  // each program, then its arguments
  std::vector<std::string> previews;
  std::vector<std::string> documents;  // the texts shown

  std::optional<std::string> runOpenPanel(const qvr::OpenPanelOptions&) override { return nextAnswer(); }
  std::optional<std::string> runSavePanel(const qvr::SavePanelOptions&) override { return nextAnswer(); }
  std::optional<std::string> runApplicationPanel(const std::string&) override { return applicationAnswer; }
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
  bool isWritableFolder(const std::string&) override { return writable; }
  std::optional<uint64_t> freeSpace(const std::string&) override { return freeBytes; }
  bool revealFile(const std::string& path) override {
    revealed.push_back(path);
    return true;
  }
  bool startDetached(const std::string& program, const std::vector<std::string>& arguments) override {
    launches.push_back(arguments);
    launches.back().insert(launches.back().begin(), program);
    return true;
  }
  void showPreview(const std::string& path) override { previews.push_back(path); }
  bool showDocument(const std::string&, const std::string& text) override {
    documents.push_back(text);
    return true;
  }

 private:
  std::optional<std::string> nextAnswer() {
    if (panelAnswers.empty()) return std::nullopt;
    auto answer = panelAnswers.front();
    panelAnswers.pop_front();
    return answer;
  }
};

// What a scripted job saw and can be steered by; shared between the test and the engine.
struct ScriptedJobState {
  std::atomic<bool> pause{false};
  std::atomic<bool> stop{false};
  std::atomic<bool> running{false};
  std::mutex mutex;
  std::vector<std::string> arguments;  // of the last job
};

// A job body: the delegate, the state and the output path.
using JobScript = std::function<void(RepairFileDelegate&, ScriptedJobState&, const std::string& output)>;

// Either kind of engine, its job played by a script; an AVI passes the validity check if `valid`.
class ScriptedEngine : public qvr::MovEngine, public qvr::AviEngine {
 public:
  ScriptedEngine(std::shared_ptr<ScriptedJobState> state, JobScript script, bool valid = true)
      : state_(std::move(state)), script_(std::move(script)), valid_(valid) {}
  void setDelegate(RepairFileDelegate* delegate) override { delegate_ = delegate; }
  void repairMOVWithRefFileAtPath(const std::string& reference, const std::string& corrupt,
                                  const std::string& repaired) override {
    run({reference, corrupt, repaired});
  }
  bool fileValidityCheckAtPath(const std::string&) override { return valid_; }
  void retrieveAudioVideoSamplesForFileAtPath(const std::string& corrupt, const std::string& repaired) override {
    run({corrupt, repaired});
  }
  void setPauseRepairing(bool pause) override { state_->pause = pause; }
  void setPauseRepairingAVI(bool pause) override { state_->pause = pause; }
  void setStopflag(bool stop) override { state_->stop = stop; }

 private:
  void run(std::vector<std::string> arguments) {
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      state_->arguments = arguments;
    }
    state_->running = true;
    script_(*delegate_, *state_, arguments.back());
    state_->running = false;
  }

  std::shared_ptr<ScriptedJobState> state_;
  JobScript script_;
  bool valid_;
  RepairFileDelegate* delegate_ = nullptr;
};

// Writes `bytes` bytes at `path` as a stand-in for a movie.
inline void writeStandIn(const std::string& path, size_t bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << std::string(bytes, '\x5a');
}

// A job that writes a stand-in, reports the movie's facts and completes.
inline JobScript completingJob() {
  return [](RepairFileDelegate& delegate, ScriptedJobState&, const std::string& output) {
    writeStandIn(output, 2500000);
    for (const char* fact : {"video", "fps", "track", "duration", "audio"}) delegate.repairFileAttribute(fact, fact);
    delegate.repairFileDidComplete();
  };
}

// A job that fails with the given code.
inline JobScript failingJob(int64_t code) {
  return [code](RepairFileDelegate& delegate, ScriptedJobState& state, const std::string&) {
    state.stop = true;
    delegate.repairFileDidFailWithError(qvr::Error(qvr::kRepairErrorDomain, code, {}));
  };
}

// A job that reports a task and progress, then works until stopped (honouring pause); what it
// says once stopped is `ending`, as a stopped engine may still finish or fail on its way out.
inline JobScript endlessJob(JobScript ending = nullptr) {
  return [ending](RepairFileDelegate& delegate, ScriptedJobState& state, const std::string& output) {
    delegate.repairFileDidStartPerformingTask("Locating audio / video data forks..");
    for (int32_t progress = 0; qvr::pausePoint(state.pause, state.stop, std::chrono::milliseconds(20));) {
      delegate.repairFileCurrentTaskProgress(progress = std::min(progress + 1, 99));
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (ending) ending(delegate, state, output);
  };
}

}  // namespace apptest
