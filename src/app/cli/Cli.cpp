#include "app/cli/Cli.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/BuildInfo.h"
#include "avi/RepairFileAvi.h"
#include "foundation/FileSystem.h"
#include "foundation/Log.h"
#include "foundation/RepairFileDelegate.h"
#include "repair/RepairFile.h"

namespace cli {

namespace {

constexpr int kExitRepaired = 0;
constexpr int kExitEngineError = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNeedsReference = 3;
constexpr int kExitInterrupted = 130;

// The stop flag of the running job, set from the signal handler (a lock-free atomic store).
std::atomic<std::atomic<bool>*> gStopFlag{nullptr};
volatile std::sig_atomic_t gInterrupted = 0;

void onInterrupt(int) {
  gInterrupted = 1;
  if (std::atomic<bool>* stop = gStopFlag.load()) stop->store(true);
}

void printUsage(FILE* out) {
  std::fprintf(out,
               "Usage:\n"
               "  quenda-video-repair [FILE]                open the application (with FILE chosen)\n"
               "  quenda-video-repair repair DAMAGED [--reference REF] --output OUT [options]\n"
               "  quenda-video-repair repair DAMAGED... [--reference REF] --output-dir DIR [options]\n"
               "  quenda-video-repair --help | --version\n"
               "\n"
               "DAMAGED is a .mov, .mp4, .m4v or .avi file. Without --reference the damaged movie is\n"
               "its own reference; one reference serves every file of a batch. With --output-dir each\n"
               "repaired movie takes its input's file name inside DIR.\n"
               "\n"
               "Options:\n"
               "  --force   replace an existing output file (never the damaged file or the reference)\n"
               "  --json    print the outcome as JSON on standard output\n"
               "  --quiet   print nothing but errors\n"
               "\n"
               "Exit status: 0 repaired, 1 repair failed, 2 wrong usage, 3 a healthy reference movie is\n"
               "needed, 130 interrupted; for several files, the worst of them.\n");
}

struct Options {
  std::vector<std::string> damaged;
  std::optional<std::string> reference;
  std::string output;
  std::string outputDir;
  bool json = false;
  bool force = false;
  bool quiet = false;
};

std::string formatElapsed(double seconds) {
  const auto s = static_cast<long long>(seconds);
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
  return text;
}

// Collects the engine's reports and shows progress on stderr: one line rewritten in place on a
// terminal, plain lines at each stage and quarter elsewhere (logs and pipes keep them readable).
class CliDelegate : public RepairFileDelegate {
 public:
  CliDelegate(bool quiet, std::string label, uint64_t inputBytes)
      : quiet_(quiet),
        terminal_(::isatty(STDERR_FILENO) == 1),
        label_(std::move(label)),
        inputBytes_(inputBytes),
        start_(std::chrono::steady_clock::now()) {}

  void repairFileDidStartPerformingTask(const std::string& task) override {
    // The AVI engine restarts its first stage once per header it tries; one line says it.
    const bool again = task == task_;
    task_ = task;
    lastPercent_ = -1;
    if (!quiet_ && !terminal_ && !again) std::fprintf(stderr, "%s%s\n", label_.c_str(), task.c_str());
    repairFileCurrentTaskProgress(0);
  }
  void repairFileCurrentTaskProgress(int32_t percentage) override {
    if (quiet_ || percentage == lastPercent_) return;
    lastPercent_ = percentage;
    if (terminal_) {
      const double seconds = elapsed();
      // The stages each walk the input once, so its share per second is the honest rate.
      const double rate = seconds > 0.05 ? inputBytes_ * (percentage / 100.0) / seconds / 1e6 : 0.0;
      std::fprintf(stderr, "\r\033[K%s%s %3d%%  %.1f MB/s  %s", label_.c_str(), task_.c_str(), percentage, rate,
                   formatElapsed(seconds).c_str());
      std::fflush(stderr);
      lineOpen_ = true;
    } else if (percentage % 25 == 0 && percentage > 0) {
      std::fprintf(stderr, "%s  %d%%\n", label_.c_str(), percentage);
    }
  }
  void repairFileAttribute(const std::string& key, const std::string& value) override {
    attributes.emplace_back(key, value);
  }
  void repairFileDidComplete() override { completed = true; }
  void repairFileDidFailWithError(const qvr::Error& e) override { error = e; }
  void moveBackToSelectReferenceFile() override { needsReference = true; }
  void endLine() {
    if (lineOpen_) std::fprintf(stderr, "\r\033[K");
    lineOpen_ = false;
  }
  double elapsed() const { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count(); }

