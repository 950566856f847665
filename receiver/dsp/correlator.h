// The receiver's correlator: from captured 16-bit samples to the lag of the
// Barker burst, one block of 1024 samples at a time.
//
// ResampleBuffer takes each filled capture buffer, scales its samples to
// +-1 and resamples them by the user's clock correction; every 1024 output
// samples ProcessBlock mixes the block to complex baseband, low-passes and
// decimates it by 2 (MixAndDecimate) and correlates 512 lags against the
// Barker reference (CorrelateLags); then it hands the 512 magnitudes to the
// display, which draws the block's pictures (CorrelationDisplay), and the
// peak lag to the peak label.
//
// All state lives in one Correlator, allocated once and never reset, named
// as the system names it. The arithmetic follows receiver_arithmetic.h:
// 32-bit float storage, every partial sum rounded to a float after each
// term, products at extended precision, the order of terms as written here.
#pragma once

#include "receiver/dsp/correlation_display.h"
#include "receiver/dsp/readout.h"

#include <array>
#include <cstdint>

struct ComplexSample {
    float re;
    float im;
};

// A filled capture buffer as the shell hands it over: its bytes (16-bit
// little-endian mono samples), the buffer's size and how many bytes the
// driver recorded.
struct CaptureView {
    const unsigned char* data;
    uint32_t bufferLength;
    uint32_t bytesRecorded;
};

// Sizes. The parameters InitCorrelator writes take these values; the
// arrays are sized by them.
constexpr int32_t BLOCK_LENGTH = 4 * 256;
constexpr int32_t HALF_BLOCK_LENGTH = BLOCK_LENGTH / 2;
constexpr int32_t REFERENCE_LENGTH = 130;
constexpr int32_t LOWPASS_LENGTH = 43;
constexpr int32_t CAPTURE_BUFFER_BYTES = 2 * BLOCK_LENGTH;
static_assert(HALF_BLOCK_LENGTH == LAG_COUNT, "one display lag per correlation lag");

// The last three blocks' decimated samples, oldest first.
using DecimatedWindow = std::array<ComplexSample, 3 * HALF_BLOCK_LENGTH>;

class Correlator {
public:
    // Parameters and tables, once, before capture starts. sampleRate 0 and
    // carrierFrequency 0 mean the defaults 8000 and 1500, as in the
    // settings file.
    void InitCorrelator(int32_t sampleRate, float carrierFrequency);

    // Where the texts go. It may be absent (nullptr): they are then skipped.
    void ConnectReadouts(ReadoutSink* readoutSink);
    CorrelationDisplay display;

    // One filled capture buffer: copies it, resamples it and pushes every
    // output sample (each full block is processed on the way). Input
    // positions 0 .. round(bytesRecorded / 2 - 1) are stepped through
    // (halves to even; none for 0 bytes), one output per step, so a buffer
    // of n recorded samples yields n outputs, one fewer for each input
    // sample skipped and one more for each used again (on average
    // 1 + clockCorrection input samples per output).
    void ResampleBuffer(const CaptureView& buffer);
    // One resampled sample into inputBlock; a full block is processed.
    void PushSample(float x);
    // Mixes, decimates and correlates inputBlock, then hands the lags'
    // magnitudes to the display and the peak to the peak label.
    void ProcessBlock();
    // inputBlock -> basebandHistory -> 512 new decimated samples at the
    // end of window, which is first aged by one block (512 samples).
    void MixAndDecimate(const std::array<float, BLOCK_LENGTH>& block, DecimatedWindow& window,
                        float oscillatorStep);
    // The low-pass filter's output over basebandHistory[s .. s + 42].
    ComplexSample LowpassAt(int32_t s) const;
    // |c|^2 of the reference against window[lag + 2k], k = 0..129.
    float CorrelationPower(int32_t lag, const DecimatedWindow& window) const;
    // Lags 0 .. halfBlockLength - 1 (all 512 once initialised): writes each
    // one's magnitude, the square root of its power, to `magnitudes` and
    // returns the lag of the largest power (the lowest of equal ones).
    int32_t CorrelateLags(const DecimatedWindow& window, LagMagnitudes& magnitudes);

    // The clock trackbar's new position: sets clockCorrection to
    // (CLOCK_TRACKBAR_CENTRE - position) / CLOCK_STEPS_PER_UNIT and writes
    // the clock label.
    void SetClockPosition(uint16_t position);

    // Settings.
    int32_t sampleRate = 0;
    float carrierFrequency = 0;

    // Parameters. The loops of a block run over these, so before
    // InitCorrelator a block computes nothing.
    int32_t blockLength = 0;
    int32_t halfBlockLength = 0;
    int32_t referenceLength = 0;
    int32_t lowpassLength = 0;
    float phaseIncrement = 0;
    long double clockCorrection = 0;

    // Tables (the last element of each is never read).
    std::array<float, REFERENCE_LENGTH + 1> chipPattern{};
    std::array<float, REFERENCE_LENGTH + 1> referenceTaps{};
    std::array<float, LOWPASS_LENGTH + 1> lowpassTaps{};

    // Working storage.
    std::array<int16_t, BLOCK_LENGTH + 1> stagingSamples{};  // 1024 stays 0
    float resamplePhase = 0;
    std::array<float, BLOCK_LENGTH> inputBlock{};
    int32_t blockWriteIndex = 0;
    std::array<ComplexSample, BLOCK_LENGTH + LOWPASS_LENGTH> basebandHistory{};
    DecimatedWindow decimatedWindow{};
    LagMagnitudes lagMagnitudes{};
    int32_t peakIndex = 0;
    // The previous buffer's last two recorded samples, newest first: the
    // interpolation reads them at positions -1 and -2 (0 before any buffer).
    std::array<int16_t, 2> previousSamples{};

private:
    int32_t SampleAt(int32_t j) const;
    void KeepLastSamples(int32_t recordedCount);

    ReadoutSink* readout = nullptr;
};
