#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/RepairFileDelegate.h"

namespace qvr {
class ReadHandle;
class WriteHandle;
}  // namespace qvr

// Repairs a damaged AVI file without a reference: picks the main and stream headers out of the
// start of the file, finds every video (`00dc`/`00db`) and audio (`01wb`) chunk that another chunk
// follows, and writes a new RIFF AVI with rebuilt headers and OpenDML indexes around them.
//
// One object per job. The owner sets `delegate`, may call fileValidityCheck() (which also decides
// whether the video index names `00db`), then runs retrieveAudioVideoSamplesForFileAtPath() on a
// worker thread; `pauseRepairingAVI` and `stopflag` may be set from any thread meanwhile.
class RepairFileAvi {
 public:
  // Chunks of each kind that the tables hold; the tables are used from index 1.
  static constexpr uint64_t kMaxChunksPerKind = 1048575;
  // The search only positions chunks below this offset.
  static constexpr uint64_t kSearchLimit = uint64_t(1) << 31;
  // Chunk sizes at or above this are taken for chance matches.
  static constexpr uint64_t kMaxChunkSize = 9999999;
  // Files this small cannot be repaired.
  static constexpr int64_t kErrorCannotRepair = 107;
  static constexpr const char* kCannotRepairReason = "Can not repair this file..";

  RepairFileAvi();

  // True when one of the AVI tokens occurs in the first 10 KiB; sets `db` when the first one
  // met is `00db`.
  bool fileValidityCheck(const std::string& path);
  // The whole job; every outcome goes to the delegate.
  void retrieveAudioVideoSamplesForFileAtPath(const std::string& damagedPath, const std::string& outputPath);

  static uint64_t fourByteRead(const uint8_t* bytes);
  static std::array<uint8_t, 4> convertIntToData(uint64_t value);
  static std::array<uint8_t, 8> convertIntTo8byteData(uint64_t value);

  // --- found by the header search ---
  bool audiocodecfound = false;
  bool videocodecfound = false;
  bool audiostrfcodecfound = false;
  bool videostrfcodecfound = false;
  bool avihscaleratedatafound = false;
  bool db = false;

  // --- chunk tables, used from index 1 (element 0 stays 0) ---
  uint64_t videosamplesize = 0;
  uint64_t videosamplecount = 0;
  std::vector<uint64_t> videosamplesizearray;
  std::vector<uint64_t> videosampleoffsetarray;
  uint64_t audiosamplecount = 0;
  std::vector<uint64_t> audiosampleoffsetarray;
  std::vector<uint64_t> audiosamplesizearray;

  // --- layout of the repaired file ---
  uint64_t ix00size = 0;
  uint64_t ix01size = 0;
  uint64_t videoindxsize = 0;
  uint64_t audioindxsize = 0;
  uint64_t videodatasize = 0;
  uint64_t audiodatasize = 0;
  uint64_t ix00location = 0;
  uint64_t ix01location = 0;
  uint64_t videostrlListsize = 0;
  uint64_t audiostrlListsize = 0;
  uint64_t AVILISTsize = 0;
  uint64_t baseoffsetforvideo = 0;
  uint64_t baseoffsetforaudio = 0;
  uint64_t movisize = 0;
  uint64_t RIFFLISTsize = 0;

  // --- header fields ---
  std::array<uint8_t, 4> audiocodec{};
  std::array<uint8_t, 4> videocodec{};
  std::array<uint8_t, 8> videoscaleratedata{};
  std::array<uint8_t, 8> audioscaleratedata{};
  std::array<uint8_t, 4> videoscaledata{};
  std::array<uint8_t, 4> audioscaledata{};
  uint64_t videostrfsize = 0;
  uint64_t audiostrfsize = 0;
  std::vector<uint8_t> videostrfdata;
  std::vector<uint8_t> audiostrfdata;
  std::array<uint8_t, 4> videostrfcodecdata{};
  std::array<uint8_t, 4> audiostrfcodecdata{};
  std::array<uint8_t, 20> avihdata1{};
  std::array<uint8_t, 36> avihdata2{};

  std::atomic<bool> stopflag{false};
  std::atomic<bool> pauseRepairingAVI{false};
  RepairFileDelegate* delegate = nullptr;  // not owned

  // True when the file is larger than the searched area (only its first 2 GiB were searched).
  bool searchedFirst2GiBOnly() const { return searchedFirst2GiBOnly_; }
  // True when more video or audio chunks were found than the tables hold; the extra ones are
  // left out of the repaired file.
  bool chunkLimitReached() const { return chunkLimitReached_; }

 private:
  bool findHeaders(qvr::ReadHandle& in);
  void searchChunks(qvr::ReadHandle& in);
  void constructRIFFListWithFileHandle(qvr::ReadHandle& in, const std::string& outputPath);

  void computeLayout();
  std::vector<uint8_t> headerBytes() const;
  bool writeIndexEntries(qvr::WriteHandle& out, const std::vector<uint64_t>& sizes, uint64_t count);
  bool copyChunks(qvr::ReadHandle& in, qvr::WriteHandle& out, const std::vector<uint64_t>& offsets,
                  const std::vector<uint64_t>& sizes, uint64_t count);

  void sendTask(const std::string& task);
  void sendProgress(int32_t value);
  void sendAttribute(const std::string& key, const std::string& value);
  // Frame rate, duration and audio format of the repaired movie, beside the header attributes.
  void sendDetails();
  void sendError(int64_t code, const std::string& reason);

  bool searchedFirst2GiBOnly_ = false;
  bool chunkLimitReached_ = false;
};
