#include "meter/reference/strongest_frequency.h"

#include "common/signal_facts.h"

#include <algorithm>
#include <cmath>
#include <complex>

namespace {

// Blocks this long (a power of two at or above it): bins of 4 Hz or finer,
// enough to tell 50 from 60 Hz.
constexpr double BLOCK_SECONDS = 0.25;
// The first blocks are all analysed, then one in this many.
constexpr long FIRST_BLOCKS = 4;
constexpr long SPECTRUM_BLOCK_STRIDE = 32;
// Bins at and below this are DC and the window's skirt round it.
constexpr size_t LOWEST_BIN = 2;

size_t BlockLength(int sampleRate)
{
    size_t length = 2;
    while (static_cast<double>(length) < BLOCK_SECONDS * sampleRate)
        length <<= 1;
    return length;
}

}  // namespace

SpectrumPeak::SpectrumPeak(int sampleRate)
    : sampleRate(sampleRate), fft(BlockLength(sampleRate)), block(fft.Size()), window(fft.Size()),
      power(fft.Size() / 2 + 1, 0)
{
    for (size_t i = 0; i < window.size(); ++i)
        window[i] = 0.5 - 0.5 * std::cos(2 * static_cast<double>(PI) * (static_cast<double>(i) + 0.5) /
                                         static_cast<double>(window.size()));
}

void SpectrumPeak::Push(const float* samples, size_t count)
{
    while (count > 0) {
        const size_t run = std::min(count, block.size() - filled);
        std::copy(samples, samples + run, block.begin() + static_cast<std::ptrdiff_t>(filled));
        samples += run;
        count -= run;
        filled += run;
        if (filled < block.size())
            break;
        filled = 0;
        if (blocks < FIRST_BLOCKS || blocks % SPECTRUM_BLOCK_STRIDE == 0)
            Analyse();
        ++blocks;
    }
}

void SpectrumPeak::Analyse()
{
    std::vector<std::complex<double>> data(block.size());
    for (size_t i = 0; i < block.size(); ++i)
        data[i] = window[i] * static_cast<double>(block[i]);
    fft.Forward(data.data());
    for (size_t k = 0; k < power.size(); ++k)
        power[k] += std::norm(data[k]);
    ++analysed;
}

double SpectrumPeak::StrongestHz() const
{
    size_t best = 0;
    for (size_t k = LOWEST_BIN + 1; k + 1 < power.size(); ++k)
        if (power[k] > 0 && (best == 0 || power[k] > power[best]))
            best = k;
    if (best == 0)
        return 0;
    const double left = power[best - 1], middle = power[best], right = power[best + 1];
    const double denominator = left - 2 * middle + right;
    const double offset = denominator != 0 ? 0.5 * (left - right) / denominator : 0;
    return (static_cast<double>(best) + offset) * sampleRate / static_cast<double>(block.size());
}
