#pragma once

#include <cstdint>
#include <string>

// Which list of a blob a block ID refers to in a block list.
enum AZSBlockListMode : int64_t {
  AZSBlockListModeLatest = 0,
  AZSBlockListModeCommitted = 1,
  AZSBlockListModeUncommitted = 2
};

struct AZSBlockListItem {
  static AZSBlockListItem initWithBlockID(std::string blockID, int64_t blockListMode, int64_t size) {
    return AZSBlockListItem{std::move(blockID), blockListMode, size};
  }

  std::string blockID;
  int64_t blockListMode = AZSBlockListModeLatest;
  int64_t size = 0;
};
