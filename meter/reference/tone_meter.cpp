#include "meter/reference/tone_meter.h"

#include "meter/reference/tone_fit.h"
#include "meter/reference/tone_onset.h"
#include "meter/reference/tone_words.h"

#include <algorithm>
#include <cmath>

namespace {

// The tone counts as lost (Heard().present false) after this long without it.
constexpr double LOST_SECONDS = 2;
// The oscillator's frequency on a grid of 2^-16 Hz: the search's estimate
// passes through the C library's logarithm, whose last bit differs from
// build to build; on the grid every build demodulates with the same
// oscillator. (The phase follows the rest: a block loses nothing to an
// offset a million times smaller than its bin.)
constexpr int OSCILLATOR_GRID_BITS = 16;

}  // namespace

ToneMeter::ToneMeter(double toneHz, int sampleRate)
    : sampleRate(sampleRate), toneHz(toneHz), search(std::max(sampleRate, 1), toneHz)
{
    const double highest = sampleRate / 2.0 - MIN_NYQUIST_DISTANCE_HZ;
    if (sampleRate <= 0)
        refused = "no sample rate";
    else if (!(toneHz >= MIN_TONE_HZ) || !(toneHz <= highest))
        refused = "a tone of " + FixedPoint(toneHz, 1) + " Hz cannot be measured at " + std::to_string(sampleRate) +
                  " Hz: it must lie between " + FixedPoint(MIN_TONE_HZ, 0) + " and " + FixedPoint(highest, 0) + " Hz";
    searchBuffer.reserve(search.Length());
}

void ToneMeter::Push(const float* input, size_t count)
{
    for (size_t n = 0; n < count; ++n) {
        const float magnitude = std::fabs(input[n]);
        sumSquares += static_cast<double>(input[n]) * input[n];
        peak = std::max(peak, magnitude);
        clipped += magnitude >= CLIP_LEVEL ? 1 : 0;
    }
    samples += static_cast<int64_t>(count);
    if (!refused.empty())
        return;
    while (count > 0 && !demodulator) {
        const size_t take = std::min(count, search.Length() - searchBuffer.size());
        searchBuffer.insert(searchBuffer.end(), input, input + take);
        input += take;
        count -= take;
        if (searchBuffer.size() == search.Length())
            Search(false);
    }
    if (count > 0)
        Demodulate(input, count);
}

void ToneMeter::Search(bool atEnd)
{
    searched = search.Search(searchBuffer.data(), searchBuffer.size());
    hasSearched = true;
    if (searched.found)
        StartDemodulating();
    if (!atEnd) {
        searchStart += static_cast<int64_t>(searchBuffer.size());
        searchBuffer.clear();
        searchGaps.clear();
    }
}

void ToneMeter::StartDemodulating()
{
    const double gridded =
        std::ldexp(std::nearbyint(std::ldexp(searched.tone.hz, OSCILLATOR_GRID_BITS)), -OSCILLATOR_GRID_BITS);
    const double cyclesPerSample = gridded / sampleRate;
    const int hop = ToneHop(sampleRate);
    const ToneOnset onset = FindToneOnset(searchBuffer.data(), searchBuffer.size(), cyclesPerSample, hop);
    demodulator = std::make_unique<ToneDemodulator>(cyclesPerSample, hop,
                                                    searchStart + static_cast<int64_t>(onset.firstSample));
    // The search's level holds for a tone that filled its samples; one that
    // began within them it saw for part of its window only, and the
    // strongest block's level stands for it instead.
    const double amplitude = onset.firstSample > 0 ? onset.level : searched.tone.amplitude;
    ToneTrackerStart start;
    start.cyclesPerSample = cyclesPerSample;
    start.hop = demodulator->Hop();
    start.amplitude = amplitude;
    start.phaseDeviation = demodulator->PhaseDeviation(amplitude, searched.tone.noiseVariance);
    start.correlationFactor = demodulator->CorrelationFactor();
    tracker = std::make_unique<ToneTracker>(start);
    // The searched samples from the tone's onset are the first
    // demodulated, with the gaps reported among them.
    size_t from = onset.firstSample;
    for (size_t gap : searchGaps) {
        if (gap <= from)
            continue;
        Demodulate(searchBuffer.data() + from, gap - from);
        demodulator->MarkDiscontinuity();
        from = gap;
    }
    Demodulate(searchBuffer.data() + from, searchBuffer.size() - from);
}

