#pragma once
// Helpers shared by the fuzz targets that need a file: inputs go to a per-process scratch folder
// in memory (/dev/shm when present) so that a run's writes and syncs stay cheap.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "foundation/RepairFileDelegate.h"

namespace qvr::fuzz {

inline const std::string& scratchDir() {
  // Never destroyed: the exit handler that removes the folder runs after static destructors.
  static const std::string& dir = *[] {
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    auto* d = new std::string(std::string(base) + "/qvr-fuzz-" + std::to_string(getpid()));
    if (std::system(("mkdir -p '" + *d + "'").c_str()) != 0) std::abort();
    std::atexit([] {
      if (std::system(("rm -rf '" + scratchDir() + "'").c_str()) != 0) std::fputs("scratch not removed\n", stderr);
    });
    return d;
  }();
  return dir;
}

inline std::string scratchPath(const std::string& name) { return scratchDir() + "/" + name; }

inline void writeWhole(const std::string& path, const uint8_t* data, size_t size, size_t padTo = 0) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  // Repeat the input to reach the engines' minimum sizes without giving the fuzzer longer inputs.
  size_t written = size;
  while (size > 0 && written < padTo) {
    const size_t n = std::min(size, padTo - written);
    if (std::fwrite(data, 1, n, f) != n) std::abort();
    written += n;
  }
  std::fclose(f);
}

// The standard cases qvr-make-movies writes: $QVR_CASES_DIR, else build/cases of this source tree.
inline std::string casesDir() {
  if (const char* env = std::getenv("QVR_CASES_DIR"); env != nullptr && *env != 0) return env;
  std::string here = __FILE__;
  return here.substr(0, here.rfind("/fuzz/")) + "/build/cases";
}

// Swallows every report; the targets only care that the job ends without a fault.
class QuietDelegate : public RepairFileDelegate {
 public:
  void repairFileDidStartPerformingTask(const std::string&) override {}
  void repairFileCurrentTaskProgress(int32_t) override {}
  void repairFileAttribute(const std::string&, const std::string&) override {}
  void repairFileDidComplete() override { ++completed; }
  void repairFileDidFailWithError(const qvr::Error&) override { ++failed; }
  void moveBackToSelectReferenceFile() override { ++movedBack; }
  int completed = 0, failed = 0, movedBack = 0;
};

}  // namespace qvr::fuzz
