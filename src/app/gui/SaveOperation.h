#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "app/gui/DesktopServices.h"
#include "app/gui/PlatformServices.h"

namespace qvr {

class ReadHandle;
class WriteHandle;

// The saved copy inside the folder the user named: "repaired.mov" for the MOV family, else
// "repaired.avi".
std::string savedFilePathIn(const std::string& folder, bool movFile);

// The copy is displayed in chunks of 1 KiB: N = ceil(size / 1024), percent = i * 100 / N.
inline constexpr uint64_t kSaveChunkSize = 1024;
uint64_t saveChunkCount(uint64_t size);
int32_t savePercent(uint64_t chunk, uint64_t chunkCount);

// The checks between the save panel and the copy.
enum class SaveCheck {
  Ready,
  NotWritable,     // the folder that would hold the new folder takes no new entries
  NotEnoughSpace,  // free space not greater than the file (or unreadable)
  SourceMissing,   // the temporary repaired file is gone or unreadable
};
struct SavePreparation {
  SaveCheck check = SaveCheck::Ready;
  uint64_t sourceSize = 0;
};

// Checks that the parent of `folder` is writable, creates `folder` (mode 0777, no parents; an
// existing one is reused) and compares the free space there with the size of `source`.
SavePreparation prepareSaveFolder(DesktopServices& desktop, const std::string& folder, const std::string& source);
// The alert that ends an attempt that is not Ready.
AlertRequest saveCheckAlert(SaveCheck check);
// The alert shown instead of the completion dialog when the copy failed.
AlertRequest saveFailedAlert();

// One copy of the repaired file into its saved place, on a worker thread of its own. Data moves
// in large blocks; progress is still counted in 1 KiB chunks but reported at most once per
// `minReportInterval` (every chunk when the interval is zero). The copy is written under a
// temporary name and renamed into place when complete, so a stopped or failed copy leaves no
// partial file behind.
class SaveOperation {
 public:
  enum class Outcome { Completed, Cancelled, Failed };
  struct Callbacks {
    // On the worker: `chunk` chunks of `chunkCount` are copied.
    std::function<void(uint64_t chunk, uint64_t chunkCount)> progress;
    // On the worker, once, as its last act; `reason` says what failed.
    std::function<void(Outcome outcome, const std::string& reason)> finished;
  };
  static constexpr uint64_t kBlockChunks = 1024;  // 1 MiB per read and write

  SaveOperation(std::string source, std::string destination, uint64_t size, Callbacks callbacks,
                std::chrono::milliseconds minReportInterval = std::chrono::milliseconds(100));
  // Cancels a running copy and waits for it.
  ~SaveOperation();
  SaveOperation(const SaveOperation&) = delete;
  SaveOperation& operator=(const SaveOperation&) = delete;

  // Opens both files and starts the worker; false (with `error()` set, nothing started and no
  // callback made) when either file cannot be opened.
  bool start();
  const std::string& error() const { return error_; }

  void setPaused(bool paused) { paused_ = paused; }
  bool paused() const { return paused_; }
  void cancel() { cancelled_ = true; }
  bool cancelled() const { return cancelled_; }
  // Waits for the worker to end.
  void wait();

  uint64_t chunkCount() const { return chunkCount_; }
  const std::string& destination() const { return destination_; }
  // How long a paused copy sleeps between looks at its flags.
  void setPausePoll(std::chrono::milliseconds interval) { pausePoll_ = interval; }

 private:
  void run();
  void report(uint64_t first, uint64_t end);
  Outcome copy(std::string& reason);

  std::string source_;
  std::string destination_;
  uint64_t size_;
  uint64_t chunkCount_;
  Callbacks callbacks_;
  std::chrono::milliseconds minReportInterval_;
  std::chrono::milliseconds pausePoll_{100};
  std::chrono::steady_clock::time_point lastReport_{};
  bool reportedOnce_ = false;
  std::unique_ptr<ReadHandle> in_;
  std::unique_ptr<WriteHandle> out_;
  std::string error_;
  std::atomic<bool> paused_{false};
  std::atomic<bool> cancelled_{false};
  std::thread worker_;
};

}  // namespace qvr
