#include "boxes/Mdia.h"

#include <algorithm>
#include <cmath>

#include "boxes/AtomCreationRequest.h"
#include "boxes/BoxArithmetic.h"
#include "boxes/ByteStream.h"
#include "boxes/Hdlr.h"
#include "boxes/Mdhd.h"
#include "boxes/Minf.h"
#include "boxes/Stbl.h"
#include "boxes/Stsz.h"
#include "boxes/Stts.h"
#include "boxes/Udta.h"

using qvr::fourCC;

Mdia::Mdia() = default;
Mdia::~Mdia() = default;

std::unique_ptr<Mdia> Mdia::initMDIAWithBytes(const uint8_t* bytes, uint32_t size) {
  auto box = std::make_unique<Mdia>();
  box->readBytes(bytes, size);
  if (!box->minf) return nullptr;
  return box;
}

void Mdia::readBytes(const uint8_t* bytes, uint32_t boxSize) {
  if (!bytes || boxSize < 12) return;
  size = qvr::readBE32(bytes);
  type = qvr::readBE32(bytes + 4);
  const uint64_t end = std::min(size, boxSize);

  // The first child is the media header whatever its type; one that does not fit ends the
  // parse, and the media box then has no media information.
  const uint32_t first = qvr::readBE32(bytes + 8);
  if (8ull + first > end) return;
  mdhd = Mdhd::initMDHDWithBytes(bytes + 8, first);

  for (uint64_t p = 8ull + first; p + 8 < end;) {
    const auto [s, t] = qvr::childHeaderAt(bytes, p);
    if (s < 8 || p + s > end) {
      ++p;
      continue;
    }
    switch (t) {
      case fourCC("hdlr"):
        hdlr = Hdlr::initHDLRWithBytes(bytes + p, s);
        break;
      case fourCC("minf"):
        minf = Minf::initMINFWithBytes(bytes + p, s);
        if (minf && minf->udta) udta = minf->udta;
        break;
      case fourCC("udta"):
        break;  // crossed, not kept
      default:
        ++p;
        continue;
    }
    p += s;
  }

  mediaType = getMediaType();
  const Stsz* stsz = minf && minf->stbl ? minf->stbl->stsz.get() : nullptr;
  mdiaFPS = static_cast<double>(mdhd->timescale) / static_cast<double>(mdhd->duration) *
            static_cast<double>(stsz ? stsz->numberOfEntries : 0);
}

int64_t Mdia::getMediaType() const {
  if (hdlr && hdlr->componentSubtype == fourCC("vide")) return 1;
  if (hdlr && hdlr->componentSubtype == fourCC("soun")) return 2;
  if (minf) return minf->minfMediaType;
  return -1;
}

uint32_t Mdia::getTimeScale() const { return mdhd ? mdhd->timescale : 0; }

std::string Mdia::getResolution() const { return minf ? minf->getResolution() : "Missing"; }

std::unique_ptr<Mdia> Mdia::createMediaWithRequest(const AtomCreationRequest& request, int64_t withRequestType) const {
  auto n = std::make_unique<Mdia>();
  n->type = type;
  if (minf) n->minf = minf->createMinfWithRequest(request, withRequestType);
  if (withRequestType == AtomCreationRequest::kVideoRequest)
    n->hdlr = Hdlr::initHDLRWithComponentType(fourCC("mhlr"), fourCC("vide"), 0, "");
  else if (withRequestType == AtomCreationRequest::kAudioRequest)
    n->hdlr = Hdlr::initHDLRWithComponentType(fourCC("mhlr"), fourCC("soun"), 0, "");

  const Stbl* newStbl = n->minf ? n->minf->stbl.get() : nullptr;
  const uint32_t sampleCount = newStbl && newStbl->stsz ? newStbl->stsz->numberOfEntries : 0;
  const uint32_t timescale = mdhd ? mdhd->timescale : 0;
  // N samples at the reference's average sample duration. A reference whose own rate is not a
  // usable number (no samples, zero duration) gives no average: the new time-to-sample table's
  // total is the duration then.
  uint32_t duration;
  if (std::isfinite(mdiaFPS) && mdiaFPS > 0) {
    duration = qvr::truncateToUInt32(static_cast<double>(uint64_t(timescale) * sampleCount) / mdiaFPS);
  } else {
    const uint64_t one = newStbl && newStbl->stts ? newStbl->stts->getOneSampleDuration() : 0;
    duration = static_cast<uint32_t>(std::min<uint64_t>(one * sampleCount, UINT32_MAX));
  }
  n->mdhd = Mdhd::initMDHDWithDuration(duration, timescale, mdhd ? mdhd->language : 0, mdhd ? mdhd->quality : 0);
  n->mediaType = n->getMediaType();
  n->createWriteableData();
  return n;
}

void Mdia::createWriteableData() {
  ByteStream s;
  s.writeUI32(0);
  s.writeUI32(type);
  if (mdhd) s.writeBytes(mdhd->writeableData);
  if (hdlr) s.writeBytes(hdlr->writeableData);
  if (minf) s.writeBytes(minf->writeableData);
  size = static_cast<uint32_t>(s.data().size());
  s.patchUI32(0, size);
  writeableData = s.take();
}
