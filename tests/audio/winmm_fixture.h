// The winmm backend on scripted wave devices: the test plays and records
// the devices' buffers itself, between the stream's calls, so every wait
// the stream makes is a zero-timeout look.
#pragma once

#include "audio/winmm_backend.h"
#include "tests/platform/support/scripted_wave_in.h"
#include "tests/platform/support/scripted_wave_out.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

constexpr size_t RING_BUFFERS = 8;
constexpr size_t BUFFER_SAMPLES_AT_8000 = 1024;

struct WinmmTest : ::testing::Test {
    ScriptedWaveIn waveIn;
    ScriptedWaveOut waveOut;
    // Both rings as long, whatever the defaults.
    WinmmStreamSettings settings{RING_BUFFERS, RING_BUFFERS, BUFFER_SAMPLES_AT_8000, 0};

    std::unique_ptr<AudioSystem> System() { return MakeWinmmAudioSystem(waveIn, waveOut, settings); }

    std::unique_ptr<AudioStream> OpenOrFail(AudioSystem& system, AudioDirection direction, int rate,
                                            const std::string& device = "")
    {
        std::string error;
        auto stream = system.Open(direction, device, rate, error);
        EXPECT_NE(stream, nullptr) << error;
        // Capture starts at the first read.
        size_t done = 0;
        if (stream != nullptr && direction == AudioDirection::Capture) {
            EXPECT_EQ(stream->Read(nullptr, 0, done, 0), AudioResult::Ok);
        }
        return stream;
    }

    // Reads what the stream has now, without waiting.
    static std::vector<int16_t> ReadAvailable(AudioStream& stream, size_t chunk)
    {
        std::vector<int16_t> read;
        std::vector<int16_t> buffer(chunk);
        size_t done = 0;
        while (stream.Read(buffer.data(), chunk, done, 0) == AudioResult::Ok && done > 0)
            read.insert(read.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(done));
        return read;
    }

    // Writes `count` samples of `samples` without waiting; the number queued.
    static size_t WriteNow(AudioStream& stream, const int16_t* samples, size_t count)
    {
        size_t done = 0;
        stream.Write(samples, count, done, 0);
        return done;
    }
};