  std::vector<std::pair<std::string, std::string>> attributes;
  bool completed = false;
  bool needsReference = false;
  std::optional<qvr::Error> error;

 private:
  bool quiet_;
  bool terminal_;
  bool lineOpen_ = false;
  std::string label_;
  uint64_t inputBytes_;
  std::chrono::steady_clock::time_point start_;
  std::string task_;
  int32_t lastPercent_ = -1;
};

// Parses `repair ...`; none (after a message) on wrong usage.
std::optional<Options> parseRepair(int argc, char** argv) {
  Options o;
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](const char* name) -> std::optional<std::string> {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "%s needs a value.\n", name);
        return std::nullopt;
      }
      return std::string(argv[++i]);
    };
    std::string* target = a == "--reference"    ? nullptr
                          : a == "--output"     ? &o.output
                          : a == "--output-dir" ? &o.outputDir
                                                : nullptr;
    if (a == "--reference" || target) {
      auto v = value(a.c_str());
      if (!v) return std::nullopt;
      if (target) {
        *target = *v;
      } else {
        o.reference = *v;
      }
    } else if (a == "--json") {
      o.json = true;
    } else if (a == "--force") {
      o.force = true;
    } else if (a == "--quiet") {
      o.quiet = true;
    } else if (!a.empty() && a[0] == '-' && a != "-") {
      std::fprintf(stderr, "Unknown option %s.\n", a.c_str());
      return std::nullopt;
    } else {
      o.damaged.push_back(a);
    }
  }
  if (o.damaged.empty() || o.output.empty() == o.outputDir.empty()) {
    std::fprintf(stderr, "repair needs a damaged file and either --output or --output-dir.\n");
    return std::nullopt;
  }
  if (!o.output.empty() && o.damaged.size() > 1) {
    std::fprintf(stderr, "Several damaged files need --output-dir.\n");
    return std::nullopt;
  }
  return o;
}

struct Outcome {
  std::string kind;  // repaired, error, reference-needed, interrupted, refused
  int exitCode = kExitRepaired;
};

struct JobResult {
  std::string damaged;
  std::string output;
  Outcome outcome;
  double seconds = 0;
  uint64_t videoSamples = 0;
  uint64_t audioSamples = 0;
  std::optional<qvr::Error> error;
  std::string message;  // why a file was refused before its repair
  std::vector<std::pair<std::string, std::string>> attributes;
  std::vector<std::string> notes;
};

// How bad an exit status is, so that a batch exits with its worst one.
int severity(int exitCode) {
  switch (exitCode) {
    case kExitRepaired:
      return 0;
    case kExitNeedsReference:
      return 1;
    case kExitUsage:
      return 2;
    case kExitEngineError:
      return 3;
    default:
      return 4;
  }
}

nlohmann::json jsonOf(const JobResult& r, const std::string& engine, const std::optional<std::string>& reference) {
  nlohmann::json j;
  j["outcome"] = r.outcome.kind;
  j["engine"] = engine;
  j["damaged"] = r.damaged;
  j["output"] = r.output;
  if (reference) j["reference"] = *reference;
  if (r.error) {
    j["error"] = {{"code", r.error->code}, {"reason", r.error->stringFor(qvr::kErrorReasonKey)}};
  } else if (!r.message.empty()) {
    j["error"] = {{"code", nullptr}, {"reason", r.message}};
  } else {
    j["error"] = nullptr;
  }
  nlohmann::json attrs = nlohmann::json::object();
  for (const auto& [key, value] : r.attributes) attrs[key] = value;
  j["attributes"] = attrs;
  j["samples"] = {{"video", r.videoSamples}, {"audio", r.audioSamples}};
  j["seconds"] = r.seconds;
  if (r.outcome.kind == "repaired") j["outputSize"] = qvr::fs::fileSize(r.output).value_or(0);
  j["notes"] = r.notes;
  return j;
}

