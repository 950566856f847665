// Reading a recording: a WAV header, taken apart with every size checked
// against the bytes actually present, and the samples of one channel.
//
// Accepted: RIFF/WAVE with a "fmt " chunk before a "data" chunk (other
// chunks are skipped) of 16-, 24- or 32-bit PCM (format tag 1) or 32-bit
// float (format tag 3), or WAVE_FORMAT_EXTENSIBLE with either sub-format in
// containers of those sizes (a 24-bit sample in a 32-bit container is read
// as the 32-bit sample it is, its low byte zero), with any number of
// channels. A data size of 0 or 0xFFFFFFFF means "until the end of the
// input", as programs that write WAV to a pipe leave it.
#pragma once

#include "common/sample_format.h"

#include <cstddef>
#include <cstdint>
#include <string>

// The highest sample rate read, of a WAV file or of raw samples (Hz).
constexpr int32_t HIGHEST_SAMPLE_RATE = 1000000;

// Everything before the samples must fit in this many bytes: a header that
// claims more (a huge chunk before "data") is refused rather than read.
constexpr size_t WAV_HEADER_LIMIT = 1 << 20;

struct WavInfo {
    int32_t sampleRate = 0;
    uint16_t channels = 0;
    uint16_t bitsPerSample = 0;  // of the container: 16, 24 or 32
    uint16_t blockAlign = 0;     // bytes a frame: channels x the container's bytes
    SampleEncoding encoding = SampleEncoding::S16;
    size_t dataOffset = 0;      // bytes from the start of the file to the first sample
    uint64_t dataBytes = 0;     // as the data chunk declares it
    bool dataSizeKnown = false; // false: read to the end of the input
};

enum class WavParse { Complete, NeedMoreData, Invalid };

// Parses the header held in bytes[0..size). Complete: `info` describes the
// file and the samples start at info.dataOffset (<= size). NeedMoreData:
// the bytes so far are a valid beginning; give more (at the end of the
// input this is a truncated header). Invalid: `problem` says why, in words
// for the user. Never reads outside bytes[0..size).
WavParse ParseWavHeader(const unsigned char* bytes, size_t size, WavInfo& info, std::string& problem);

// The header for `dataBytes` bytes of samples of `channels` channels at
// `sampleRate` in `encoding`; a size of WAV_SIZE_UNKNOWN writes the sizes
// as 0xFFFFFFFF, for a stream without end. 16-bit mono and stereo get the
// plain 44-byte PCM header; anything wider or with more channels the
// 68-byte WAVE_FORMAT_EXTENSIBLE one (no speaker positions), as Windows
// asks. A 24-bit sample in 4 bytes cannot be said in a WAV header: it is
// written as 24-bit in 3 (the caller encodes it so: WavEncodingFor).
constexpr uint64_t WAV_SIZE_UNKNOWN = ~0ull;
std::string MakeWavHeader(int32_t sampleRate, uint16_t channels, uint64_t dataBytes,
                          SampleEncoding encoding = SampleEncoding::S16);
// The layout a WAV file keeps samples of `encoding` in, without loss.
SampleEncoding WavEncodingFor(SampleEncoding encoding);
