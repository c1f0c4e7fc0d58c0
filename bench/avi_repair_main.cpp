// Drives the AVI engine on one file for the benchmark: avi_bench_driver DAMAGED.avi OUTPUT.avi
#include <cstdio>
#include <string>

#include "avi/RepairFileAvi.h"

namespace {
class PrintingDelegate : public RepairFileDelegate {
 public:
  void repairFileDidStartPerformingTask(const std::string& task) override {
    std::fprintf(stderr, "%s\n", task.c_str());
  }
  void repairFileCurrentTaskProgress(int32_t) override {}
  void repairFileAttribute(const std::string& key, const std::string& value) override {
    std::fprintf(stderr, "%s: %s\n", key.c_str(), value.c_str());
  }
  void repairFileDidComplete() override { completed = true; }
  void repairFileDidFailWithError(const qvr::Error& error) override {
    std::fprintf(stderr, "error %lld: %s\n", static_cast<long long>(error.code),
                 error.stringFor(qvr::kErrorReasonKey).c_str());
  }
  void moveBackToSelectReferenceFile() override {}
  bool completed = false;
};
}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s DAMAGED.avi OUTPUT.avi\n", argv[0]);
    return 2;
  }
  PrintingDelegate delegate;
  RepairFileAvi engine;
  engine.delegate = &delegate;
  if (!engine.fileValidityCheck(argv[1])) {
    std::fprintf(stderr, "not an AVI file\n");
    return 1;
  }
  engine.retrieveAudioVideoSamplesForFileAtPath(argv[1], argv[2]);
  std::fprintf(stderr, "video chunks %llu, audio chunks %llu%s%s\n",
               static_cast<unsigned long long>(engine.videosamplecount),
               static_cast<unsigned long long>(engine.audiosamplecount),
               engine.searchedFirst2GiBOnly() ? ", searched the first 2 GiB only" : "",
               engine.chunkLimitReached() ? ", chunk limit reached" : "");
  return delegate.completed ? 0 : 1;
}
