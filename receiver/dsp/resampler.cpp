// From captured 16-bit samples to resampled floats, and into blocks.
#include "receiver/dsp/correlator.h"

#include "common/rounding.h"
#include "receiver/dsp/receiver_arithmetic.h"

#include <algorithm>
#include <cstring>

namespace {

// Full scale: 32767, not 32768, becomes 1.0.
constexpr long double FULL_SCALE = 32767.0L;

}  // namespace

// Contract: reads min(bufferLength, 2048) bytes of data into stagingSamples
// (element 1024 is never written and stays 0); bytesRecorded is capped at
// that. The input position j runs from 0 to round(bytesRecorded / 2 - 1)
// (halves to even; nothing for 0 bytes), one output per step; a crossing
// of the resampling phase skips a position (one output fewer) or repeats
// one (one more). Each step reads positions j - 1 and j, so it may read
// element 1024 (a skip at the last position) or the previous buffer's last
// samples (j = 0, and j = -1 after a step back there).
void Correlator::ResampleBuffer(const CaptureView& buffer)
{
    // The samples are little-endian, as is every machine we build for.
    const uint32_t copied = std::min<uint32_t>(buffer.bufferLength, CAPTURE_BUFFER_BYTES);
    if (buffer.data != nullptr)
        std::memcpy(stagingSamples.data(), buffer.data, copied);
    // A recorded count beyond the buffer would read past stagingSamples.
    const uint32_t recordedBytes = std::min(buffer.bytesRecorded, copied);

    const int32_t lastIndex = RoundHalfEvenToInt32(recordedBytes / 2.0L - 1.0L);
    int32_t j = 0;
    while (j <= lastIndex) {
        // Strict tests: a phase of exactly 1 or exactly 0 is left alone.
        if (resamplePhase > 1) {
            resamplePhase = StoreFloat(resamplePhase - 1.0L);
            j += 1;  // one input sample skipped
        }
        if (resamplePhase < 0) {
            resamplePhase = StoreFloat(resamplePhase + 1.0L);
            j -= 1;  // one input sample used again
        }
        // Linear interpolation at position j - 1 + resamplePhase.
        const long double phase = resamplePhase;
        const long double later = SampleAt(j);
        const long double earlier = SampleAt(j - 1);
        PushSample(StoreFloat(later * phase / FULL_SCALE + earlier * (1.0L - phase) / FULL_SCALE));
        resamplePhase = StoreFloat(phase + clockCorrection);
        j += 1;
    }
    KeepLastSamples(lastIndex + 1);
}

// The input sample at position j of the current buffer; positions -1 and -2
// are the previous buffer's last two samples, so the first outputs of a
// buffer interpolate across the buffer boundary.
int32_t Correlator::SampleAt(int32_t j) const
{
    if (j >= 0 && j < static_cast<int32_t>(stagingSamples.size()))
        return stagingSamples[j];
    if (j == -1 || j == -2)
        return previousSamples[-1 - j];
    return 0;  // never reached: at most one skip or step back per step
}

void Correlator::KeepLastSamples(int32_t recordedCount)
{
    for (int32_t i = std::max(recordedCount - 2, 0); i < recordedCount; ++i) {
        previousSamples[1] = previousSamples[0];
        previousSamples[0] = stagingSamples[i];
    }
}

void Correlator::PushSample(float x)
{
    // Incremented before use: the first sample after start lands at 1.
    blockWriteIndex = (blockWriteIndex + 1) % BLOCK_LENGTH;
    inputBlock[blockWriteIndex] = x;
    if (blockWriteIndex == BLOCK_LENGTH - 1)
        ProcessBlock();
}
