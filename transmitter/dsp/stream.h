// The transmitter's output as a plain sample stream, for tests and
// benchmarks that need the real signal (the receiver's among them).
#pragma once

#include "transmitter/dsp/synthesis.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// A synthesis as the transmitter has it after start-up: these settings
// (0 takes the default), then InitSynthesis.
Synthesis InitialisedSynthesis(int32_t sampleRate, double carrierFrequency);

// One signed 16-bit little-endian sample from the two bytes at `bytes`.
int16_t DecodeSample(const unsigned char* bytes);

// Runs `synthesis` on for `symbolCount` symbols (AdvanceSymbol, then
// FillSymbolSamples, as playback does per finished buffer) and appends the
// 4 * symbolCount samples to `samples`.
void AppendStream(Synthesis& synthesis, size_t symbolCount, std::vector<int16_t>& samples);

// The first 4 * symbolCount samples the transmitter plays after program
// start with these settings (0 takes the default, as at start-up).
std::vector<int16_t> SynthesizeStream(int32_t sampleRate, double carrierFrequency, size_t symbolCount);
