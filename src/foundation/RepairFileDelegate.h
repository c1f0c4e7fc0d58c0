#pragma once

#include <cstdint>
#include <string>

#include "foundation/Error.h"

// The report protocol of both repair engines. Every message is sent on the job's worker thread;
// the receiver moves work to its own thread. The engine holds a non-owning pointer whose lifetime
// the owner guarantees for the job's duration.
class RepairFileDelegate {
 public:
  virtual ~RepairFileDelegate() = default;
  virtual void repairFileDidStartPerformingTask(const std::string& task) = 0;
  virtual void repairFileCurrentTaskProgress(int32_t percentage) = 0;
  virtual void repairFileAttribute(const std::string& key, const std::string& value) = 0;
  virtual void repairFileDidComplete() = 0;
  virtual void repairFileDidFailWithError(const qvr::Error& error) = 0;
  virtual void moveBackToSelectReferenceFile() = 0;
};

// Engine errors share one domain and one userInfo key.
namespace qvr {
inline constexpr const char* kRepairErrorDomain = "com.hollin.videorepair";
inline constexpr const char* kErrorReasonKey = "Error reason";
inline constexpr int64_t kErrorCannotWrite = 106;
inline constexpr const char* kCannotWriteReason = "Can not write the repaired file";

// The "duration" attribute both engines report: hours, minutes and seconds, unpadded.
inline std::string durationAttribute(uint64_t seconds) {
  return std::to_string(seconds / 3600) + ":" + std::to_string(seconds % 3600 / 60) + ":" +
         std::to_string(seconds % 60);
}
}  // namespace qvr
