#include "avi/RepairFileAvi.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "foundation/ByteOrder.h"
#include "foundation/FileHandle.h"
#include "foundation/Log.h"
#include "foundation/Pause.h"

using qvr::BufferedReader;
using qvr::ReadHandle;

namespace {

constexpr uint64_t kValidityBlock = 1024;
constexpr uint64_t kValidityBlocks = 10;
constexpr uint64_t kHeaderWindows = 50;
constexpr uint64_t kHeaderWindow = 1024;
// A stream format chunk larger than this is not a header we can trust.
constexpr uint64_t kMaxStrfSize = 64u << 10;

// The chunk search reads through a buffer twice the window, so consecutive windows mostly come
// from one refill and every byte is read from the file about once.
constexpr size_t kSearchBuffer = 16u << 20;
constexpr size_t kSearchWindow = kSearchBuffer / 2;
// Positions per window; the rest of the window is look-ahead for a candidate's size field.
constexpr size_t kSearchStep = kSearchWindow - 16;
// Table space is made before each slice of this many positions, never while recording.
constexpr size_t kReserveSlice = 64u << 10;
// Chunk ids cannot overlap themselves, so a slice holds at most one candidate per 4 bytes.
constexpr uint64_t kMaxCandidatesPerSlice = kReserveSlice / 4 + 1;

bool isId(const uint8_t* p, const char* id) { return std::memcmp(p, id, 4) == 0; }

bool allZero(const uint8_t* p, size_t n) {
  return std::all_of(p, p + n, [](uint8_t b) { return b == 0; });
}

// A chunk is real when another data chunk or a filler starts right after it, allowing up to two
// bytes of padding.
bool followsChunk(const uint8_t* lookAhead) {
  for (int k = 0; k < 3; ++k) {
    const uint8_t* p = lookAhead + k;
    if (isId(p, "01wb") || isId(p, "00db") || isId(p, "00dc") || isId(p, "JUNK")) return true;
  }
  return false;
}

// Handler codes are shown to the user; bytes that are not text show as nothing.
std::string fourccText(const std::array<uint8_t, 4>& code) {
  std::string s(code.begin(), code.end());
  while (!s.empty() && s.back() == '\0') s.pop_back();
  for (size_t i = 0; i < s.size(); ++i) {
    auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x20 || c >= 0x7f) return std::string();
  }
  return s;
}

// Reads a field that lies wholly inside the file; otherwise the field keeps its value.
template <size_t N>
void readField(ReadHandle& in, uint64_t offset, std::array<uint8_t, N>& field) {
  if (offset + N > in.size()) return;
  std::array<uint8_t, N> bytes{};
  if (in.readAt(offset, bytes.data(), N) == N) field = bytes;
}

void readStrf(ReadHandle& in, uint64_t m, uint64_t& size, std::vector<uint8_t>& data) {
  std::array<uint8_t, 4> sizeBytes{};
  if (m + 64 > in.size() || in.readAt(m + 60, sizeBytes.data(), 4) != 4) return;
  uint64_t declared = qvr::readLE32(sizeBytes.data());
  // Size and data change together, or the rebuilt headers would not match their own sizes.
  if (declared > kMaxStrfSize || m + 64 + declared > in.size()) return;
  std::vector<uint8_t> bytes(declared);
  if (in.readAt(m + 64, bytes.data(), declared) != declared) return;
  size = declared;
  data = std::move(bytes);
}

void reserveAhead(std::vector<uint64_t>& v) {
  const size_t limit = RepairFileAvi::kMaxChunksPerKind + 1;
  if (v.capacity() >= limit || v.capacity() - v.size() >= kMaxCandidatesPerSlice) return;
  v.reserve(std::min<size_t>(limit, std::max<size_t>(v.capacity() * 2, v.size() + kMaxCandidatesPerSlice)));
}

}  // namespace

RepairFileAvi::RepairFileAvi()
    : videosamplesizearray{0}, videosampleoffsetarray{0}, audiosampleoffsetarray{0}, audiosamplesizearray{0} {}

uint64_t RepairFileAvi::fourByteRead(const uint8_t* bytes) { return qvr::readLE32(bytes); }

std::array<uint8_t, 4> RepairFileAvi::convertIntToData(uint64_t value) {
  std::array<uint8_t, 4> out{};
  qvr::storeLE32(out.data(), static_cast<uint32_t>(value));
  return out;
}

// The whole value: the same bytes as a 32-bit value below 4 GiB, and still right above it.
std::array<uint8_t, 8> RepairFileAvi::convertIntTo8byteData(uint64_t value) {
  std::array<uint8_t, 8> out{};
  qvr::storeLE32(out.data(), static_cast<uint32_t>(value));
  qvr::storeLE32(out.data() + 4, static_cast<uint32_t>(value >> 32));
  return out;
}

