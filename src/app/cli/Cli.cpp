#include "app/cli/Cli.h"

#include <unistd.h>

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
               "  quenda-video-repair                      open the application\n"
               "  quenda-video-repair repair DAMAGED [--reference REF] --output OUT [--json]\n"
               "  quenda-video-repair --help | --version\n"
               "\n"
               "DAMAGED is a .mov, .mp4, .m4v or .avi file. Without --reference the damaged movie is\n"
               "its own reference. Exit status: 0 repaired, 1 repair failed, 2 wrong usage,\n"
               "3 a healthy reference movie is needed.\n");
}

struct Options {
  std::string damaged;
  std::optional<std::string> reference;
  std::string output;
  bool json = false;
};

// Collects the engine's reports and draws progress on stderr.
class CliDelegate : public RepairFileDelegate {
 public:
  explicit CliDelegate(bool quiet) : quiet_(quiet), terminal_(::isatty(STDERR_FILENO) == 1) {}

  void repairFileDidStartPerformingTask(const std::string& task) override {
    endBar();
    task_ = task;
    lastPercent_ = -1;
    if (!quiet_ && !terminal_) std::fprintf(stderr, "%s\n", task.c_str());
    repairFileCurrentTaskProgress(0);
  }
  void repairFileCurrentTaskProgress(int32_t percentage) override {
    if (quiet_ || percentage == lastPercent_) return;
    lastPercent_ = percentage;
    if (terminal_) {
      constexpr int kWidth = 30;
      int filled = std::max(0, std::min(kWidth, percentage * kWidth / 100));
      std::fprintf(stderr, "\r%-36s [%s%s] %3d%%", task_.c_str(), std::string(filled, '#').c_str(),
                   std::string(kWidth - filled, ' ').c_str(), percentage);
      std::fflush(stderr);
      barOpen_ = true;
    } else if (percentage % 25 == 0 && percentage > 0) {
      std::fprintf(stderr, "  %d%%\n", percentage);
    }
  }
  void repairFileAttribute(const std::string& key, const std::string& value) override {
    attributes.emplace_back(key, value);
  }
  void repairFileDidComplete() override {
    endBar();
    completed = true;
  }
  void repairFileDidFailWithError(const qvr::Error& e) override {
    endBar();
    error = e;
  }
  void moveBackToSelectReferenceFile() override {
    endBar();
    needsReference = true;
  }
  void endBar() {
    if (barOpen_) std::fprintf(stderr, "\n");
    barOpen_ = false;
  }

  std::vector<std::pair<std::string, std::string>> attributes;
  bool completed = false;
  bool needsReference = false;
  std::optional<qvr::Error> error;

 private:
  bool quiet_;
  bool terminal_;
  bool barOpen_ = false;
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
    if (a == "--reference") {
      auto v = value("--reference");
      if (!v) return std::nullopt;
      o.reference = *v;
    } else if (a == "--output") {
      auto v = value("--output");
      if (!v) return std::nullopt;
      o.output = *v;
    } else if (a == "--json") {
      o.json = true;
    } else if (!a.empty() && a[0] == '-' && a != "-") {
      std::fprintf(stderr, "Unknown option %s.\n", a.c_str());
      return std::nullopt;
    } else if (o.damaged.empty()) {
      o.damaged = a;
    } else {
      std::fprintf(stderr, "Unexpected argument %s.\n", a.c_str());
      return std::nullopt;
    }
  }
  if (o.damaged.empty() || o.output.empty()) {
    std::fprintf(stderr, "repair needs a damaged file and --output.\n");
    return std::nullopt;
  }
  return o;
}

struct Outcome {
  std::string kind;  // repaired, error, reference-needed, interrupted
  int exitCode = kExitRepaired;
};

