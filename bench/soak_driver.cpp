// Repairs a list of cases again and again in one process through the engines' own interface and
// prints the peak resident memory of every round, so that a leak or a cache that keeps growing
// shows as a rising peak. Driven by bench/soak.
//
//   soak_driver ROUNDS CASES_FILE OUTPUT_DIR
// CASES_FILE: one case per line, "mov<TAB>damaged<TAB>reference" or "avi<TAB>damaged".

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "avi/RepairFileAvi.h"
#include "repair/RepairFile.h"

namespace {

struct Case {
  std::string engine, damaged, reference;
};

class CountingDelegate : public RepairFileDelegate {
 public:
  void repairFileDidStartPerformingTask(const std::string&) override {}
  void repairFileCurrentTaskProgress(int32_t) override {}
  void repairFileAttribute(const std::string&, const std::string&) override {}
  void repairFileDidComplete() override { ++completed; }
  void repairFileDidFailWithError(const qvr::Error&) override { ++failed; }
  void moveBackToSelectReferenceFile() override { ++movedBack; }
  int completed = 0, failed = 0, movedBack = 0;
};

// VmHWM (peak) and VmRSS (now) of this process, in KiB.
void memory(long& peakKiB, long& nowKiB) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) peakKiB = std::stol(line.substr(6));
    if (line.rfind("VmRSS:", 0) == 0) nowKiB = std::stol(line.substr(6));
  }
}

// Starts a new peak measurement (Linux: writing 5 to clear_refs resets VmHWM to VmRSS).
bool resetPeak() {
  std::ofstream refs("/proc/self/clear_refs");
  refs << "5";
  return bool(refs);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s ROUNDS CASES_FILE OUTPUT_DIR\n", argv[0]);
    return 2;
  }
  const int rounds = std::stoi(argv[1]);
  const std::string outDir = argv[3];
  std::vector<Case> cases;
  std::ifstream list(argv[2]);
  for (std::string line; std::getline(list, line);) {
    std::istringstream fields(line);
    Case c;
    std::getline(fields, c.engine, '\t');
    std::getline(fields, c.damaged, '\t');
    std::getline(fields, c.reference, '\t');
    if (!c.engine.empty()) cases.push_back(c);
  }
  if (cases.empty()) {
    std::fprintf(stderr, "no cases in %s\n", argv[2]);
    return 2;
  }
  const bool canReset = resetPeak();
  for (int round = 1; round <= rounds; ++round) {
    if (canReset) resetPeak();
    const auto start = std::chrono::steady_clock::now();
    CountingDelegate delegate;
    for (const Case& c : cases) {
      if (c.engine == "mov") {
        const std::string out = outDir + "/soak.mov";
        RepairFile job;
        job.delegate = &delegate;
        job.repairMOVWithRefFileAtPath(c.reference, c.damaged, out);
        ::unlink(out.c_str());
      } else {
        const std::string out = outDir + "/soak.avi";
        RepairFileAvi job;
        job.delegate = &delegate;
        job.fileValidityCheck(c.damaged);
        job.retrieveAudioVideoSamplesForFileAtPath(c.damaged, out);
        ::unlink(out.c_str());
      }
    }
    long peak = 0, now = 0;
    memory(peak, now);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("round %d peak_kib %ld rss_kib %ld completed %d failed %d moved_back %d seconds %.1f\n", round, peak,
                now, delegate.completed, delegate.failed, delegate.movedBack, seconds);
    std::fflush(stdout);
  }
  if (!canReset) std::fprintf(stderr, "note: peak could not be reset; figures are the process peak so far\n");
  return 0;
}
