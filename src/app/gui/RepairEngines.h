#pragma once

#include <functional>
#include <memory>
#include <string>

#include "foundation/RepairFileDelegate.h"

namespace qvr {

// The MOV/MP4/M4V engine as the controller drives it: one object per job, the job run
// synchronously on a worker thread, pause and stop set from the GUI thread.
class MovEngine {
 public:
  virtual ~MovEngine() = default;
  virtual void setDelegate(RepairFileDelegate* delegate) = 0;
  virtual void repairMOVWithRefFileAtPath(const std::string& reference, const std::string& corrupt,
                                          const std::string& repaired) = 0;
  virtual void setPauseRepairing(bool pause) = 0;
  virtual void setStopflag(bool stop) = 0;
};

// The AVI engine: a validity check on the GUI thread, then the job on a worker thread.
class AviEngine {
 public:
  virtual ~AviEngine() = default;
  virtual void setDelegate(RepairFileDelegate* delegate) = 0;
  virtual bool fileValidityCheckAtPath(const std::string& path) = 0;
  virtual void retrieveAudioVideoSamplesForFileAtPath(const std::string& corrupt, const std::string& repaired) = 0;
  virtual void setPauseRepairingAVI(bool pause) = 0;
  virtual void setStopflag(bool stop) = 0;
};

// Makes one engine per job. A maker that returns null means that engine is not available.
struct EngineFactory {
  std::function<std::unique_ptr<MovEngine>()> makeMovEngine;
  std::function<std::unique_ptr<AviEngine>()> makeAviEngine;

  // The engines of this build.
  static EngineFactory realEngines();
};

}  // namespace qvr