int finish(const Options& o, const std::string& engine, CliDelegate& d, const Outcome& outcome, double seconds,
           uint64_t videoSamples, uint64_t audioSamples, const std::vector<std::string>& notes) {
  d.endBar();
  const bool repaired = outcome.kind == "repaired";
  const uint64_t outSize = repaired ? qvr::fs::fileSize(o.output).value_or(0) : 0;
  if (outcome.kind == "repaired") {
    for (const auto& [key, value] : d.attributes) std::fprintf(stderr, "%-9s %s\n", (key + ":").c_str(), value.c_str());
    std::fprintf(stderr, "Repaired movie written to %s (%llu bytes).\n", o.output.c_str(),
                 static_cast<unsigned long long>(outSize));
  } else if (outcome.kind == "error" && d.error) {
    std::fprintf(stderr, "Repair failed: error %lld: %s\n", static_cast<long long>(d.error->code),
                 d.error->stringFor(qvr::kErrorReasonKey).c_str());
  } else if (outcome.kind == "reference-needed") {
    std::fprintf(stderr,
                 "This file cannot serve as its own reference. Repair it again with --reference and a healthy "
                 "movie recorded with the same camera and settings.\n");
  } else if (outcome.kind == "interrupted") {
    std::fprintf(stderr, "Repair stopped; no output was written.\n");
  }
  for (const auto& note : notes) std::fprintf(stderr, "Note: %s\n", note.c_str());

  if (o.json) {
    nlohmann::json j;
    j["outcome"] = outcome.kind;
    j["engine"] = engine;
    j["damaged"] = o.damaged;
    j["output"] = o.output;
    if (o.reference) j["reference"] = *o.reference;
    if (d.error) {
      j["error"] = {{"code", d.error->code}, {"reason", d.error->stringFor(qvr::kErrorReasonKey)}};
    } else {
      j["error"] = nullptr;
    }
    nlohmann::json attrs = nlohmann::json::object();
    for (const auto& [key, value] : d.attributes) attrs[key] = value;
    j["attributes"] = attrs;
    j["samples"] = {{"video", videoSamples}, {"audio", audioSamples}};
    j["seconds"] = seconds;
    if (repaired) j["outputSize"] = outSize;
    j["notes"] = notes;
    std::printf("%s\n", j.dump().c_str());
  }
  return outcome.exitCode;
}

Outcome outcomeOf(const CliDelegate& d) {
  if (gInterrupted) return {"interrupted", kExitInterrupted};
  if (d.error) return {"error", kExitEngineError};
  if (d.needsReference) return {"reference-needed", kExitNeedsReference};
  if (d.completed) return {"repaired", kExitRepaired};
  return {"error", kExitEngineError};
}

int runRepair(const Options& o) {
  const std::string ext = qvr::fs::extensionLower(o.damaged);
  const bool avi = ext == "avi";
  if (!avi && ext != "mov" && ext != "mp4" && ext != "m4v") {
    std::fprintf(stderr, "%s: only .mov, .mp4, .m4v and .avi files can be repaired.\n", o.damaged.c_str());
    return kExitUsage;
  }
  if (avi && o.reference) {
    std::fprintf(stderr, "An AVI file is repaired without a reference; --reference is ignored.\n");
  }
  CliDelegate delegate(false);
  std::signal(SIGINT, onInterrupt);
  std::signal(SIGTERM, onInterrupt);
  const auto start = std::chrono::steady_clock::now();
  auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };

  if (avi) {
    RepairFileAvi engine;
    engine.delegate = &delegate;
    gStopFlag = &engine.stopflag;
    std::vector<std::string> notes;
    if (!engine.fileValidityCheck(o.damaged)) {
      gStopFlag = nullptr;
      delegate.error = qvr::Error(qvr::kRepairErrorDomain, RepairFileAvi::kErrorCannotRepair,
                                  {{qvr::kErrorReasonKey, RepairFileAvi::kCannotRepairReason}});
      return finish(o, "avi", delegate, {"error", kExitEngineError}, elapsed(), 0, 0, notes);
    }
    engine.retrieveAudioVideoSamplesForFileAtPath(o.damaged, o.output);
    gStopFlag = nullptr;
    if (engine.chunkLimitReached()) notes.push_back("the chunk table limit was reached; later chunks were left out");
    if (engine.searchedFirst2GiBOnly()) notes.push_back("searched the first 2 GiB only");
    return finish(o, "avi", delegate, outcomeOf(delegate), elapsed(), engine.videosamplecount, engine.audiosamplecount,
                  notes);
  }

  RepairFile engine;
  engine.delegate = &delegate;
  gStopFlag = &engine.stopflag;
  const std::string reference = o.reference.value_or(o.damaged);
  engine.repairMOVWithRefFileAtPath(reference, o.damaged, o.output);
  gStopFlag = nullptr;
  return finish(o, "mov", delegate, outcomeOf(delegate), elapsed(), engine.videoSampleCountWritten(),
                engine.audioSampleCountWritten(), {});
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
