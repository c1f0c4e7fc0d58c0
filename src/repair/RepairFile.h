#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "boxes/AtomCreationRequest.h"
#include "foundation/RepairFileDelegate.h"
#include "repair/AacFrameSearch.h"
#include "repair/File.h"
#include "repair/PcmLayout.h"
#include "repair/Sample.h"

class NALU;
class SPS;
class PPS;
class VPS_265;
class SPS_265;
class PPS_265;
namespace qvr {
class AacSearchQueue;
class AacDecoderStock;
class ReadHandle;
class BufferedReader;
class WriteHandle;
}  // namespace qvr

// Engine error codes of the MOV/MP4 repair (106 is shared with the AVI engine).
inline constexpr int32_t kErrorNoSampleFound = 101;
inline constexpr int32_t kErrorInvalidHealthyFile = 102;
inline constexpr int32_t kErrorCorruptFileUnreadable = 104;
inline constexpr int32_t kErrorHealthyFileUnreadable = 105;
inline constexpr const char* kReasonNoSampleFound = "No Sample Found";
inline constexpr const char* kReasonInvalidHealthyFile = "Invalid Healthy File";
inline constexpr const char* kReasonCorruptFileUnreadable = "Corrupt File Does not Exist or Unreadbale";
inline constexpr const char* kReasonHealthyFileUnreadable = "Healthy File Does not Exist or Unreadbale";

inline constexpr const char* kTaskAnalyzing = "Analyzing video file...";
inline constexpr const char* kTaskLocating = "Locating audio / video data forks..";
inline constexpr const char* kTaskWriting = "Writing audio / video data forks..";

using SampleChunk = std::vector<std::shared_ptr<Sample>>;

// The reference's parameter sets that candidate NAL units are judged against: H.264 when `vps`
// is absent, H.265 when it is present.
struct ReferenceParameterSets {
  std::shared_ptr<SPS> sps;
  std::shared_ptr<PPS> pps;
  std::shared_ptr<VPS_265> vps;
  std::shared_ptr<SPS_265> sps265;
  std::shared_ptr<PPS_265> pps265;
  bool hevc() const { return vps != nullptr; }
};

// Repairs one damaged MOV/MP4/M4V movie with the help of a healthy reference movie whose video
// uses the same coding parameters. One object per job; the job runs synchronously on the
// caller's thread and reports everything through `delegate`. `pauseRepairing` and `stopflag` may
// be set from another thread at any time.
class RepairFile {
 public:
  // A unit this long or longer is taken for a chance match and ends a run.
  static constexpr uint32_t kMaxNaluSize = 2200000;
  // Bytes of a candidate NAL unit handed to the acceptance test.
  static constexpr uint32_t kCandidateWindow = 50;

  RepairFile();
  ~RepairFile();
  RepairFile(const RepairFile&) = delete;
  RepairFile& operator=(const RepairFile&) = delete;

  // The whole job. Outcomes: repairFileDidComplete, repairFileDidFailWithError (101, 102, 104,
  // 105, 106), moveBackToSelectReferenceFile, or nothing after a stop.
  void repairMOVWithRefFileAtPath(const std::string& ref, const std::string& corrupt, const std::string& repaired);

  // Job steps, in calling order.
  void repairFileAtPath(const std::string& corrupt, const std::string& output, const std::string& ref);
  void analysisMdatOfFile(File& file, uint64_t videoCodec, uint64_t audioCodec);
  void analyseDataForAVC1AndHVC1InFile(File& file, uint64_t audioCodec);
  // AAC frames of [offset, offset + size); none when stopped during the search.
  std::optional<SampleChunk> analyseAACInFileHandle(qvr::ReadHandle& handle, uint64_t offset, uint64_t size);
  // Writes the repaired movie; true when it was written completely (false after a stop or an
  // error, which has then been reported).
  bool writeSampleAtPath(const std::string& output, const std::string& corrupt);
  void sendInfoToUIVideoCodec(uint64_t codec, double fps, uint64_t tracks, const std::string& duration);
  void sendErrorWithCode(int32_t code, const std::string& reason);

