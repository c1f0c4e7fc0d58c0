#pragma once

// Common base of every parsed NAL unit payload (parameter sets and slice headers of both codecs),
// so that a NALU can own whichever one its type produced.
struct RBSPObject {
  virtual ~RBSPObject() = default;
};
