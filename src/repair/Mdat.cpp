#include "repair/Mdat.h"

#include "foundation/ByteOrder.h"

std::unique_ptr<Mdat> Mdat::initMdatWithBytes(const uint8_t* bytes, uint64_t length, uint64_t offset) {
  auto mdat = std::make_unique<Mdat>();
  mdat->offsetInFile = offset;
  if (bytes != nullptr && length >= 16) {
    mdat->type = qvr::readBE32(bytes + 4);
    uint32_t size32 = qvr::readBE32(bytes);
    mdat->size = size32 == 1 ? qvr::readBE64(bytes + 8) : size32;
  }
  if (mdat->size == 0) return nullptr;
  return mdat;
}
