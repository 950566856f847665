#include "meter/reference/reference_meter.h"

#include "meter/reference/pps_meter.h"
#include "meter/reference/tick_meter.h"
#include "meter/reference/tone_meter.h"

#include <cmath>

std::unique_ptr<ReferenceMeter> MakeReferenceMeter(const ReferenceKind& kind, int sampleRate)
{
    switch (kind.type) {
    case ReferenceType::Pps: return std::make_unique<PpsMeter>(sampleRate, kind.polarity);
    case ReferenceType::Tone: return std::make_unique<ToneMeter>(kind.toneHz, sampleRate);
    case ReferenceType::Ticks: {
        TickMeterSettings settings;
        settings.station = kind.station;
        settings.sampleRate = sampleRate;
        return std::make_unique<TickMeter>(settings);
    }
    case ReferenceType::System: break;
    }
    return nullptr;  // the system clock is the stream's stamps, not a meter of samples
}

double AmplitudeDbfs(double amplitude)
{
    return amplitude > 0 ? 20 * std::log10(amplitude) : -1e9;
}
