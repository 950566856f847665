#include "meter/reference/tone_demodulator.h"

#include "common/signal_facts.h"
#include "meter/reference/blackman_harris.h"
#include "meter/reference/phasor.h"

#include <algorithm>
#include <cmath>


int ToneHop(int sampleRate)
{
    return std::max(1, static_cast<int>(std::lrint(sampleRate * BLOCK_SECONDS / BLOCK_OVERLAP)));
}

ToneDemodulator::ToneDemodulator(double cyclesPerSample, int hop, int64_t firstSample)
    : cyclesPerSample(cyclesPerSample), hop(hop), nextSample(firstSample), nextStart(firstSample)
{
    const int length = Length();
    const std::vector<double> window = BlackmanHarris(static_cast<size_t>(length));
    tableRe.resize(window.size());
    tableIm.resize(window.size());
    const long double step = -static_cast<long double>(cyclesPerSample);
    const std::vector<std::complex<double>> turns = PhasorSeries(-step * (length / 2), step, window.size());
    for (int n = 0; n < length; ++n) {
        const std::complex<double> turn = turns[n];
        tableRe[n] = window[n] * turn.real();
        tableIm[n] = window[n] * turn.imag();
        windowSum += window[n];
        windowSquares += window[n] * window[n];
    }
    double lagged = 0;
    for (int lag = -(BLOCK_OVERLAP - 1); lag < BLOCK_OVERLAP; ++lag)
        for (int n = std::max(0, -lag * hop); n < length && n + lag * hop < length; ++n)
            lagged += window[n] * window[n + lag * hop];
    correlationFactor = lagged / windowSquares;
    open.reserve(BLOCK_OVERLAP + 1);
}

double ToneDemodulator::PhaseDeviation(double amplitude, double noiseVariance) const
{
    // The sum's noise, split evenly between its two parts, against the
    // tone's (amplitude/2) sum w: one part of it turns the phase.
    const double signal = amplitude / 2 * windowSum;
    if (!(signal > 0))
        return 0.5;
    return std::sqrt(noiseVariance * windowSquares / 2) / signal / (2 * static_cast<double>(PI));
}

void ToneDemodulator::Accumulate(OpenBlock& block, const float* samples, int64_t from, int64_t to,
                                 int64_t firstOfPush) const
{
    int64_t offset = from - block.start;  // into the table
    const float* x = samples + (from - firstOfPush);
    const int64_t end = to - block.start;
    float peak = block.peak;
    // First and last samples one at a time, so that the pairs start on
    // an even offset.
    if (offset < end && offset % 2 == 1) {
        block.re[1] += tableRe[offset] * *x;
        block.im[1] += tableIm[offset] * *x;
        peak = std::max(peak, std::fabs(*x));
        ++offset;
        ++x;
    }
    double re0 = block.re[0], im0 = block.im[0], re1 = block.re[1], im1 = block.im[1];
    for (; offset + 1 < end; offset += 2, x += 2) {
        const double a = x[0], b = x[1];
        re0 += tableRe[offset] * a;
        im0 += tableIm[offset] * a;
        re1 += tableRe[offset + 1] * b;
        im1 += tableIm[offset + 1] * b;
        peak = std::max(peak, std::max(std::fabs(x[0]), std::fabs(x[1])));
    }
    if (offset < end) {
        re0 += tableRe[offset] * *x;
        im0 += tableIm[offset] * *x;
        peak = std::max(peak, std::fabs(*x));
    }
    block.re[0] = re0;
    block.im[0] = im0;
    block.re[1] = re1;
    block.im[1] = im1;
    block.peak = peak;
}

ToneBlock ToneDemodulator::Finished(const OpenBlock& block) const
{
    ToneBlock out;
    out.index = block.index;
    out.centre = static_cast<double>(block.start + Length() / 2);
    const double re = block.re[0] + block.re[1], im = block.im[0] + block.im[1];
    out.phaseCycles = TurnsOf(re, im);
    // (Not std::hypot: the C libraries differ in its last bit, and the
    // amplitude weights the line.)
    out.amplitude = 2 * std::sqrt(re * re + im * im) / windowSum;
    out.peak = block.peak;
    out.straddlesGap = block.straddlesGap;
    return out;
}

void ToneDemodulator::Push(const float* samples, size_t count, std::vector<ToneBlock>& blocks)
{
    const int64_t first = nextSample;
    const int64_t end = first + static_cast<int64_t>(count);
    const int64_t length = Length();
    // The blocks already open end in order of their starts: the first ones
    // to finish come out first.
    size_t finished = 0;
    for (OpenBlock& block : open) {
        const int64_t stop = std::min(end, block.start + length);
        Accumulate(block, samples, first, stop, first);
        if (stop == block.start + length) {
            blocks.push_back(Finished(block));
            ++finished;
        }
    }
    open.erase(open.begin(), open.begin() + static_cast<std::ptrdiff_t>(finished));
    for (; nextStart < end; nextStart += hop) {
        OpenBlock block;
        block.index = nextIndex++;
        block.start = nextStart;
        const int64_t stop = std::min(end, nextStart + length);
        Accumulate(block, samples, nextStart, stop, first);
        if (stop == nextStart + length)
            blocks.push_back(Finished(block));
        else
            open.push_back(block);
    }
    nextSample = end;
}

void ToneDemodulator::MarkDiscontinuity()
{
    for (OpenBlock& block : open)
        block.straddlesGap = true;
}
