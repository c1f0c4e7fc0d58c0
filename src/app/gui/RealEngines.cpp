#include "app/gui/RepairEngines.h"

#if __has_include("repair/RepairFile.h")
#include "repair/RepairFile.h"
#define QVR_HAVE_MOV_ENGINE 1
#endif
#if __has_include("avi/RepairFileAvi.h")
#include "avi/RepairFileAvi.h"
#define QVR_HAVE_AVI_ENGINE 1
#endif

namespace qvr {
namespace {

#ifdef QVR_HAVE_MOV_ENGINE
class RealMovEngine : public MovEngine {
 public:
  void setDelegate(RepairFileDelegate* delegate) override { engine_.delegate = delegate; }
  void repairMOVWithRefFileAtPath(const std::string& reference, const std::string& corrupt,
                                  const std::string& repaired) override {
    engine_.repairMOVWithRefFileAtPath(reference, corrupt, repaired);
  }
  void setPauseRepairing(bool pause) override { engine_.pauseRepairing = pause; }
  void setStopflag(bool stop) override { engine_.stopflag = stop; }

 private:
  RepairFile engine_;
};
#endif

#ifdef QVR_HAVE_AVI_ENGINE
class RealAviEngine : public AviEngine {
 public:
  // The engine carries its chunk tables inline, far too large for a stack or a small object.
  RealAviEngine() : engine_(std::make_unique<RepairFileAvi>()) {}
  void setDelegate(RepairFileDelegate* delegate) override { engine_->delegate = delegate; }
  bool fileValidityCheckAtPath(const std::string& path) override { return engine_->fileValidityCheck(path); }
  void retrieveAudioVideoSamplesForFileAtPath(const std::string& corrupt, const std::string& repaired) override {
    engine_->retrieveAudioVideoSamplesForFileAtPath(corrupt, repaired);
  }
  void setPauseRepairingAVI(bool pause) override { engine_->pauseRepairingAVI = pause; }
  void setStopflag(bool stop) override { engine_->stopflag = stop; }

 private:
  std::unique_ptr<RepairFileAvi> engine_;
};
#endif

}  // namespace

EngineFactory EngineFactory::realEngines() {
  EngineFactory factory;
#ifdef QVR_HAVE_MOV_ENGINE
  factory.makeMovEngine = [] { return std::unique_ptr<MovEngine>(std::make_unique<RealMovEngine>()); };
#else
  factory.makeMovEngine = [] { return std::unique_ptr<MovEngine>(); };
#endif
#ifdef QVR_HAVE_AVI_ENGINE
  factory.makeAviEngine = [] { return std::unique_ptr<AviEngine>(std::make_unique<RealAviEngine>()); };
#else
  factory.makeAviEngine = [] { return std::unique_ptr<AviEngine>(); };
#endif
  return factory;
}

}  // namespace qvr
