// A recording opened for a command (measure, rate): a file or standard
// input (-), WAV (its header gives the rate and the channels) or raw
// samples, the channel asked for taken from it.
#pragma once

#include "soundclock/console.h"
#include "soundclock/options.h"

#include "meter/recording_reader.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

class RecordingInput {
public:
    RecordingInput() = default;
    ~RecordingInput();
    RecordingInput(const RecordingInput&) = delete;
    RecordingInput& operator=(const RecordingInput&) = delete;

    // Opens `source`: false, with `problem` in the user's words (the
    // name first), when it cannot. Standard input from a terminal is a
    // usage error of `command`.
    bool Open(const InputChoice& source, const std::string& command, std::string& problem);

    RecordingReader& Reader() { return reader; }
    // "standard input", or the file's name.
    const std::string& Name() const { return name; }
    bool Failed() const { return bytes && bytes->Failed(); }
    // For a recording of several channels, which one is measured
    // ("2 channels: measuring channel 1 (--channel N for another)"); empty
    // for one channel.
    std::string ChannelNote() const;

    // Reads the chosen channel into `push`, a piece at a time, until
    // `limit` samples or the end: as 16-bit samples, or at full resolution.
    void ReadInto(uint64_t limit, const std::function<void(const int16_t*, size_t)>& push);
    void ReadInto(uint64_t limit, const std::function<void(const float*, size_t)>& push);
    // After the end: what went wrong reading ("reading NAME failed"), and
    // a word where the data ended early; each empty when there is none.
    std::string ReadProblem() const;
    std::string ShortNote() const;

private:
    std::FILE* file = nullptr;
    std::unique_ptr<FileSource> bytes;
    RecordingReader reader;
    std::string name;
    bool channelGiven = false;
};

// The samples a run of `seconds` (-1: without end) holds at `rate`.
uint64_t SampleLimit(double seconds, int rate);