  // The run of length-prefixed NAL units that starts at `offset`: returns the number of units
  // taken (0 when none); the run's samples are appended to `samples`, and the two counters are
  // incremented (never reset). An H.264 run ends before a picture whose frame_num does not follow
  // the run's pictures; the scan starts a new run there.
  int32_t getNaluAtOffset(uint64_t offset, SampleChunk& samples, qvr::BufferedReader& reader, uint8_t sizeBytesLength,
                          uint32_t* nalCount, uint32_t* sampleCount, uint64_t inputFileSize,
                          const ReferenceParameterSets& sets);
  // The decoded candidate unit at `offset`, or none; decided on its first 50 bytes.
  std::shared_ptr<NALU> isNaluAtOffset(uint64_t offset, qvr::BufferedReader& reader, uint8_t sizeBytesLength,
                                       const ReferenceParameterSets& sets);
  // The first offset from `offset` on (at most a span further) where a unit could begin as far as
  // its length prefix's first byte tells.
  static uint64_t nextPossibleUnit(qvr::BufferedReader& reader, uint64_t offset, uint64_t fileSize,
                                   uint8_t sizeBytesLength);
  // The reference's parameter sets for its video codec; none of them when the video track has no
  // sample description.
  ReferenceParameterSets referenceParameterSets() const;

  // Grouping of one unit into a run's samples (H.264 and H.265 rules). `picture` is the H.265
  // run's picture flag. Exposed for tests.
  static void groupAVC(const std::shared_ptr<NALU>& x, const NALU* previous, uint64_t offset, SampleChunk& samples,
                       uint32_t* sampleCount);
  static void groupHEVC(const std::shared_ptr<NALU>& x, const NALU* previous, bool& picture, uint64_t offset,
                        SampleChunk& samples, uint32_t* sampleCount);
  // Records a chunk in a track's sample-to-chunk list when its count differs from the last run.
  static void recordSampleToChunk(std::vector<SampleToChunkEntery>& entries, uint32_t chunkNumber,
                                  uint32_t samplesPerChunk);
  // Whole PCM frames in `bytes` of sound; 0 when there are none or too many for a table entry.
  static uint64_t pcmChunkFrames(uint64_t bytes, uint32_t frameBytes);
  // Whether a video sample's size folds into the next counted sample (non-picture units).
  static bool isPrefixSample(const Sample& sample);

  std::vector<SampleChunk> sampleArray;
  SampleChunk videoSampleArray;
  SampleChunk audioSampleArray;
  uint64_t videoSampleCount = 0;
  uint64_t fileSize1 = 0;
  uint64_t ftypSize = 0;
  std::atomic<bool> pauseRepairing{false};
  std::atomic<bool> stopflag{false};
  RepairFileDelegate* delegate = nullptr;  // not owned
  std::unique_ptr<File> healthyFile;
  std::unique_ptr<File> corruptFile;
  std::unique_ptr<AtomCreationRequest> videoRequest;
  std::unique_ptr<AtomCreationRequest> audioRequest;

  // Facts about the finished job for callers that want more than the delegate says.
  uint64_t audioSampleCountWritten() const { return audioSamplesWritten_; }
  uint64_t videoSampleCountWritten() const { return videoSamplesWritten_; }