void ToneMeter::Demodulate(const float* input, size_t count)
{
    blocks.clear();
    demodulator->Push(input, count, blocks);
    for (const ToneBlock& block : blocks)
        tracker->Add(block);
    EmitSettled();
}

void ToneMeter::EmitSettled()
{
    const std::vector<ToneRecord>& records = tracker->Records();
    const double toSamples = sampleRate / toneHz;
    for (; emitted < tracker->Settled(); ++emitted) {
        const ToneRecord& r = records[emitted];
        ReferenceEvent event;
        event.index = r.index;
        event.referenceSeconds = (r.cycles - records.front().cycles) / toneHz;
        event.position = r.centre;
        event.scatter = r.deviation * toSamples;
        event.segment = r.segment;
        event.flags = r.flags;
        // A phase ahead of the prediction puts the tone's time earlier on
        // the card than the line expected.
        event.residual = -r.innovation * toSamples;
        event.levelDbfs = PowerDb(r.amplitude * r.amplitude);
        Emit(event);
    }
}

void ToneMeter::MarkDiscontinuity()
{
    ++gapsReported;
    if (demodulator)
        demodulator->MarkDiscontinuity();
    else if (!searchBuffer.empty())
        searchGaps.push_back(searchBuffer.size());
}

void ToneMeter::Finish()
{
    if (finished)
        return;
    finished = true;
    if (!refused.empty())
        return;
    // What is left when the input ends: searched as it is (bins the wider),
    // unless it is shorter than a block, which could not measure it anyway.
    const double searchable = BLOCK_SECONDS * sampleRate;
    if (!demodulator && static_cast<double>(searchBuffer.size()) >= searchable)
        Search(true);
    else if (!demodulator && !hasSearched)
        tooShort = true;
    if (tracker) {
        tracker->Finish();
        EmitSettled();
    }
}

bool ToneMeter::OffFrequency(const ReferenceEstimate& estimate) const
{
    return std::fabs(estimate.ppm) > MAX_OFFSET_PPM;
}

ReferenceEstimate ToneMeter::Estimate() const
{
    if (!tracker)
        return {};
    ToneFitSettings settings;
    settings.sampleRate = sampleRate;
    settings.toneHz = toneHz;
    settings.correlationFactor = demodulator->CorrelationFactor();
    settings.stepsFound = tracker->StepsFound();
    settings.gapsReported = gapsReported;
    ReferenceEstimate estimate = FitTone(tracker->Records(), tracker->Settled(), settings);
    if (estimate.valid && OffFrequency(estimate))
        estimate.valid = false;
    return estimate;
}

ReferenceHeard ToneMeter::Heard() const
{
    ReferenceHeard heard;
    heard.seconds = static_cast<double>(samples) / std::max(sampleRate, 1);
    if (samples > 0) {
        heard.rmsDbfs = PowerDb(sumSquares / static_cast<double>(samples));
        heard.peakDbfs = PowerDb(static_cast<double>(peak) * peak);
    }
    heard.clippedSamples = clipped;
    if (hasSearched)
        heard.strongestHz = searched.strongest.hz;
    if (!refused.empty()) {
        heard.problem = refused;
        return heard;
    }
    if (!tracker) {
        if (hasSearched)
            heard.problem = searched.problem;
        else if (tooShort)
            heard.problem = "no tone at " + FixedPoint(toneHz, 1) + " Hz: " + FixedPoint(heard.seconds, 2) +
                            " s of samples, too short to look in (" + FixedPoint(BLOCK_SECONDS, 2) + " s at least)";
        return heard;
    }
    const ReferenceEstimate estimate = Estimate();
    if (estimate.seconds > 0 && OffFrequency(estimate)) {
        heard.problem = "no tone at " + FixedPoint(toneHz, 1) + " Hz: " +
                        OffFrequencyProblem(toneHz, toneHz * sampleRate / estimate.rateHz);
        return heard;
    }
    const double lostSeconds = static_cast<double>(tracker->WeakRun() * demodulator->Hop()) / sampleRate;
    const std::string tone = "the tone at " + FixedPoint(tracker->CyclesPerSample() * sampleRate, 1) + " Hz";
    heard.present = lostSeconds < LOST_SECONDS;
    if (!heard.present)
        heard.problem = tone + " fell away " + FixedPoint(lostSeconds, 1) + " s ago (12 dB or more below its level)";
    else if (!estimate.valid)
        heard.problem = tone + " was heard in " + std::to_string(tracker->Records().size()) +
                        " blocks so far: a figure needs " + FixedPoint(MIN_FIT_SECONDS, 0) + " s of it";
    return heard;
}
