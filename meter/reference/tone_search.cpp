#include "meter/reference/tone_search.h"

#include "meter/reference/blackman_harris.h"
#include "meter/reference/tone_demodulator.h"
#include "meter/reference/tone_words.h"

#include <algorithm>
#include <cmath>
#include <complex>

namespace {

// Below it lie DC and rumble, and no tone the meter measures.
constexpr double MIN_SEARCH_HZ = 10;
// The noise's level: the median bin within this of the line (the median of
// an exponentially distributed power is ln 2 times its mean).
constexpr double NOISE_BAND_HZ = 100;
constexpr double LN2 = 0.69314718055994531;
// The demodulator's main lobe to either side: what its blocks let in.
constexpr double PURITY_BAND_HZ = BLACKMAN_HARRIS_LOBE_BINS / BLOCK_SECONDS;
// The line's frequency is good to a fraction of a bin; half of one more is
// allowed beyond MAX_OFFSET_PPM before it is called another tone.
constexpr double OFFSET_MARGIN_BINS = 0.5;



double MedianOf(const std::vector<double>& power, size_t from, size_t to)
{
    if (to <= from)
        return 0;
    std::vector<double> values(power.begin() + static_cast<std::ptrdiff_t>(from),
                               power.begin() + static_cast<std::ptrdiff_t>(to));
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// The strongest bin in [from, to], then uphill to the line's top: a bin at
// the range's edge on the flank of a line outside it leads there.
size_t PeakBin(const std::vector<double>& power, size_t from, size_t to)
{
    size_t peak = from;
    for (size_t k = from; k <= to; ++k)
        if (power[k] > power[peak])
            peak = k;
    while (peak + 1 < power.size() && power[peak + 1] > power[peak])
        ++peak;
    while (peak > 1 && power[peak - 1] > power[peak])
        --peak;
    return peak;
}

}  // namespace

ToneSearch::ToneSearch(int sampleRate, double toneHz) : sampleRate(sampleRate), toneHz(toneHz), fft(2)
{
    while (static_cast<double>(length) < SEARCH_SECONDS * sampleRate)
        length <<= 1;
    fft = RealFft(length);
    window = BlackmanHarris(length);
    for (double w : BlackmanHarris(static_cast<size_t>(BLOCK_OVERLAP * ToneHop(sampleRate)))) {
        blockWindowSum += w;
        blockWindowSquares += w * w;
    }
}

size_t ToneSearch::Length() const
{
    return length;
}

ToneSearch::Spectrum ToneSearch::PowerSpectrum(const float* samples, size_t count) const
{
    Spectrum spectrum;
    spectrum.count = count;
    const std::vector<double> shortWindow = count < length ? BlackmanHarris(count) : std::vector<double>();
    const std::vector<double>& w = count < length ? shortWindow : window;
    std::vector<double> weighted(length);
    for (size_t n = 0; n < count; ++n) {
        weighted[n] = w[n] * samples[n];
        spectrum.windowSquares += w[n] * w[n];
    }
    std::vector<std::complex<double>> bins;
    fft.Forward(weighted, bins);
    spectrum.power.resize(bins.size());
    for (size_t k = 0; k < bins.size(); ++k)
        spectrum.power[k] = std::norm(bins[k]);
    return spectrum;
}

SpectralLine ToneSearch::Measure(const Spectrum& spectrum, size_t peak) const
{
    const std::vector<double>& power = spectrum.power;
    const double binHz = static_cast<double>(sampleRate) / static_cast<double>(length);
    const size_t last = power.size() - 1;
    // A bin of white noise holds sigma^2 sum w^2.
    const size_t noiseBins = static_cast<size_t>(NOISE_BAND_HZ / binHz);
    const double noisePerBin =
        MedianOf(power, peak > noiseBins ? peak - noiseBins : 1, std::min(last, peak + noiseBins + 1)) / LN2;
    // A window shorter than the transform widens the lobe in bins.
    const size_t lobe = static_cast<size_t>(std::ceil(BLACKMAN_HARRIS_LOBE_BINS * static_cast<double>(length) /
                                                      static_cast<double>(spectrum.count)));
    const size_t band = std::max(lobe, static_cast<size_t>(PURITY_BAND_HZ / binHz));
    double lobePower = 0, bandPower = 0;
    for (size_t k = peak > band ? peak - band : 0; k <= std::min(last, peak + band); ++k) {
        bandPower += power[k];
        if (k + lobe >= peak && k <= peak + lobe)
            lobePower += power[k];
    }
    SpectralLine line;
    line.purity = bandPower > 0 ? lobePower / bandPower : 0;
    // The positive-frequency half of a sine's energy: N A^2/4 sum w^2,
    // less what the noise put into the lobe.
    const double toneLobe = std::max(0.0, lobePower - static_cast<double>(2 * lobe + 1) * noisePerBin);
    const double amplitude2 = 4 * toneLobe / (static_cast<double>(length) * spectrum.windowSquares);
    line.amplitude = std::sqrt(amplitude2);
    line.levelDbfs = PowerDb(amplitude2);
    line.noiseVariance = noisePerBin / spectrum.windowSquares;
    const double blockSignal = amplitude2 / 4 * blockWindowSum * blockWindowSum;
    line.blockSnrDb = line.noiseVariance > 0 ? PowerDb(blockSignal / (line.noiseVariance * blockWindowSquares)) : 1e9;
    // Between bins: a parabola through the logarithms of the three around
    // the top (near exact for this window's Gaussian-like lobe).
    double offset = 0;
    if (peak > 0 && peak < last && power[peak - 1] > 0 && power[peak + 1] > 0 && power[peak] > 0) {
        const double below = std::log(power[peak - 1]), top = std::log(power[peak]), above = std::log(power[peak + 1]);
        const double curvature = below - 2 * top + above;
        if (curvature < 0)
            offset = std::clamp(0.5 * (below - above) / curvature, -0.5, 0.5);
    }
    line.hz = (static_cast<double>(peak) + offset) * binHz;
    return line;
}

ToneSearchResult ToneSearch::Search(const float* samples, size_t count) const
{
    ToneSearchResult result;
    count = std::min(count, length);
    double squares = 0;
    for (size_t n = 0; n < count; ++n)
        squares += static_cast<double>(samples[n]) * samples[n];
    result.rmsDbfs = count > 0 ? PowerDb(squares / static_cast<double>(count)) : -1e9;
    if (!(squares > 0)) {
        result.problem = "no tone at " + FixedPoint(toneHz, 1) + " Hz: " + (count > 0 ? "digital silence" : "no samples");
        return result;
    }
    const Spectrum spectrum = PowerSpectrum(samples, count);
    const double binHz = static_cast<double>(sampleRate) / static_cast<double>(length);
    const size_t last = spectrum.power.size() - 1;
    const size_t lobe = static_cast<size_t>(BLACKMAN_HARRIS_LOBE_BINS);

    const double allowedHz = toneHz * MAX_OFFSET_PPM * 1e-6 + OFFSET_MARGIN_BINS * binHz;
    const size_t from = static_cast<size_t>(std::max(1.0, std::floor((toneHz - allowedHz) / binHz)));
    const size_t to = std::min(last, static_cast<size_t>(std::ceil((toneHz + allowedHz) / binHz)));
    const size_t tonePeak = PeakBin(spectrum.power, std::min(from, to), to);
    result.tone = Measure(spectrum, tonePeak);

    const size_t lowest = std::max(lobe + 1, static_cast<size_t>(std::ceil(MIN_SEARCH_HZ / binHz)));
    if (lowest + lobe < last)
        result.strongest = Measure(spectrum, PeakBin(spectrum.power, lowest, last - lobe));

    result.found = std::fabs(result.tone.hz - toneHz) <= allowedHz && result.tone.blockSnrDb >= MIN_BLOCK_SNR_DB &&
                   result.tone.purity >= MIN_PURITY;
    if (!result.found)
        result.problem = Problem(result, allowedHz);
    return result;
}

std::string OffFrequencyProblem(double toneHz, double heardHz)
{
    const double ppm = (toneHz / heardHz - 1) * 1e6;
    return "the tone heard is at " + FixedPoint(heardHz, 2) + " Hz, which would put the card " + FixedPoint(ppm, 0) +
           " ppm off: more than a card and a generator are off by together (" + FixedPoint(MAX_OFFSET_PPM, 0) +
           " ppm); is " + FixedPoint(toneHz, 2) + " Hz the tone's frequency?";
}

std::string ToneSearch::Problem(const ToneSearchResult& result, double allowedHz) const
{
    const std::string start = "no tone at " + FixedPoint(toneHz, 1) + " Hz: ";
    const SpectralLine& tone = result.tone;
    const bool strong = tone.blockSnrDb >= MIN_BLOCK_SNR_DB, pure = tone.purity >= MIN_PURITY;
    const bool near = std::fabs(tone.hz - toneHz) <= allowedHz;
    // Beyond the allowance but close: the frequency given may be wrong.
    if (strong && pure && !near && std::fabs(tone.hz - toneHz) <= 20 * allowedHz)
        return start + OffFrequencyProblem(toneHz, tone.hz);
    if (near && strong)
        return "no steady tone at " + FixedPoint(toneHz, 1) + " Hz: what is there (" + FixedPoint(tone.levelDbfs, 1) +
               " dBFS) is no single line: it holds " + FixedPoint(100 * tone.purity, 0) + " % of the power within " +
               FixedPoint(PURITY_BAND_HZ, 0) + " Hz (a tone nearly all, " + FixedPoint(100 * MIN_PURITY, 0) +
               " % needed): a modulated signal";
    if (near && pure)
        return start + "the line there (" + FixedPoint(tone.hz, 1) + " Hz, " + FixedPoint(tone.levelDbfs, 1) +
               " dBFS) stands " + FixedPoint(tone.blockSnrDb, 1) + " dB over the noise in a block (" +
               FixedPoint(MIN_BLOCK_SNR_DB, 0) + " dB needed): too weak";
    const SpectralLine& strongest = result.strongest;
    if (strongest.blockSnrDb >= MIN_BLOCK_SNR_DB && strongest.purity >= MIN_PURITY)
        return start + "the strongest tone heard is at " + FixedPoint(strongest.hz, 1) + " Hz, " +
               FixedPoint(strongest.levelDbfs, 1) + " dBFS";
    // (A line no stronger than the noise about it has no level of its own.)
    const std::string level = strongest.amplitude > 0 ? ", " + FixedPoint(strongest.levelDbfs, 1) + " dBFS" : "";
    return start + "no single line stands out (" + FixedPoint(result.rmsDbfs, 1) + " dBFS RMS; the strongest frequency " +
           FixedPoint(strongest.hz, 1) + " Hz" + level + "): noise, or a signal spread over many frequencies (a modulated one)";
}
