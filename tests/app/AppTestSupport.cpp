#include "AppTestSupport.h"

#include <fstream>

#include "foundation/Error.h"

namespace apptest {

void writeStandIn(const std::string& path, size_t bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::string block(bytes, '\x5a');
  out.write(block.data(), static_cast<std::streamsize>(block.size()));
}

JobScript endlessJob(bool completeAtEnd) {
  return [completeAtEnd](RepairFileDelegate& delegate, ScriptedJobState& state, const std::string& output) {
    delegate.repairFileDidStartPerformingTask("Locating audio / video data forks..");
    int32_t progress = 0;
    while (qvr::pausePoint(state.pause, state.stop, std::chrono::milliseconds(20))) {
      delegate.repairFileCurrentTaskProgress(progress);
      progress = std::min(progress + 1, 99);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (completeAtEnd) {
      writeStandIn(output, 1000);
      delegate.repairFileDidComplete();
    }
  };
}

JobScript completingJob() {
  return [](RepairFileDelegate& delegate, ScriptedJobState&, const std::string& output) {
    delegate.repairFileDidStartPerformingTask("Writing audio / video data forks..");
    delegate.repairFileCurrentTaskProgress(100);
    writeStandIn(output, 2500000);
    delegate.repairFileAttribute("video", "AVC1");
    delegate.repairFileAttribute("fps", "25.00");
    delegate.repairFileAttribute("track", "2");
    delegate.repairFileAttribute("duration", "0:0:6");
    delegate.repairFileAttribute("audio", "ignored");
    delegate.repairFileDidComplete();
  };
}

JobScript referenceRequestJob() {
  return [](RepairFileDelegate& delegate, ScriptedJobState& state, const std::string&) {
    delegate.repairFileDidStartPerformingTask("Analyzing video file...");
    state.stop = true;
    delegate.moveBackToSelectReferenceFile();
  };
}

JobScript failingJob(int64_t code) {
  return [code](RepairFileDelegate& delegate, ScriptedJobState& state, const std::string&) {
    state.stop = true;
    delegate.repairFileDidFailWithError(qvr::Error(qvr::kRepairErrorDomain, code, {{qvr::kErrorReasonKey, "x"}}));
  };
}

}  // namespace apptest
