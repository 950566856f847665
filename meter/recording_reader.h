// The samples of a recording, read as a stream: a WAV file (its header gives
// the rate, the channels and the samples' layout: meter/wav_format.h) or raw
// signed 16-bit little-endian mono. One channel is taken, as 16-bit samples
// or at its full resolution; memory stays the same whatever the length.
#pragma once

#include "meter/wav_format.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Where the bytes come from (a file, standard input, memory in tests).
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Up to `size` bytes into `buffer`; 0 only at the end of the input.
    virtual size_t Read(unsigned char* buffer, size_t size) = 0;
};

class RecordingReader {
public:
    // WAV: reads the header. `channel` is 0-based; -1 takes the first.
    // False, with `problem` in words for the user, when the input is not
    // a usable recording (or the channel does not exist).
    bool OpenWav(ByteSource& source, int channel, std::string& problem);
    // Raw samples: mono, at `sampleRate`.
    bool OpenRaw(ByteSource& source, int32_t sampleRate, std::string& problem);

    int32_t SampleRate() const { return info.sampleRate; }
    int Channels() const { return info.channels; }
    int Channel() const { return channel; }

    SampleEncoding Encoding() const { return info.encoding; }

    // Up to `count` samples of the chosen channel; 0 at the end, fewer
    // than asked only when the input holds no more yet or a frame is very
    // wide. A last, incomplete frame is dropped. As 16-bit samples (wider
    // ones rounded half to even, clipped), or at full resolution with full
    // scale 1.0 (a float file's samples as they are, a NaN as 0 and an
    // infinity as +-1). The two may be mixed; each sample is read once.
    size_t ReadSamples(int16_t* out, size_t count);
    size_t ReadSamples(float* out, size_t count);

    // After the end: how many bytes the data chunk declared but the input
    // did not hold (0 when complete or of unknown size).
    uint64_t MissingBytes() const { return missingBytes; }

private:
    size_t Fill(size_t wanted);
    // Makes up to `count` whole frames available; the frames to take.
    size_t FramesReady(size_t count);
    // Past `frames` frames of what FramesReady offered.
    void Consume(size_t frames);
    const unsigned char* ChannelSample(size_t frame) const;

    ByteSource* source = nullptr;
    WavInfo info;
    int channel = 0;
    uint64_t dataLeft = 0;  // when the size is known
    uint64_t missingBytes = 0;
    bool ended = false;
    std::vector<unsigned char> pending;  // bytes read but not yet used
    size_t pendingStart = 0;
};
