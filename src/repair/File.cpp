#include "repair/File.h"

#include <vector>

#include "boxes/AtomCreationRequest.h"
#include "boxes/Ftyp.h"
#include "boxes/Meta.h"
#include "boxes/Moov.h"
#include "boxes/Mvhd.h"
#include "boxes/Udta.h"
#include "foundation/ByteOrder.h"
#include "foundation/FileHandle.h"
#include "foundation/RepairFileDelegate.h"
#include "repair/Mdat.h"

namespace {
constexpr uint64_t kWindowLength = 65535;
constexpr uint64_t kWindowTail = 24;
constexpr uint64_t kEndMargin = 20;
// Boxes that the scan reads whole (user data, metadata, the movie box) are at most this long; a
// larger size in a damaged header is taken for chance bytes, not read into memory. The movie box
// of a ten-hour recording is a few tens of megabytes.
constexpr uint64_t kMaxWholeBoxSize = 256u << 20;

constexpr uint32_t fourCC(const char (&s)[5]) {
  return uint32_t(uint8_t(s[0])) << 24 | uint32_t(uint8_t(s[1])) << 16 | uint32_t(uint8_t(s[2])) << 8 |
         uint32_t(uint8_t(s[3]));
}

std::vector<uint8_t> readBox(qvr::ReadHandle& handle, uint64_t offset, uint32_t size) {
  std::vector<uint8_t> bytes(size, 0);
  handle.readAt(offset, bytes.data(), bytes.size());
  return bytes;
}
}  // namespace

File::File(uint64_t type, std::string path) : filePath(std::move(path)), fileType(type) {}
File::~File() = default;

std::unique_ptr<File> File::initWithFileType(uint64_t type, const std::string& path) {
  return std::make_unique<File>(type, path);
}

bool File::validMoovInnerTagInBytes(const uint8_t* bytes) {
  static constexpr uint32_t kTypes[] = {fourCC("mvhd"), fourCC("uuid"), fourCC("free"), fourCC("udta"), fourCC("trak")};
  for (uint32_t t : kTypes) {
    if (qvr::readBE32(bytes + 12) == t || qvr::readBE32(bytes + 20) == t) return true;
  }
  return false;
}

std::unique_ptr<File> File::parseFileAtPath(const std::string& path) {
  auto file = initWithFileType(kReferenceFile, path);
  auto handle = qvr::ReadHandle::open(path);
  if (!handle) return file;
  const uint64_t S = handle->size();
  const uint64_t N = (S + kWindowLength - 1) / kWindowLength;
  const uint64_t H = S / 100;
  if (N == 0 || S == kEndMargin) return file;

  uint64_t B = 0;
  uint64_t k = 0;
  uint64_t L = kWindowLength;
  bool mdatFound = false;
  std::vector<uint8_t> window(kWindowLength, 0);
  while (true) {
    if (file->moov) break;
    if (k == 10 && N > 100 && !mdatFound) {
      k = (N / 100) * 90;
      B = L * k;
    }
    L = S - B > L ? kWindowLength : S - B;
    std::fill(window.begin(), window.end(), 0);
    handle->readAt(B, window.data(), static_cast<size_t>(L));
    uint64_t j = 0;
    if (L > kWindowTail) {
      while (j < L - kWindowTail) {
        const uint8_t* at = window.data() + j;
        const uint32_t T = qvr::readBE32(at + 4);
        const uint64_t Z = qvr::readBE32(at);
        const bool fits = Z != 0 && B + j + Z <= S;
        const bool readable = fits && Z <= kMaxWholeBoxSize;
        if (T == fourCC("ftyp") && fits && Z < 65536) {
          auto bytes = readBox(*handle, B + j, static_cast<uint32_t>(Z));
          file->ftyp = Ftyp::initFtypWithBytes(bytes.data(), static_cast<uint32_t>(Z));
          j += Z;
        } else if (T == fourCC("free") && fits && (H == 0 ? 0 : Z / H) < 5) {
          j += Z;
        } else if (T == fourCC("udta") && readable) {
          auto bytes = readBox(*handle, B + j, static_cast<uint32_t>(Z));
          file->udta = Udta::initUDTAWithBytes(bytes.data(), static_cast<uint32_t>(Z));
          j += Z;
        } else if (T == fourCC("meta") && readable) {
          auto bytes = readBox(*handle, B + j, static_cast<uint32_t>(Z));
          file->meta = Meta::initMetaWithByte(bytes.data(), static_cast<uint32_t>(Z));
          j += Z;
        } else if (T == fourCC("moov") && validMoovInnerTagInBytes(at) && readable) {
          auto bytes = readBox(*handle, B + j, static_cast<uint32_t>(Z));
          auto parsed = Moov::initMOOVWithData(bytes.data(), static_cast<uint32_t>(Z));
          if (parsed && parsed->udta) file->udta = parsed->udta;
          file->setMoov(std::move(parsed));
          j += Z;
        } else if (T == fourCC("mdat")) {
          auto found = Mdat::initMdatWithBytes(at, 16, B + j);
          if (found && found->size <= S - found->offsetInFile) {
            j += found->size;
            file->mdat = std::move(found);
            mdatFound = true;
          } else {
            ++j;
          }
        } else {
          ++j;
        }
      }
    }
    ++k;
    // Windows overlap by up to 24 bytes, so counting N of them falls short of the end of a large
    // file (by 24 bytes per window after the jump) and a movie box at the very end would be
    // missed; the scan runs until it is within 20 bytes of the end, or no longer advances.
    if (j == 0 || B + j + kEndMargin >= S) break;
    B += j;
  }
  return file;
}

