// libs: qvr_boxes qvr_bitstream qvr_foundation
#include <cstddef>
#include <cstdint>

#include "boxes/AtomCreationRequest.h"
#include "boxes/Ctts.h"
#include "boxes/Sdtp.h"
#include "boxes/Stbl.h"
#include "boxes/Stco.h"
#include "boxes/Stsc.h"
#include "boxes/Stss.h"
#include "boxes/Stsz.h"
#include "boxes/Stts.h"

// A sample table box with all its tables, and a repaired table built on it from a small request;
// then the same bytes as each table on its own, written again.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > UINT32_MAX) return 0;
  const uint32_t n = uint32_t(size);
  Stts::initSTTSWithBytes(data, n)->createWriteableData();
  Stss::initSTSSWithBytes(data, n)->createWriteableData();
  Stsz::initSTSZWithBytes(data, n)->createWriteableData();
  Stsc::initSTSCWithBytes(data, n)->asignWritableData();
  Stco::initSTCOWithBytes(data, n, false)->createWriteableData();
  Stco::initSTCOWithBytes(data, n, true)->createWriteableData();
  Sdtp::initSDTPWithBytes(data, n)->createWriteableData();
  // A reused composition table is written as parsed: its size must count what it writes.
  auto ctts = Ctts::initCTTSWithBytes(data, n);
  if (ctts->size != ctts->writeableData.size()) __builtin_trap();
  auto stbl = Stbl::initSTBLWithBytes(data, uint32_t(size));
  if (!stbl) return 0;
  (void)stbl->getSampleSize();
  (void)stbl->getSamplePerChunk();
  (void)stbl->getResolution();
  AtomCreationRequest request;
  request.requestType = (size & 1) ? AtomCreationRequest::kVideoRequest : AtomCreationRequest::kAudioRequest;
  request.timeScale = 90000;
  request.FPS = 25;
  request.stcoEntries = {48, 9000, uint64_t(1) << 33};
  request.stszEntries = {1000, 0, 800, 70000};
  request.stscEntries = {SampleToChunkEntery::initWithFirstChunk(1, 2, 1),
                         SampleToChunkEntery::initWithFirstChunk(2, 1, 1)};
  if (auto made = stbl->createStblWithRequest(request)) made->createWriteableData();
  return 0;
}
