#include "boxes/Trak.h"

#include <algorithm>
#include <cmath>

#include "boxes/AtomCreationRequest.h"
#include "boxes/BoxArithmetic.h"
#include "boxes/ByteStream.h"
#include "boxes/Edts.h"
#include "boxes/Mdhd.h"
#include "boxes/Mdia.h"
#include "boxes/Minf.h"
#include "boxes/Stbl.h"
#include "boxes/Stsd.h"
#include "boxes/Stsz.h"
#include "boxes/Stts.h"
#include "boxes/Tkhd.h"
#include "boxes/Udta.h"

using qvr::fourCC;

Trak::Trak() = default;
Trak::~Trak() = default;

std::unique_ptr<Trak> Trak::initTRAKWithBytes(const uint8_t* bytes, uint32_t size) {
  auto box = std::make_unique<Trak>();
  box->readBytes(bytes, size);
  if (!box->mdia) return nullptr;
  box->initProperties();
  return box;
}

void Trak::readBytes(const uint8_t* bytes, uint32_t boxSize) {
  if (!bytes || boxSize < 12) return;
  size = qvr::readBE32(bytes);
  type = qvr::readBE32(bytes + 4);
  const uint64_t end = std::min(size, boxSize);

  // The first child is the track header whatever its type; one that runs past the track ends
  // the parse (and the track, having no media box, is then none).
  const uint32_t first = qvr::readBE32(bytes + 8);
  if (8ull + first > end) return;
  tkhd = Tkhd::initTKHDWithBytes(bytes + 8, first);

  for (uint64_t p = 8ull + first; p + 8 < end;) {
    const auto [s, t] = qvr::childHeaderAt(bytes, p);
    if (s < 8 || p + s > end) {
      ++p;
      continue;
    }
    switch (t) {
      case fourCC("edts"):
        edts = Edts::initEDTSWithBytes(bytes + p, s);
        break;
      case fourCC("udta"):
        udta = Udta::initUDTAWithBytes(bytes + p, s);
        break;
      case fourCC("mdia"):
        mdia = Mdia::initMDIAWithBytes(bytes + p, s);
        if (mdia && mdia->udta) udta = mdia->udta;
        break;
      default:
        ++p;
        continue;
    }
    p += s;
  }
}

const Stbl* Trak::stbl() const {
  if (!mdia || !mdia->minf) return nullptr;
  return mdia->minf->stbl.get();
}

const Stsd* Trak::stsd() const {
  const Stbl* table = stbl();
  return table ? table->stsd.get() : nullptr;
}

int64_t Trak::getTrackType() const {
  const int64_t media = mdia ? mdia->mediaType : -1;
  return media == 1 || media == 2 ? media : -1;
}

uint32_t Trak::getTimeScale() const { return mdia ? mdia->getTimeScale() : 0; }

uint32_t Trak::getSampleSize() const {
  const Stbl* table = stbl();
  return table ? table->getSampleSize() : 0;
}

uint32_t Trak::getSamplePerChunk() const {
  const Stbl* table = stbl();
  return table ? table->getSamplePerChunk() : 0;
}

std::string Trak::getResolution() const {
  const Stbl* table = stbl();
  return table ? table->getResolution() : "Missing";
}

void Trak::initProperties() {
  trackType = getTrackType();
  trackDuration = tkhd ? static_cast<uint32_t>(tkhd->duration) : 0;
  const Mdhd* header = mdia ? mdia->mdhd.get() : nullptr;
  trakMediaTimeScale = header ? header->timescale : 0;
  trakMediaDuration = header ? static_cast<uint32_t>(header->duration) : 0;
  const Stbl* table = stbl();
  sampleCount = table && table->stsz ? table->stsz->numberOfEntries : 0;
  oneSampleDuration = table && table->stts ? table->stts->getOneSampleDuration() : 0;
  trakFPS = static_cast<double>(trakMediaTimeScale) / static_cast<double>(trakMediaDuration) *
            static_cast<double>(sampleCount);
  const Stsd* description = stsd();
  trackDecoder = description ? description->getDecoder() : nullptr;
  trackCodecFormat = description ? description->codecFormat : 0;
  // PCM rates are whole samples per second.
  if (trackCodecFormat == 1003) trakFPS = std::trunc(trakFPS);
}

std::unique_ptr<Trak> Trak::createTrackWithRequest(const AtomCreationRequest& request) const {
  auto n = std::make_unique<Trak>();
  n->type = type;
  n->tkhd = tkhd;
  if ((trackType == 1 || trackType == 2) && mdia) {
    n->mdia = mdia->createMediaWithRequest(
        request, trackType == 1 ? AtomCreationRequest::kVideoRequest : AtomCreationRequest::kAudioRequest);
    n->trackType = trackType;
  }
  n->editMediaTime = request.editMediaTime;
  n->size = (n->mdia ? n->mdia->size : 0) + (tkhd ? tkhd->size : 0) + 8;
  n->initProperties();
  return n;
}

void Trak::setDuration(uint32_t duration) {
  if (tkhd) tkhd->setDuration(duration);
  if (trackType == 1) edts = Edts::initWDTSWithDuration(duration, editMediaTime.value_or(oneSampleDuration));
  createWriteableData();
  initProperties();
}

void Trak::createWriteableData() {
  if (tkhd && tkhd->writeableData.empty()) tkhd->createWriteableData();
  ByteStream s;
  s.writeUI32(0);
  s.writeUI32(type);
  if (tkhd) s.writeBytes(tkhd->writeableData);
  if (edts && trackType == 1) s.writeBytes(edts->writeableData);
  if (mdia) s.writeBytes(mdia->writeableData);
  size = static_cast<uint32_t>(s.data().size());
  s.patchUI32(0, size);
  writeableData = s.take();
}
