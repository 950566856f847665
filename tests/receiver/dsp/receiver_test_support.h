// Test doubles and feeding helpers for the receiver's signal processing,
// shared by its portable tests and the Windows tests of the whole receiver.
#pragma once

#include "common/memory_picture.h"
#include "receiver/dsp/correlator.h"
#include "receiver/dsp/receiver_arithmetic.h"
#include "transmitter/dsp/stream.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

// The system's button-face colour as some desktop might have it: any
// colour that is neither white, black, grey nor blue shows mistakes.
constexpr uint32_t TEST_BACKGROUND = 0x00C8D0D4;

// The transmitter's signal: `blocks` frames of 1024 samples.
inline std::vector<int16_t> TransmitterStream(size_t blocks, int32_t sampleRate = 8000,
                                              double carrierFrequency = 1500.0)
{
    return SynthesizeStream(sampleRate, carrierFrequency, blocks * FRAME_LENGTH);
}

struct RecordingReadout : ReadoutSink {
    std::vector<std::string> peakTexts;
    std::vector<std::string> clockTexts;
    void SetPeakText(const char* text) override { peakTexts.emplace_back(text); }
    void SetClockText(const char* text) override { clockTexts.emplace_back(text); }
};

// A picture that also logs the kind of every operation in order:
// 'p' pixel, 'c' copy, 'f' fill, 'l' polyline, 'r' repaint.
struct LoggingPicture : MemoryPicture {
    using MemoryPicture::MemoryPicture;
    std::string log;
    std::vector<CurvePoint> lastPolyline;
    int32_t topmostPixelRow = INT32_MAX;  // of all SetPixel calls

    void SetPixel(int32_t x, int32_t y, uint32_t color) override
    {
        log += 'p';
        topmostPixelRow = std::min(topmostPixelRow, y);
        MemoryPicture::SetPixel(x, y, color);
    }
    void CopyRect(int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t w, int32_t h) override
    {
        log += 'c';
        MemoryPicture::CopyRect(sx, sy, dx, dy, w, h);
    }
    void Fill(uint32_t color) override
    {
        log += 'f';
        MemoryPicture::Fill(color);
    }
    void Polyline(const CurvePoint* points, int32_t count, uint32_t color) override
    {
        log += 'l';
        lastPolyline.assign(points, points + count);
        MemoryPicture::Polyline(points, count, color);
    }
    void Repaint() override
    {
        log += 'r';
        MemoryPicture::Repaint();
    }
};

// A correlator as the receiver sets it up, with both pictures in memory on
// `background` (the receiver's is the system's button face).
struct ReceiverUnderTest {
    explicit ReceiverUnderTest(int32_t sampleRate = 8000, float carrierFrequency = 1500,
                               uint32_t background = TEST_BACKGROUND)
        : waterfall(WATERFALL_WIDTH, WATERFALL_HEIGHT, background), curve(CURVE_WIDTH, CURVE_HEIGHT, background)
    {
        correlator.InitCorrelator(sampleRate, carrierFrequency);
        correlator.ConnectReadouts(&readout);
        correlator.display.Connect(&waterfall, &curve, background);
    }

    // Hands the samples over as capture buffers of up to 1024 samples.
    void Capture(const std::vector<int16_t>& samples)
    {
        for (size_t start = 0; start < samples.size(); start += BLOCK_LENGTH) {
            const size_t count = std::min<size_t>(BLOCK_LENGTH, samples.size() - start);
            CaptureBuffer(samples.data() + start, count);
        }
    }

    void CaptureBuffer(const int16_t* samples, size_t count)
    {
        unsigned char bytes[CAPTURE_BUFFER_BYTES] = {};
        std::memcpy(bytes, samples, count * sizeof(int16_t));
        correlator.ResampleBuffer({bytes, CAPTURE_BUFFER_BYTES,
                                   static_cast<uint32_t>(count * sizeof(int16_t))});
    }

    Correlator correlator;
    RecordingReadout readout;
    LoggingPicture waterfall;
    LoggingPicture curve;
};
