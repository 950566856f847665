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

    // A capture (at least `channels` channels) or a playback (`channels`).
    std::unique_ptr<AudioStream> OpenOrFail(AudioSystem& system, AudioDirection direction, int rate,
                                            const std::string& device = "", int channels = 1)
    {
        std::string error;
        std::unique_ptr<AudioStream> stream;
        if (direction == AudioDirection::Capture)
            stream = system.OpenCapture(device, rate, channels, error);
        else
            stream = system.OpenPlayback(device, rate, channels, error);
        EXPECT_NE(stream, nullptr) << error;
        // Capture starts at the first read.
        size_t done = 0;
        if (stream != nullptr && direction == AudioDirection::Capture) {
            EXPECT_EQ(Capture(*stream).Read(nullptr, 0, done, 0), AudioResult::Ok);
        }
        return stream;
    }

    static AudioCapture& Capture(AudioStream& stream) { return dynamic_cast<AudioCapture&>(stream); }
    static AudioPlayback& Playback(AudioStream& stream) { return dynamic_cast<AudioPlayback&>(stream); }

    // Reads what the stream has now, without waiting: whole frames.
    static std::vector<int32_t> ReadFrames(AudioStream& stream, size_t chunk)
    {
        const size_t channels = static_cast<size_t>(stream.Channels());
        std::vector<int32_t> read;
        std::vector<int32_t> buffer(chunk * channels);
        size_t done = 0;
        while (Capture(stream).Read(buffer.data(), chunk, done, 0) == AudioResult::Ok && done > 0)
            read.insert(read.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(done * channels));
        return read;
    }

    // The same, the first channel as the 16-bit samples the meter takes.
    static std::vector<int16_t> ReadAvailable(AudioStream& stream, size_t chunk)
    {
        const std::vector<int32_t> frames = ReadFrames(stream, chunk);
        std::vector<int16_t> read;
        for (size_t i = 0; i < frames.size(); i += static_cast<size_t>(stream.Channels()))
            read.push_back(Int16FromInt32(frames[i]));
        return read;
    }

    // Writes `count` frames of `samples` without waiting; the number queued.
    static size_t WriteNow(AudioStream& stream, const int16_t* samples, size_t count)
    {
        size_t done = 0;
        Playback(stream).Write(samples, count, done, 0);
        return done;
    }
};
