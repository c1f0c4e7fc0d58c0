#include "boxes/Stbl.h"

#include <algorithm>

#include "boxes/AtomCreationRequest.h"
#include "boxes/BoxArithmetic.h"
#include "boxes/ByteStream.h"
#include "boxes/Ctts.h"
#include "boxes/Sdtp.h"
#include "boxes/Stco.h"
#include "boxes/Stsc.h"
#include "boxes/Stsd.h"
#include "boxes/Stss.h"
#include "boxes/Stsz.h"
#include "boxes/Stts.h"
#include "boxes/Udta.h"

using qvr::fourCC;

namespace {

constexpr int64_t kCodecSowt = 1003;
constexpr int64_t kCodecTwos = 1004;
constexpr int64_t kCodecOtherPcm = 1006;

// PCM tracks declare one "sample" per PCM frame: the sum over every chunk of the samples per
// chunk of the run that covers it (runs may change from chunk to chunk).
uint32_t pcmFrameCount(const std::vector<SampleToChunkEntery>& runs, uint64_t chunkCount) {
  uint64_t total = 0;
  for (size_t k = 0; k < runs.size(); ++k) {
    // Chunks before the first run's first chunk are counted with the first run.
    const uint64_t first = k == 0 ? 1 : std::max<uint64_t>(runs[k].firstChunk, 1);
    const uint64_t next = k + 1 < runs.size() ? runs[k + 1].firstChunk : chunkCount + 1;
    const uint64_t last = std::min<uint64_t>(next, chunkCount + 1);
    if (last > first) total += (last - first) * runs[k].samplesPerChunk;
  }
  return static_cast<uint32_t>(std::min<uint64_t>(total, UINT32_MAX));
}

}  // namespace

Stbl::Stbl() = default;
Stbl::~Stbl() = default;

std::unique_ptr<Stbl> Stbl::initSTBLWithBytes(const uint8_t* bytes, uint32_t size) {
  auto box = std::make_unique<Stbl>();
  if (!box->readBytes(bytes, size)) return nullptr;
  return box;
}

bool Stbl::readBytes(const uint8_t* bytes, uint32_t boxSize) {
  if (!bytes || boxSize < 8) return false;
  size = qvr::readBE32(bytes);
  type = qvr::readBE32(bytes + 4);
  testSize = 0;
  const uint64_t end = std::min(size, boxSize);
  for (uint64_t p = 8; size >= 9 && p + 8 <= end;) {
    const auto [s, t] = qvr::childHeaderAt(bytes, p);
    if (s < 8 || p + s > end) {
      ++p;
      continue;
    }
    const uint8_t* child = bytes + p;
    switch (t) {
      case fourCC("stsd"):
        stsd = Stsd::initSTSDWithBytes(child, s);
        break;
      case fourCC("stts"):
        stts = Stts::initSTTSWithBytes(child, s);
        break;
      case fourCC("stss"):
        stss = Stss::initSTSSWithBytes(child, s);
        break;
      case fourCC("stsc"):
        stsc = Stsc::initSTSCWithBytes(child, s);
        break;
      case fourCC("stsz"):
        stsz = Stsz::initSTSZWithBytes(child, s);
        break;
      case fourCC("stco"):
        stco = Stco::initSTCOWithBytes(child, s, false);
        break;
      case fourCC("co64"):
        stco = Stco::initSTCOWithBytes(child, s, true);
        break;
      case fourCC("ctts"):
        ctts = Ctts::initCTTSWithBytes(child, s);
        break;
      case fourCC("sdtp"):
        sdtp = Sdtp::initSDTPWithBytes(child, s);
        break;
      case fourCC("udta"):
        udta = Udta::initUDTAWithBytes(child, s);
        break;
      // Known boxes the repair does not need: accepted so that they count towards the size.
      case fourCC("sdps"):
      case fourCC("free"):
      case fourCC("skip"):
      case fourCC("cslg"):
      case fourCC("csgm"):
      case fourCC("sgpd"):
      case fourCC("sbgp"):
        break;
      default:
        ++p;
        continue;
    }
    testSize += s;
    p += s;
  }
  // Anything the scan did not accept (a shadow sync table, say) leaves the sum short: such a
  // table is not one the repair can rebuild faithfully.
  return uint64_t(testSize) + 8 == size;
}

