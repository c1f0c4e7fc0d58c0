#include "boxes/Udta.h"

#include "foundation/ByteOrder.h"

namespace {
constexpr uint32_t kManu = 0x6D616E75;  // "manu"
constexpr uint32_t kModl = 0x6D6F646C;  // "modl"
}  // namespace

std::unique_ptr<Udta> Udta::initUDTAWithBytes(const uint8_t* bytes, uint32_t size) {
  auto box = std::make_unique<Udta>();
  box->readBytes(bytes, size);
  return box;
}

void Udta::readBytes(const uint8_t* bytes, uint32_t boxSize) {
  if (!bytes || boxSize < 8) return;
  size = qvr::readBE32(bytes);
  type = qvr::readBE32(bytes + 4);
  if (boxSize < 16) return;
  // Byte-wise scan: maker and model texts may sit at any depth inside other user data.
  for (uint64_t p = 8; p + 8 <= boxSize;) {
    const uint32_t childSize = qvr::readBE32(bytes + p);
    const uint32_t childType = qvr::readBE32(bytes + p + 4);
    if ((childType == kManu || childType == kModl) && childSize >= 8 && p + childSize <= boxSize) {
      std::string text = getTheDetailsFromBlock(bytes + p + 8, childSize - 8);
      (childType == kManu ? manufacture : device) = std::move(text);
      p += childSize;
    } else {
      ++p;
    }
  }
}

std::string Udta::getTheDetailsFromBlock(const uint8_t* block, uint32_t blockSize) {
  std::string text;
  if (!block) return text;
  text.reserve(blockSize);
  for (uint32_t i = 0; i < blockSize; ++i) {
    // 0x15 introduces a language code byte that is not part of the text.
    if (block[i] == 0x15) {
      ++i;
      continue;
    }
    if (block[i] == 0) continue;
    text.push_back(static_cast<char>(block[i]));
  }
  return text;
}