 private:
  void sendTask(const std::string& task);
  void sendProgress(int32_t percentage);
  void sendMoveBack();
  void recoverAudioBetween(qvr::ReadHandle& handle, uint64_t audioCodec, uint64_t nextVideoOffset);
  // The audio outside the video: before the first chunk (when no gap has searched it yet) and
  // after the last one, within the media data.
  void recoverAudioAtTheEdges(uint64_t audioCodec, uint64_t fileSize);
  // Where the region after the last video chunk (ending at `lastVideoEnd`) ends.
  uint64_t trailingRegionEnd(uint64_t lastVideoEnd, uint64_t fileSize) const;
  size_t submitLeadingRegion();
  // Uncompressed sound in the media data before the first and after the last video chunk.
  void recoverPcmBefore(uint64_t firstVideoOffset);
  void recoverPcmAfter(qvr::ReadHandle& handle, uint64_t fileSize);
  void addPcmChunk(uint64_t regionStart, std::optional<qvr::PcmLayout::Sound> sound);
  // Takes the AAC chunks whose searches have finished, in the order they were queued; `all` waits
  // for every one.
  void collectAudioChunks(bool all);
  uint32_t pcmFrameBytes() const;
  bool acceptSingleUnitRun(const SampleChunk& run, qvr::ReadHandle& handle, uint64_t fileSize, uint64_t audioCodec);
  // The decoder that took the window at `offset` in a lone picture's test, if one is kept.
  qvr::DecodedWindow takeDecodedWindow(uint64_t offset);
  void noteAcceptedRun(const SampleChunk& run);
  // Whether a picture's frame_num (H.264) or order count (H.265) carries on from the pictures
  // accepted so far.
  bool carriesOn(const NALU& slice, bool hevc) const;
  // The same, or the picture starts afresh.
  bool continuesPictures(const Sample& sample) const;
  // Where a run that carries on from the pictures so far begins inside the first unit of `run`,
  // which does not: chance units in metadata can reach into the picture that follows them.
  std::optional<uint64_t> continuingRunInside(const SampleChunk& run, qvr::BufferedReader& reader,
                                              uint8_t sizeBytesLength, uint64_t fileSize,
                                              const ReferenceParameterSets& sets);
  struct MdatWriter;
  // The media data's writer, its placeholder header written; errors reported when `reportErrors`.
  std::unique_ptr<MdatWriter> startMdat(const std::string& output, const std::string& corrupt, bool reportErrors);
  // The whole job writes the media data beside the scan, chunk by chunk as each is settled.
  void startWritingBesideScan(const std::string& output, const std::string& corrupt);
  void writeSettledChunks(bool scanEnded);
  // Removes what was written beside the scan of a job that did not get to the end.
  void abandonWriting();
  bool writeChunk(MdatWriter& w, const SampleChunk& chunk);
  // The chunks not yet written and the sample tables; false after a stop or an error.
  bool writeSamples(MdatWriter& w, bool besideScan);
  bool writeHeader(qvr::WriteHandle& out, const std::string& output);
  void addFrameTables();

  std::vector<SampleToChunkEntery> videoStsc_;
  std::vector<SampleToChunkEntery> audioStsc_;
  uint32_t videoChunkNumber_ = 0;
  uint32_t audioChunkNumber_ = 0;
  qvr::PcmLayout pcmLayout_;
  bool leadingRegionSearched_ = false;
  // The damaged file's media data, as far as its top-level boxes tell; else the whole file.
  bool mediaDataFound_ = false;
  uint64_t mediaDataBegin_ = 0;
  uint64_t mediaDataEnd_ = 0;
  // AAC regions being searched beside the scan: where each chunk goes in `sampleArray` (an empty
  // chunk holds its place), and the leading region's search queued with the first gap.
  struct PendingAudioChunk {
    size_t chunkIndex = 0;
    std::optional<size_t> ticket;
    std::optional<size_t> leadingTicket;
  };
  qvr::AacSearchQueue* aacSearches_ = nullptr;   // owned by the scan
  qvr::AacDecoderStock* aacDecoders_ = nullptr;  // owned by the scan: fresh decoders for lone pictures
  std::deque<PendingAudioChunk> pendingAudio_;
  // The last lone pictures' tests of the audio after them: the searches of those regions go on
  // from them.
  std::deque<qvr::DecodedWindow> decodedWindows_;
  SampleChunk leadingAudio_;
  // What the single-unit acceptance compares a lone picture with.
  std::vector<uint8_t> aacConfig_;
  int32_t maxFrameNum_ = 0;
  int32_t prevRefFrameNum_ = -1;
  int32_t maxPocLsb_ = 0;
  int32_t prevPocLsb_ = -1;
  uint64_t largestVideoSample_ = 0;
  // The media data written beside the scan (the whole job only), and where to.
  std::unique_ptr<MdatWriter> streaming_;
  std::string streamOutput_;
  // The leading region's AAC chunk is known (found or not): chunks may be written from then on.
  bool leadingSettled_ = false;
  bool errorSent_ = false;
  int32_t lastProgress_ = -1;
  // The first NAL unit of every video sample size entry, for the per-frame tables.
  std::vector<const Sample*> videoEntries_;
  uint64_t audioSamplesWritten_ = 0;
  uint64_t videoSamplesWritten_ = 0;
};
