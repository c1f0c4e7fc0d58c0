#pragma once

#include <memory>

#include "bitstream/RBSPObject.h"
#include "boxes/SampleDescriptionEntery.h"

namespace qvr {
// A sample description entry as handed out by Stsd::getDecoder and kept by a track: the entry
// lives as long as any holder, so a track or request may outlive the Stsd it came from.
// Down-cast with asVideo()/asAudio() of the entry.
using SampleEntryRef = std::shared_ptr<SampleDescriptionEntery>;
// A parsed parameter set: ::SPS / ::PPS for H.264, SPS_265 / PPS_265 / VPS_265 for H.265.
using ParameterSetRef = std::shared_ptr<RBSPObject>;
}  // namespace qvr
