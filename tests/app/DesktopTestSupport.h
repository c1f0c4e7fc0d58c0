#pragma once

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/gui/DesktopServices.h"
#include "foundation/FileSystem.h"

namespace apptest {

// The desktop calls of saving, previewing and updating, scripted and recorded.
class ScriptedDesktop : public qvr::DesktopServices {
 public:
  struct Launch {
    std::string program;
    std::vector<std::string> arguments;
  };

  std::deque<std::optional<std::string>> saveAnswers;
  std::vector<qvr::SavePanelOptions> savePanels;
  std::optional<std::string> applicationAnswer;
  std::vector<std::string> applicationPanels;
  bool writable = true;
  // None: the real free space of the folder.
  std::optional<std::optional<uint64_t>> freeBytes;
  std::vector<std::string> revealed;
  std::vector<Launch> launches;
  bool launchSucceeds = true;
  std::vector<std::string> previews;

  std::optional<std::string> runSavePanel(const qvr::SavePanelOptions& options) override {
    savePanels.push_back(options);
    if (saveAnswers.empty()) return std::nullopt;
    auto answer = saveAnswers.front();
    saveAnswers.pop_front();
    return answer;
  }
  std::optional<std::string> runApplicationPanel(const std::string& startingFolder) override {
    applicationPanels.push_back(startingFolder);
    return applicationAnswer;
  }
  bool isWritableFolder(const std::string&) override { return writable; }
  std::optional<uint64_t> freeSpace(const std::string& path) override;
  bool revealFile(const std::string& path) override {
    revealed.push_back(path);
    return true;
  }
  bool startDetached(const std::string& program, const std::vector<std::string>& arguments) override {
    launches.push_back({program, arguments});
    return launchSucceeds;
  }
  void showPreview(const std::string& path) override { previews.push_back(path); }
};

inline std::optional<uint64_t> ScriptedDesktop::freeSpace(const std::string& path) {
  if (freeBytes) return *freeBytes;
  return qvr::fs::freeSpace(path);
}

}  // namespace apptest