void File::setMoov(std::unique_ptr<Moov> newMoov) {
  moov = std::move(newMoov);
  loadDecoders();
  getVideoCoderFormat();
  getAudioCoderFormat();
}

void File::loadDecoders() {
  videoDecoder = moov ? moov->getTrackDecoderWith(1) : nullptr;
  audioDecoder = moov ? moov->getTrackDecoderWith(2) : nullptr;
}

void File::getVideoCoderFormat() { videoCodec = moov ? static_cast<uint64_t>(moov->getVideoCodecFormat()) : 0; }
void File::getAudioCoderFormat() { audioCodec = moov ? static_cast<uint64_t>(moov->getAudioCodecFormat()) : 0; }

double File::videoFPS() const { return moov ? moov->videoTrackFPS() : 0.0; }
double File::audioFPS() const { return moov ? moov->audioTrackFPS() : 0.0; }
uint32_t File::videoTrackTimeScale() const { return moov ? moov->videoTrackTimeScale() : 0; }
uint32_t File::audioTrackTimeScale() const { return moov ? moov->audioTrackTimeScale() : 0; }
int32_t File::AVCOneNaluSizeLength() const { return moov ? moov->getAVCOneNALUSizeLength() : 0; }
qvr::ParameterSetRef File::SPS() const { return moov ? moov->SPS() : nullptr; }
qvr::ParameterSetRef File::PPS() const { return moov ? moov->PPS() : nullptr; }
qvr::ParameterSetRef File::VPS() const { return moov ? moov->VPS() : nullptr; }
std::span<const uint8_t> File::decoderSpecificInfo() const {
  return moov ? moov->decodeSpecificInfo() : std::span<const uint8_t>();
}
uint64_t File::numberOfTracks() const { return moov ? moov->tracks.size() : 0; }

std::string File::durationOfFile() const {
  if (!moov) return "Missing";
  // The movie header's duration counts in the movie header's own time scale.
  uint32_t scale = moov->mvhd ? moov->mvhd->timescale : 0;
  uint64_t seconds = scale == 0 ? 0 : moov->duration() / scale;
  return qvr::durationAttribute(seconds);
}

std::unique_ptr<Moov> File::createMoovHeaderWithVideoRequest(const AtomCreationRequest& videoRequest,
                                                             const AtomCreationRequest& audioRequest) const {
  return moov ? moov->createMoovWithVideoRequest(videoRequest, audioRequest) : nullptr;
}

bool File::writeToFileHandle(qvr::WriteHandle& handle) const { return moov ? moov->writeToFileHandle(handle) : true; }