bool RepairFileAvi::fileValidityCheck(const std::string& path) {
  static const char* const kTokens[] = {"LIST", "RIFF", "00db", "00dc", "00wb", "AVI ",
                                        "avih", "hdrl", "indx", "movi", "strl", "strh"};
  db = false;
  auto in = ReadHandle::open(path);
  if (!in || in->size() < kValidityBlock) return false;
  for (uint64_t k = 0; k < kValidityBlocks; ++k) {
    std::array<uint8_t, kValidityBlock> block{};
    in->readAt(k * kValidityBlock, block.data(), block.size());
    // Only tokens wholly inside one block count.
    for (size_t p = 0; p + 4 <= block.size(); ++p) {
      for (const char* token : kTokens) {
        if (isId(&block[p], token)) {
          db = isId(&block[p], "00db");
          return true;
        }
      }
    }
  }
  return false;
}

void RepairFileAvi::retrieveAudioVideoSamplesForFileAtPath(const std::string& damagedPath,
                                                           const std::string& outputPath) {
  videosamplesize = 0;
  videosamplecount = 0;
  audiosamplecount = 0;
  videosamplesizearray.assign(1, 0);
  videosampleoffsetarray.assign(1, 0);
  audiosamplesizearray.assign(1, 0);
  audiosampleoffsetarray.assign(1, 0);
  searchedFirst2GiBOnly_ = false;
  chunkLimitReached_ = false;

  auto in = ReadHandle::open(damagedPath);
  if (!in) {
    qvr::log("Cannot open %s for reading", damagedPath.c_str());
    sendError(kErrorCannotRepair, kCannotRepairReason);
    return;
  }
  if (!findHeaders(*in)) {
    // A search the user stopped found nothing because it was stopped: nothing to report.
    if (!stopflag) sendError(kErrorCannotRepair, kCannotRepairReason);
    return;
  }
  searchChunks(*in);
  constructRIFFListWithFileHandle(*in, outputPath);
}

bool RepairFileAvi::findHeaders(ReadHandle& in) {
  auto allFound = [this] {
    return avihscaleratedatafound && audiocodecfound && videocodecfound && videostrfcodecfound && audiostrfcodecfound;
  };
  // The 50 windows cover the first 50 KiB of positions (the last one in full); tokens need
  // three more bytes.
  std::vector<uint8_t> head(kHeaderWindows * kHeaderWindow + 3, 0);
  in.readAt(0, head.data(), head.size());

  for (uint64_t b = 1; b <= kHeaderWindows; ++b) {
    if (!qvr::pausePoint(pauseRepairingAVI, stopflag)) break;
    sendTask("Analyzing the file..");
    sendProgress(10);
    for (uint64_t p = 0; p < kHeaderWindow; ++p) {
      const uint64_t m = (b - 1) * kHeaderWindow + p;
      const uint8_t* token = &head[m];
      if (isId(token, "auds")) {
        readField(in, m + 4, audiocodec);
        audiocodecfound = true;
        sendAttribute("audio", fourccText(audiocodec));
        readField(in, m + 20, audioscaleratedata);
        readField(in, m + 28, audioscaledata);
        readStrf(in, m, audiostrfsize, audiostrfdata);
        readField(in, m + 80, audiostrfcodecdata);
        audiostrfcodecfound = !allZero(audiostrfcodecdata.data(), 4);
      } else if (isId(token, "vids")) {
        readField(in, m + 4, videocodec);
        videocodecfound = !allZero(videocodec.data(), 4);
        sendAttribute("video", fourccText(videocodec));
        readField(in, m + 20, videoscaleratedata);
        readField(in, m + 28, videoscaledata);
        readStrf(in, m, videostrfsize, videostrfdata);
        readField(in, m + 80, videostrfcodecdata);
        videostrfcodecfound = !allZero(videostrfcodecdata.data(), 4);
      } else if (isId(token, "avih")) {
        readField(in, m + 4, avihdata1);
        avihscaleratedatafound = avihdata1[0] != 0 || avihdata1[1] != 0;
        readField(in, m + 28, avihdata2);
      }
    }
    if (allFound()) {
      sendAttribute("track", "2");
      return true;
    }
  }
  return false;
}

