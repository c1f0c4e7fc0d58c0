#include "boxes/Minf.h"

#include <algorithm>

#include "boxes/AtomCreationRequest.h"
#include "boxes/BoxArithmetic.h"
#include "boxes/ByteStream.h"
#include "boxes/Dinf.h"
#include "boxes/Gmin.h"
#include "boxes/Hdlr.h"
#include "boxes/Stbl.h"
#include "boxes/Udta.h"

using qvr::fourCC;

Minf::Minf() = default;
Minf::~Minf() = default;

std::unique_ptr<Minf> Minf::initMINFWithBytes(const uint8_t* bytes, uint32_t size) {
  auto box = std::make_unique<Minf>();
  box->readBytes(bytes, size);
  if (!box->stbl) return nullptr;
  return box;
}

void Minf::readBytes(const uint8_t* bytes, uint32_t boxSize) {
  if (!bytes || boxSize < 8) return;
  size = qvr::readBE32(bytes);
  type = qvr::readBE32(bytes + 4);
  const uint64_t end = std::min(size, boxSize);

  // The media header must come first; its type is checked, unlike the first child of a track.
  uint64_t p = 8;
  if (end >= 16) {
    const auto [s, t] = qvr::childHeaderAt(bytes, 8);
    const bool fits = s >= 8 && 8ull + s <= end;
    if (fits && t == fourCC("vmhd")) {
      mediaHeader = Vmhd::initVMHDWithBytes(bytes + 8, s);
      minfMediaType = 1;
    } else if (fits && t == fourCC("smhd")) {
      mediaHeader = Smhd::initSMHDWithBytes(bytes + 8, s);
      minfMediaType = 2;
    } else if (fits && t == fourCC("gmhd")) {
      mediaHeader = Gmhd::initGMHDWithBytes(bytes + 8, s);
      minfMediaType = -1;
    }
    if (minfMediaType != 0) p = 8 + s;
  }
  if (p + 4 >= end) return;

  while (p + 8 <= end) {
    const auto [s, t] = qvr::childHeaderAt(bytes, p);
    if (s < 8 || p + s > end) {
      ++p;
      continue;
    }
    const uint8_t* child = bytes + p;
    switch (t) {
      case fourCC("gmin"):
        gmin = Gmin::initGMINWithBytes(child, s);
        break;
      case fourCC("dinf"):
        dinf = Dinf::initDINFWithBytes(child, s);
        break;
      case fourCC("hdlr"):
        hdlr = Hdlr::initHDLRWithBytes(child, s);
        break;
      case fourCC("stbl"):
        stbl = Stbl::initSTBLWithBytes(child, s);
        if (stbl && stbl->udta) udta = stbl->udta;
        break;
      case fourCC("udta"):
        udta = Udta::initUDTAWithBytes(child, s);
        break;
      default:
        ++p;
        continue;
    }
    p += s;
  }
}

std::string Minf::getResolution() const { return stbl ? stbl->getResolution() : "Missing"; }

std::unique_ptr<Minf> Minf::createMinfWithRequest(const AtomCreationRequest& request, int64_t andType) const {
  auto n = std::make_unique<Minf>();
  n->type = type;
  if (stbl) n->stbl = stbl->createStblWithRequest(request);
  if (andType == AtomCreationRequest::kAudioRequest) {
    n->mediaHeader = Smhd::init();
    n->minfMediaType = 2;
  } else if (andType == AtomCreationRequest::kVideoRequest) {
    n->mediaHeader = Vmhd::init();
    n->minfMediaType = 1;
  }
  n->hdlr = Hdlr::initHDLRWithComponentType(0, fourCC("dhlr"), 0, "");
  n->dinf = Dinf::initDINFWithDrefEnteryType(fourCC("alis"));
  n->createWriteableData();
  return n;
}

void Minf::createWriteableData() {
  ByteStream s;
  s.writeUI32(0);
  s.writeUI32(type);
  // A base media header is never written: repaired files carry only video and sound.
  if (auto* v = std::get_if<std::unique_ptr<Vmhd>>(&mediaHeader); v && *v)
    s.writeBytes((*v)->writeableData);
  else if (auto* a = std::get_if<std::unique_ptr<Smhd>>(&mediaHeader); a && *a)
    s.writeBytes((*a)->writeableData);
  if (hdlr) s.writeBytes(hdlr->writeableData);
  if (dinf) s.writeBytes(dinf->writeableData);
  if (stbl) s.writeBytes(stbl->writeableData);
  size = static_cast<uint32_t>(s.data().size());
  s.patchUI32(0, size);
  writeableData = s.take();
}