// Errors always reach stderr; the rest only when the user did not ask for quiet.
void describe(const JobResult& r, bool quiet, bool details) {
  if (r.outcome.kind == "repaired") {
    if (quiet) return;
    if (details) {
      for (const auto& [key, value] : r.attributes) {
        // A header field the file left empty (an AVI's PCM has no codec code) says nothing.
        if (!value.empty()) std::fprintf(stderr, "%-13s %s\n", (key + ":").c_str(), value.c_str());
      }
    }
    std::fprintf(stderr, "Repaired movie written to %s (%llu bytes).\n", r.output.c_str(),
                 static_cast<unsigned long long>(qvr::fs::fileSize(r.output).value_or(0)));
  } else if (r.outcome.kind == "refused") {
    std::fprintf(stderr, "%s\n", r.message.c_str());
  } else if (r.outcome.kind == "error") {
    if (r.error) {
      std::fprintf(stderr, "%s: repair failed: error %lld: %s\n", r.damaged.c_str(),
                   static_cast<long long>(r.error->code), r.error->stringFor(qvr::kErrorReasonKey).c_str());
    } else {
      std::fprintf(stderr, "%s: repair failed.\n", r.damaged.c_str());
    }
  } else if (r.outcome.kind == "reference-needed") {
    std::fprintf(stderr,
                 "%s cannot serve as its own reference. Repair it again with --reference and a healthy movie "
                 "recorded with the same camera and settings.\n",
                 r.damaged.c_str());
  } else if (r.outcome.kind == "interrupted") {
    std::fprintf(stderr, "Repair of %s stopped; no output was written.\n", r.damaged.c_str());
  }
  if (quiet) return;
  for (const auto& note : r.notes) std::fprintf(stderr, "Note: %s\n", note.c_str());
}

Outcome outcomeOf(const CliDelegate& d) {
  if (gInterrupted) return {"interrupted", kExitInterrupted};
  if (d.error) return {"error", kExitEngineError};
  if (d.needsReference) return {"reference-needed", kExitNeedsReference};
  if (d.completed) return {"repaired", kExitRepaired};
  return {"error", kExitEngineError};
}

// A repair that turns out poor must leave the user able to try again, so neither input is ever
// the output, however it is named; and a file of the user's is replaced only when asked.
std::optional<std::string> refusalFor(const std::string& output, const std::string& damaged,
                                      const std::optional<std::string>& reference, bool force,
                                      const std::vector<std::string>& writtenBefore) {
  if (qvr::fs::sameFile(output, damaged)) return output + " is the damaged file itself; choose another output.";
  if (reference && qvr::fs::sameFile(output, *reference))
    return output + " is the reference movie; choose another output.";
  for (const auto& earlier : writtenBefore) {
    if (qvr::fs::sameFile(output, earlier))
      return output + " was already written by this run; give the inputs distinct names.";
  }
  if (qvr::fs::fileExists(output) && !force) return output + " exists; add --force to replace it.";
  return std::nullopt;
}

// Repairs r.damaged into r.output and fills in the rest of `r`.
void repairOne(const Options& o, JobResult& r, std::string label) {
  const std::string& damaged = r.damaged;
  const std::string& output = r.output;
  const std::string ext = qvr::fs::extensionLower(damaged);
  const bool avi = ext == "avi";
  if (!avi && ext != "mov" && ext != "mp4" && ext != "m4v") {
    r.outcome = {"refused", kExitUsage};
    r.message = damaged + ": only .mov, .mp4, .m4v and .avi files can be repaired.";
    return;
  }
  CliDelegate delegate(o.quiet, std::move(label), qvr::fs::fileSize(damaged).value_or(0));
  if (avi) {
    RepairFileAvi engine;
    engine.delegate = &delegate;
    gStopFlag = &engine.stopflag;
    if (!engine.fileValidityCheck(damaged)) {
      delegate.error = qvr::Error(qvr::kRepairErrorDomain, RepairFileAvi::kErrorCannotRepair,
                                  {{qvr::kErrorReasonKey, RepairFileAvi::kCannotRepairReason}});
    } else {
      engine.retrieveAudioVideoSamplesForFileAtPath(damaged, output);
      if (engine.chunkLimitReached())
        r.notes.push_back("the chunk table limit was reached; later chunks were left out");
      if (engine.searchedFirst2GiBOnly()) r.notes.push_back("searched the first 2 GiB only");
    }
    gStopFlag = nullptr;
    r.videoSamples = engine.videosamplecount;
    r.audioSamples = engine.audiosamplecount;
  } else {
    RepairFile engine;
    engine.delegate = &delegate;
    gStopFlag = &engine.stopflag;
    engine.repairMOVWithRefFileAtPath(o.reference.value_or(damaged), damaged, output);
    gStopFlag = nullptr;
    r.videoSamples = engine.videoSampleCountWritten();
    r.audioSamples = engine.audioSampleCountWritten();
  }
  delegate.endLine();
  r.outcome = outcomeOf(delegate);
  r.error = delegate.error;
  r.attributes = delegate.attributes;
  r.seconds = delegate.elapsed();
}