void RepairFileAvi::searchChunks(ReadHandle& in) {
  sendTask("Locating audio / video data forks..");
  sendProgress(50);

  const uint64_t S = in.size();
  const uint64_t end = std::min(S, kSearchLimit);
  searchedFirst2GiBOnly_ = S > kSearchLimit;
  // Through a buffer, not in place: a mapping would keep every page it read resident in this
  // process until the end, as much memory as the file is large.
  BufferedReader reader(in, kSearchBuffer);

  for (uint64_t pos = 0; pos < end; pos += kSearchStep) {
    if (!qvr::pausePoint(pauseRepairingAVI, stopflag)) return;
    sendProgress(70);
    const uint8_t* w = reader.window(pos, kSearchWindow);
    const size_t span = static_cast<size_t>(std::min<uint64_t>(kSearchStep, end - pos));

    for (size_t slice = 0; slice < span; slice += kReserveSlice) {
      reserveAhead(videosamplesizearray);
      reserveAhead(videosampleoffsetarray);
      reserveAhead(audiosamplesizearray);
      reserveAhead(audiosampleoffsetarray);
      const size_t sliceEnd = std::min(span, slice + kReserveSlice);

      // Every id starts with '0', so the search jumps from one '0' to the next.
      size_t i = slice;
      while (i < sliceEnd) {
        const void* hit = std::memchr(w + i, '0', sliceEnd - i);
        if (!hit) break;
        i = static_cast<size_t>(static_cast<const uint8_t*>(hit) - w);
        const uint8_t* id = w + i;
        const bool video = isId(id, "00dc") || isId(id, "00db");
        if (!video && !isId(id, "01wb")) {
          ++i;
          continue;
        }
        const uint64_t q = pos + i;
        const uint64_t Z = qvr::readLE32(id + 4);
        videosamplesize = Z;
        if (Z >= 1 && Z <= kMaxChunkSize) {
          const size_t followerInWindow = i + 8 + static_cast<size_t>(Z);
          std::array<uint8_t, 6> lookAhead{};
          if (followerInWindow + lookAhead.size() <= kSearchWindow) {
            std::memcpy(lookAhead.data(), w + followerInWindow, lookAhead.size());
          } else {
            in.readAt(q + 8 + Z, lookAhead.data(), lookAhead.size());  // zeros past the end
          }
          if (followsChunk(lookAhead.data())) {
            uint64_t& count = video ? videosamplecount : audiosamplecount;
            if (count < kMaxChunksPerKind) {
              ++count;
              (video ? videosamplesizearray : audiosamplesizearray).push_back(Z);
              (video ? videosampleoffsetarray : audiosampleoffsetarray).push_back(q);
            } else {
              chunkLimitReached_ = true;
            }
          }
        }
        ++i;
      }
    }
  }
}

void RepairFileAvi::sendTask(const std::string& task) {
  if (delegate) delegate->repairFileDidStartPerformingTask(task);
}

void RepairFileAvi::sendProgress(int32_t value) {
  if (delegate) delegate->repairFileCurrentTaskProgress(value);
}

void RepairFileAvi::sendAttribute(const std::string& key, const std::string& value) {
  if (delegate) delegate->repairFileAttribute(key, value);
}

namespace {

// The names a user knows for the wave format tags cameras and encoders write.
std::string audioFormatName(const std::vector<uint8_t>& strf) {
  if (strf.size() < 2) return "Unknown";
  switch (qvr::readLE16(strf.data())) {
    case 0x0001:
      return "PCM";
    case 0x0002:
      return "ADPCM";
    case 0x0003:
      return "PCM (float)";
    case 0x0006:
      return "A-law";
    case 0x0007:
      return "mu-law";
    case 0x0011:
      return "IMA ADPCM";
    case 0x0050:
      return "MPEG audio";
    case 0x0055:
      return "MP3";
    case 0x00FF:
    case 0x1610:
      return "AAC";
    case 0x2000:
      return "AC-3";
    case 0xFFFE:
      return "PCM (extensible)";
    default:
      return "Unknown";
  }
}

}  // namespace

void RepairFileAvi::sendDetails() {
  // The stream header's rate over its scale is the frame rate; the chunks found give the length.
  const uint32_t scale = qvr::readLE32(videoscaleratedata.data());
  const uint32_t rate = qvr::readLE32(videoscaleratedata.data() + 4);
  const double fps = scale == 0 ? 0.0 : static_cast<double>(rate) / scale;
  char text[64];
  std::snprintf(text, sizeof text, "%.2f", fps);
  sendAttribute("fps", text);
  const uint64_t seconds = fps > 0 ? static_cast<uint64_t>(static_cast<double>(videosamplecount) / fps) : 0;
  sendAttribute("duration", qvr::durationAttribute(seconds));
  if (audiosamplecount > 0) sendAttribute("audio format", audioFormatName(audiostrfdata));
}

void RepairFileAvi::sendError(int64_t code, const std::string& reason) {
  stopflag = true;
  if (delegate) {
    delegate->repairFileDidFailWithError(
        qvr::Error(qvr::kRepairErrorDomain, code, qvr::UserInfo{{qvr::kErrorReasonKey, reason}}));
  }
}
