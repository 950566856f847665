// Each card of the loop against the system clock, beside the two cards'
// offset from the signal: a cross-check, since the offset should be the
// ratio of the two rates. The signal's figure is far finer (thousandths of
// a ppm against the stamps' tenths or more); the rates say which card is
// off, which the offset alone cannot.
#pragma once

#include "audio/audio_device.h"
#include "soundclock/measure_session.h"
#include "meter/rate_fit.h"

#include <vector>

// The clock stamps of one stream, taken by the thread that drives it.
class StampLog {
public:
    void Take(AudioStream& stream);
    RateEstimate Estimate(int nominalRate) const;
    // Whether the stamps time the card (AudioStream::ClockPointsTimeTheCard).
    bool TimeTheCard() const { return timeTheCard; }

private:
    std::vector<RatePoint> points;
    double latenessDrift = 0;  // the stream's allowance for its stamps
    bool timeTheCard = true;
};

// The offset the two rates imply (the recording card's samples per playing
// card's sample, less one, with the nominal rates' ratio in it as the
// signal's offset has it), and whether it agrees with the signal's.
struct RatesCheck {
    bool valid = false;
    double offsetPpm = 0, uncertaintyPpm = 0;
    bool agree = false;  // within three combined uncertainties
};
RatesCheck CheckRates(const RateEstimate& playback, const RateEstimate& capture, double signalPpm, double signalUncertainty);

// Puts both rates, the check and the system clock's state into the
// session's result (a line after it; fields of its JSON).
void AddLoopRates(MeasureSession& session, const StampLog& playback, int playbackRate, const StampLog& capture,
                  int captureRate);
