#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "boxes/StsdDecoder.h"

class Ftyp;
class Moov;
class Meta;
class Udta;
class Mdat;
class AtomCreationRequest;
namespace qvr {
class WriteHandle;
}

// One movie file as the repair engine sees it: the parsed reference (type 1), the damaged file
// (type 2, never parsed) or the repaired output (type 3, holding only a synthesised movie box).
class File {
 public:
  static constexpr uint64_t kReferenceFile = 1;
  static constexpr uint64_t kDamagedFile = 2;
  static constexpr uint64_t kRepairedFile = 3;

  File(uint64_t fileType, std::string filePath);
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // A reference file with whatever top-level boxes the tolerant scan found; never fails.
  static std::unique_ptr<File> parseFileAtPath(const std::string& path);
  static std::unique_ptr<File> initWithFileType(uint64_t fileType, const std::string& filePath);
  // True when a candidate movie box's first child is mvhd, uuid, free, udta or trak, looked for
  // after an 8-byte header (byte 12) and after a 16-byte header (byte 20). Reads 24 bytes.
  static bool validMoovInnerTagInBytes(const uint8_t* bytes);

  // Setting the movie box loads the decoders and codec codes from it.
  void setMoov(std::unique_ptr<Moov> newMoov);
  void loadDecoders();
  void getVideoCoderFormat();
  void getAudioCoderFormat();

  double videoFPS() const;
  double audioFPS() const;
  uint32_t videoTrackTimeScale() const;
  uint32_t audioTrackTimeScale() const;
  int32_t AVCOneNaluSizeLength() const;
  qvr::ParameterSetRef SPS() const;
  qvr::ParameterSetRef PPS() const;
  qvr::ParameterSetRef VPS() const;
  // The AAC AudioSpecificConfig bytes; empty when there are none.
  std::span<const uint8_t> decoderSpecificInfo() const;
  uint64_t numberOfTracks() const;
  // "%d:%d:%d" hours, minutes, seconds; "Missing" without a movie box.
  std::string durationOfFile() const;
  std::unique_ptr<Moov> createMoovHeaderWithVideoRequest(const AtomCreationRequest& videoRequest,
                                                         const AtomCreationRequest& audioRequest) const;
  // Appends the movie box; false when a write failed. Writes nothing without a movie box.
  bool writeToFileHandle(qvr::WriteHandle& handle) const;

  std::unique_ptr<Ftyp> ftyp;
  std::unique_ptr<Moov> moov;
  std::unique_ptr<Mdat> mdat;
  std::unique_ptr<Meta> meta;
  std::shared_ptr<Udta> udta;
  std::string filePath;
  std::string manufacture;
  std::string device;
  uint64_t fileType = 0;
  qvr::SampleEntryRef videoDecoder;
  qvr::SampleEntryRef audioDecoder;
  uint64_t videoCodec = 0;
  uint64_t audioCodec = 0;
};
