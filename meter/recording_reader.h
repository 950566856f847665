// The samples of a recording, read as a stream: a WAV file (its header gives
// the rate and the channels) or raw signed 16-bit little-endian mono. One
// channel is taken; memory stays the same whatever the length.
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

    // Up to `count` samples of the chosen channel; 0 at the end. A last,
    // incomplete frame is dropped.
    size_t ReadSamples(int16_t* out, size_t count);

    // After the end: how many bytes the data chunk declared but the input
    // did not hold (0 when complete or of unknown size).
    uint64_t MissingBytes() const { return missingBytes; }

private:
    size_t Fill(size_t wanted);

    ByteSource* source = nullptr;
    WavInfo info;
    int channel = 0;
    uint64_t dataLeft = 0;  // when the size is known
    uint64_t missingBytes = 0;
    bool ended = false;
    std::vector<unsigned char> pending;  // bytes read but not yet used
    size_t pendingStart = 0;
};
