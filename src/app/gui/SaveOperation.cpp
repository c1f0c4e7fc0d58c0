#include "app/gui/SaveOperation.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "foundation/FileHandle.h"
#include "foundation/FileSystem.h"
#include "foundation/Log.h"
#include "foundation/Pause.h"

namespace qvr {

std::string savedFilePathIn(const std::string& folder, bool movFile) {
  return folder + (movFile ? "/repaired.mov" : "/repaired.avi");
}

uint64_t saveChunkCount(uint64_t size) { return (size >> 10) + ((size & 0x3FF) != 0 ? 1 : 0); }

int32_t savePercent(uint64_t chunk, uint64_t chunkCount) {
  if (chunkCount == 0) return 100;
  // chunk < chunkCount <= 2^54, so the product cannot overflow.
  return static_cast<int32_t>(chunk * 100 / chunkCount);
}

SavePreparation prepareSaveFolder(DesktopServices& desktop, const std::string& folder, const std::string& source) {
  SavePreparation result;
  std::string parent = fs::parentPath(folder);
  if (parent.empty()) parent = ".";
  if (!desktop.isWritableFolder(parent)) {
    result.check = SaveCheck::NotWritable;
    return result;
  }
  if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
    log("Error While Creating Directory:%s", std::strerror(errno));
  }
  const std::optional<uint64_t> freeSize = desktop.freeSpace(folder);
  if (!freeSize) log("Error While Getting system attributes:free space of %s", folder.c_str());
  const std::optional<uint64_t> sourceSize = fs::isReadableFile(source) ? fs::fileSize(source) : std::nullopt;
  if (!sourceSize) {
    // Copying "nothing" would leave an empty file that looks like a saved movie.
    log("Error While Getting system attributes:size of %s", source.c_str());
    result.check = SaveCheck::SourceMissing;
    return result;
  }
  result.sourceSize = *sourceSize;
  // An unreadable free size counts as no space at all.
  if (freeSize.value_or(0) <= *sourceSize) result.check = SaveCheck::NotEnoughSpace;
  return result;
}

AlertRequest saveCheckAlert(SaveCheck check) {
  switch (check) {
    case SaveCheck::NotWritable:
      return {"! Disk is not writable",
              "The volume you have chosen to save data is not supported.",
              {"OK"},
              AlertStyle::Warning};
    case SaveCheck::NotEnoughSpace:
      return {"! Not enough free disk space",
              "The volume you have chosen to save data does not have enough free space to save the repaired file.",
              {"OK"},
              AlertStyle::Warning};
    case SaveCheck::SourceMissing:
      return {"! Could not save the repaired file",
              "The repaired file is no longer available. Please repair the video again.",
              {"OK"},
              AlertStyle::Warning};
    case SaveCheck::Ready:
      break;
  }
  return {};
}

AlertRequest saveFailedAlert() {
  return {"! Could not save the repaired file",
          "Reading the repaired file or writing the copy failed, so the incomplete copy was removed. Please choose "
          "another place and try again.",
          {"OK"},
          AlertStyle::Warning};
}

SaveOperation::SaveOperation(std::string source, std::string destination, uint64_t size, Callbacks callbacks,
                             std::chrono::milliseconds minReportInterval)
    : source_(std::move(source)),
      destination_(std::move(destination)),
      size_(size),
      chunkCount_(saveChunkCount(size)),
      callbacks_(std::move(callbacks)),
      minReportInterval_(minReportInterval) {}

SaveOperation::~SaveOperation() {
  cancel();
  wait();
}

bool SaveOperation::start() {
  in_ = ReadHandle::open(source_);
  if (!in_) {
    error_ = "cannot open " + source_;
    return false;
  }
  out_ = WriteHandle::create(destination_, true);
  if (!out_) {
    in_.reset();
    error_ = "cannot create " + destination_;
    return false;
  }
  worker_ = std::thread([this] { run(); });
  return true;
}

void SaveOperation::wait() {
  if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id()) worker_.join();
}

void SaveOperation::report(uint64_t first, uint64_t end) {
  if (!callbacks_.progress) return;
  if (minReportInterval_.count() == 0) {
    for (uint64_t i = first; i < end; ++i) callbacks_.progress(i, chunkCount_);
    return;
  }
  const auto now = std::chrono::steady_clock::now();
  if (reportedOnce_ && now - lastReport_ < minReportInterval_) return;
  reportedOnce_ = true;
  lastReport_ = now;
  callbacks_.progress(first, chunkCount_);
}

SaveOperation::Outcome SaveOperation::copy(std::string& reason) {
  std::vector<uint8_t> buffer;
  for (uint64_t first = 0; first < chunkCount_; first += kBlockChunks) {
    if (cancelled_) return Outcome::Cancelled;
    if (!pausePoint(paused_, cancelled_, pausePoll_)) return Outcome::Cancelled;
    const uint64_t end = std::min(chunkCount_, first + kBlockChunks);
    report(first, end);
    const uint64_t offset = first * kSaveChunkSize;
    const size_t length = static_cast<size_t>(std::min<uint64_t>(size_ - offset, (end - first) * kSaveChunkSize));
    buffer.resize(length);
    const size_t got = in_->readAt(offset, buffer.data(), length);
    if (got != length) {
      reason = "read error in " + source_ + " at byte " + std::to_string(offset + got);
      return Outcome::Failed;
    }
    if (!out_->write(buffer.data(), length)) {
      reason = "write error in " + destination_;
      return Outcome::Failed;
    }
    if (cancelled_) return Outcome::Cancelled;
  }
  if (!out_->commit()) {
    reason = "could not complete " + destination_;
    return Outcome::Failed;
  }
  return Outcome::Completed;
}

void SaveOperation::run() {
  std::string reason;
  const Outcome outcome = copy(reason);
  if (outcome != Outcome::Completed) out_->discard();
  if (outcome == Outcome::Failed) log("Saving failed: %s", reason.c_str());
  out_.reset();
  in_.reset();
  if (callbacks_.finished) callbacks_.finished(outcome, reason);
}

}  // namespace qvr