uint32_t Stbl::getSampleSize() const { return stsz ? stsz->sampleSize : 0; }

uint32_t Stbl::getSamplePerChunk() const {
  if (!stsc || stsc->SampleToChunkTable.empty()) return 0;
  return stsc->SampleToChunkTable.front().samplesPerChunk;
}

std::string Stbl::getResolution() const { return stsd ? stsd->getResolution() : "Missing"; }

std::unique_ptr<Stbl> Stbl::createStblWithRequest(const AtomCreationRequest& q) const {
  auto n = std::make_unique<Stbl>();
  n->type = type;
  n->stsd = stsd;
  const int64_t codec = stsd ? stsd->codecFormat : 0;

  n->stco = Stco::initWithChunkOffsetTable(q.stcoEntries);
  const uint64_t chunkCount = q.stcoEntries.size();

  if (codec == kCodecSowt || codec == kCodecTwos || codec == kCodecOtherPcm) {
    if (!q.stscEntries.empty()) {
      n->stsc = Stsc::initSTSCWithSampleToChunkTable(q.stscEntries);
    } else if (codec == kCodecTwos && stsc) {
      // Without runs of its own a "twos" track keeps the reference's layout.
      n->stsc = stsc;
      n->stsc->asignWritableData();
    } else {
      n->stsc = Stsc::initSTSCWithSampleToChunkTable({});
    }
    if (!n->stsc->SampleToChunkTable.empty())
      n->stsz = Stsz::initSTSZWithSampleCount(pcmFrameCount(n->stsc->SampleToChunkTable, chunkCount), 1);
  } else {
    n->stsc = Stsc::initSTSCWithSampleToChunkTable(q.stscEntries);
    n->stsz = Stsz::initSTSZWithSampleSizeTable(q.stszEntries);
  }
  const uint32_t sampleCount = n->stsz ? n->stsz->numberOfEntries : 0;

  if (q.requestType == AtomCreationRequest::kVideoRequest) {
    if (q.compositionOffsets && !q.compositionOffsets->empty()) {
      std::vector<CompositionOffsetEntery> runs;
      runs.reserve(q.compositionOffsets->size());
      for (const auto& run : *q.compositionOffsets)
        runs.push_back(CompositionOffsetEntery::initCOEnteryWithSampleCount(run.sampleCount, run.compositionOffset));
      n->ctts = Ctts::initCTTSWithCompositionOffsetTable(runs);
    } else if (ctts && ctts->compositionOffsetTable.size() >= 2) {
      n->ctts = ctts;
    }
    if (q.syncSamples) {
      n->stss = Stss::initSTSSWithSyncSampleTable(*q.syncSamples);
    } else if (stss) {
      const uint32_t difference = stss->syncSampleTable.size() >= 2 ? stss->syncSampleTable[1] : 2;
      n->stss = Stss::initSTSSWithSampleCount(sampleCount, difference);
    }
    if (q.sdtpData && !q.sdtpData->empty())
      n->sdtp = Sdtp::initSDTPWithSampleCount(sampleCount, *q.sdtpData);
    else if (sdtp)
      n->sdtp = Sdtp::initSDTPWithSampleCount(sampleCount, sdtp->Data);  // none when empty
  }

  uint32_t duration = qvr::truncateToUInt32(q.FPS > 0 ? q.timeScale / q.FPS : 0.0);
  if (duration == 0) duration = q.requestType == AtomCreationRequest::kVideoRequest ? 1 : 1024;
  n->stts = Stts::initSTTSWithSampleCount(sampleCount, duration);

  n->createWriteableData();
  return n;
}

void Stbl::createWriteableData() {
  ByteStream s;
  s.writeUI32(0);
  s.writeUI32(type);
  if (stsd) s.writeBytes(stsd->stsdData);
  if (stss) s.writeBytes(stss->writeableData);
  if (ctts) s.writeBytes(ctts->writeableData);
  if (stts) s.writeBytes(stts->writeableData);
  if (stsc) s.writeBytes(stsc->writeableData);
  if (stsz) s.writeBytes(stsz->writeableData);
  if (stco) s.writeBytes(stco->writeableData);
  if (sdtp) s.writeBytes(sdtp->writeableData);
  // The size is what was written, so that it always agrees with the children's bytes.
  size = static_cast<uint32_t>(s.data().size());
  s.patchUI32(0, size);
  writeableData = s.take();
}
