#pragma once
// What the robustness tests share: one whole job of either engine and what its delegate heard.

#include <string>
#include <vector>

#include "avi/RepairFileAvi.h"
#include "foundation/RepairFileDelegate.h"
#include "repair/RepairFile.h"

namespace robust {

struct Outcome : RepairFileDelegate {
  void repairFileDidStartPerformingTask(const std::string&) override {}
  void repairFileCurrentTaskProgress(int32_t) override {}
  void repairFileAttribute(const std::string&, const std::string&) override {}
  void repairFileDidComplete() override { ++completed; }
  void repairFileDidFailWithError(const qvr::Error& error) override { errors.push_back(error); }
  void moveBackToSelectReferenceFile() override {}
  std::vector<qvr::Error> errors;
  int completed = 0;
};

// The MOV engine when there is a reference, else the AVI engine.
inline Outcome repair(const std::string& damaged, const std::string& reference, const std::string& output) {
  Outcome outcome;
  if (!reference.empty()) {
    RepairFile job;
    job.delegate = &outcome;
    job.repairMOVWithRefFileAtPath(reference, damaged, output);
  } else {
    RepairFileAvi job;
    job.delegate = &outcome;
    job.fileValidityCheck(damaged);
    job.retrieveAudioVideoSamplesForFileAtPath(damaged, output);
  }
  return outcome;
}

}  // namespace robust
