// Where the tone begins in the samples its search found it in
// (tone_search.h). The search takes a second or so from wherever the
// stream stood; when the tone started within them (the capture opened
// before the generator played), silence or noise lies in front of it, and
// the blocks there carry no phase of the tone. A tracker given them follows
// their phases instead: digital silence reads phase 0 in every block, a
// whole number of cycles a hop, and the tracker locks on 1024 Hz for a tone
// of 1000. So the demodulation starts where the tone does.
//
// The searched samples are demodulated at the tone's frequency; the tone's
// level is the strongest block's amplitude. Walking back from that block,
// the tone began after the last one below WEAK_FRACTION of the level (the
// tracker's own word for a block without the tone). The blocks straddling
// the onset hold only part of the tone, whose phase a frequency a little
// off the search's biases, so the first block demodulated is the first
// wholly in it: BLOCK_OVERLAP - 1 later. A tone there from the first block
// on starts at the first sample, as if there were no onset at all.
// Why: docs/accuracy.md#tone-onset
#pragma once

#include <cstddef>

struct ToneOnset {
    size_t firstSample = 0;  // into the searched samples: where demodulation starts (a whole number of hops)
    double level = 0;        // the tone's amplitude, from its strongest block (0: no whole block)
};

// Reads `count` samples (a search's), keeps nothing. `cyclesPerSample`:
// the tone's frequency as the demodulator will use it; `hop`: ToneHop().
ToneOnset FindToneOnset(const float* samples, size_t count, double cyclesPerSample, int hop);