void printSummary(const std::vector<JobResult>& results) {
  size_t width = 4;
  for (const auto& r : results) width = std::max(width, qvr::fs::fileName(r.damaged).size());
  std::printf("%-*s  %-16s %8s %8s %8s\n", static_cast<int>(width), "file", "result", "video", "audio", "seconds");
  for (const auto& r : results) {
    std::printf("%-*s  %-16s %8llu %8llu %8.1f\n", static_cast<int>(width), qvr::fs::fileName(r.damaged).c_str(),
                r.outcome.kind.c_str(), static_cast<unsigned long long>(r.videoSamples),
                static_cast<unsigned long long>(r.audioSamples), r.seconds);
  }
}

int runRepair(const Options& o) {
  const bool batch = !o.outputDir.empty();
  if (batch && !qvr::fs::isDirectory(o.outputDir)) {
    std::fprintf(stderr, "%s is not a folder.\n", o.outputDir.c_str());
    return kExitUsage;
  }
  std::signal(SIGINT, onInterrupt);
  std::signal(SIGTERM, onInterrupt);
  std::vector<JobResult> results;
  std::vector<std::string> written;
  nlohmann::json reports = nlohmann::json::array();
  int worst = kExitRepaired;
  for (size_t i = 0; i < o.damaged.size(); ++i) {
    const std::string& damaged = o.damaged[i];
    const std::string output = batch ? o.outputDir + "/" + qvr::fs::fileName(damaged) : o.output;
    const bool avi = qvr::fs::extensionLower(damaged) == "avi";
    JobResult r;
    r.damaged = damaged;
    r.output = output;
    if (gInterrupted) {
      r.outcome = {"interrupted", kExitInterrupted};
    } else if (auto refusal = refusalFor(output, damaged, avi ? std::nullopt : o.reference, o.force, written)) {
      r.outcome = {"refused", kExitUsage};
      r.message = *refusal;
    } else {
      if (avi && o.reference && !o.quiet) {
        std::fprintf(stderr, "%s: an AVI file is repaired without a reference; --reference is ignored.\n",
                     damaged.c_str());
      }
      std::string label;
      if (batch) label = "[" + std::to_string(i + 1) + "/" + std::to_string(o.damaged.size()) + "] ";
      repairOne(o, r, label);
      if (r.outcome.kind == "repaired") written.push_back(output);
    }
    describe(r, o.quiet, !batch);
    if (severity(r.outcome.exitCode) > severity(worst)) worst = r.outcome.exitCode;
    reports.push_back(jsonOf(r, avi ? "avi" : "mov", avi ? std::nullopt : o.reference));
    results.push_back(std::move(r));
  }
  if (o.json) {
    std::printf("%s\n", (batch ? reports : reports.front()).dump().c_str());
  } else if (batch && !o.quiet) {
    printSummary(results);
  }
  return worst;
}

}  // namespace

int run(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("quenda-video-repair %s\n", QVR_VERSION);
    return kExitRepaired;
  }
  if (argc >= 2 && std::strcmp(argv[1], "--help") == 0) {
    printUsage(stdout);
    return kExitRepaired;
  }
  if (argc >= 2 && std::strcmp(argv[1], "repair") == 0) {
    auto options = parseRepair(argc, argv);
    if (!options) {
      printUsage(stderr);
      return kExitUsage;
    }
    return runRepair(*options);
  }
  printUsage(stderr);
  return kExitUsage;
}

}  // namespace cli
