#include "repair/RepairFile.h"

#include <cstdio>

#include "bitstream/NALU.h"
#include "boxes/Moov.h"
#include "foundation/FileSystem.h"
#include "foundation/Log.h"
#include "foundation/Pause.h"

void RepairFile::sendTask(const std::string& task) {
  lastProgress_ = -1;
  if (delegate) delegate->repairFileDidStartPerformingTask(task);
}

void RepairFile::sendProgress(int32_t percentage) {
  // Reported when the whole percentage changes, not at every offset.
  if (percentage == lastProgress_) return;
  lastProgress_ = percentage;
  if (delegate) delegate->repairFileCurrentTaskProgress(percentage);
}

void RepairFile::sendMoveBack() {
  stopflag = true;
  if (errorSent_) return;
  errorSent_ = true;
  if (delegate) delegate->moveBackToSelectReferenceFile();
}

void RepairFile::sendErrorWithCode(int32_t code, const std::string& reason) {
  stopflag = true;
  // One report per job: the first failure is the one the user hears about.
  if (errorSent_) return;
  errorSent_ = true;
  qvr::Error error(qvr::kRepairErrorDomain, static_cast<int64_t>(code), {{qvr::kErrorReasonKey, reason}});
  if (delegate) delegate->repairFileDidFailWithError(error);
}

void RepairFile::sendInfoToUIVideoCodec(uint64_t codec, double fps, uint64_t tracks, const std::string& duration) {
  if (!delegate) return;
  delegate->repairFileAttribute("video", codec == 1001 ? "AVC1" : codec == 1002 ? "HVC1" : "Unknown");
  char text[64];
  std::snprintf(text, sizeof text, "%.2f", fps);
  delegate->repairFileAttribute("fps", text);
  std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(tracks));
  delegate->repairFileAttribute("track", text);
  delegate->repairFileAttribute("duration", duration);
}

void RepairFile::repairMOVWithRefFileAtPath(const std::string& ref, const std::string& corrupt,
                                            const std::string& repaired) {
  // The media data is written as the scan settles it; whatever ends the job early removes it.
  streamOutput_ = repaired;
  repairFileAtPath(corrupt, repaired, ref);
  streamOutput_.clear();
  struct Abandon {
    RepairFile& job;
    ~Abandon() { job.abandonWriting(); }
  } abandon{*this};
  if (stopflag) return;
  if (!qvr::pausePoint(pauseRepairing, stopflag)) return;
  if (sampleArray.empty()) {
    sendErrorWithCode(kErrorNoSampleFound, kReasonNoSampleFound);
    return;
  }
  // A stopped or failed writing is no completion.
  if (writeSampleAtPath(repaired, corrupt) && delegate) delegate->repairFileDidComplete();
}

void RepairFile::repairFileAtPath(const std::string& corrupt, const std::string& output, const std::string& ref) {
  (void)output;
  if (!qvr::fs::fileExists(ref) || !qvr::fs::isReadableFile(ref)) {
    sendErrorWithCode(kErrorHealthyFileUnreadable, kReasonHealthyFileUnreadable);
    return;
  }
  if (!qvr::fs::fileExists(corrupt) || !qvr::fs::isReadableFile(corrupt)) {
    sendErrorWithCode(kErrorCorruptFileUnreadable, kReasonCorruptFileUnreadable);
    return;
  }
  sendTask(kTaskAnalyzing);
  healthyFile = File::parseFileAtPath(ref);
  // Without a movie header there is no time scale for the new movie box: such a reference cannot
  // describe the repaired movie, however well its tracks match.
  if (!healthyFile->moov || !healthyFile->moov->mvhd) {
    if (corrupt == ref) {
      sendMoveBack();
    } else {
      sendErrorWithCode(kErrorInvalidHealthyFile, kReasonInvalidHealthyFile);
    }
    return;
  }
  corruptFile = File::initWithFileType(File::kDamagedFile, corrupt);
  analysisMdatOfFile(*corruptFile, healthyFile->videoCodec, healthyFile->audioCodec);
}

void RepairFile::analysisMdatOfFile(File& file, uint64_t videoCodec, uint64_t audioCodec) {
  if (videoCodec != 1001 && videoCodec != 1002) {
    sendMoveBack();
    return;
  }
  analyseDataForAVC1AndHVC1InFile(file, audioCodec);
}
