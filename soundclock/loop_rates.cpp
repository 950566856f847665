#include "soundclock/loop_rates.h"

#include "audio/system_clock.h"
#include "soundclock/rate_report.h"
#include "soundclock/text_format.h"

#include <cmath>

void StampLog::Take(AudioStream& stream)
{
    for (const AudioClockPoint& point : stream.TakeClockPoints())
        points.push_back({point.frames, point.systemSeconds, point.segment});
    latenessDrift = stream.LatenessDriftSeconds();
    timeTheCard = stream.ClockPointsTimeTheCard();
}

RateEstimate StampLog::Estimate(int nominalRate) const
{
    return FitRate(points.data(), points.size(), nominalRate, latenessDrift);
}

RatesCheck CheckRates(const RateEstimate& playback, const RateEstimate& capture, double signalPpm, double signalUncertainty)
{
    RatesCheck check;
    if (!playback.valid || !capture.valid)
        return check;
    check.valid = true;
    // The recording card's samples per playing card's sample, less one, as
    // the signal measures it: from the actual rates, so that a capture
    // opened at another nominal rate (--record-rate 8008 against 8000)
    // counts that ratio in, as the signal's offset does.
    check.offsetPpm = (capture.rate / playback.rate - 1) * 1e6;
    check.uncertaintyPpm = std::hypot(playback.uncertaintyPpm, capture.uncertaintyPpm);
    check.agree = std::fabs(check.offsetPpm - signalPpm) <= 3 * std::hypot(check.uncertaintyPpm, signalUncertainty);
    return check;
}

namespace {

void SideJson(JsonObject& json, const std::string& name, const RateEstimate& estimate)
{
    if (!estimate.valid) {
        json.Null(name);
        return;
    }
    json.Object(name, JsonObject()
                          .Number("ppm", estimate.ppm, 6)
                          .Number("uncertainty_ppm", estimate.uncertaintyPpm, 6)
                          .Number("rate_hz", estimate.rate, 8)
                          .Number("seconds", estimate.seconds, 3));
}

std::string SideText(const char* side, const RateEstimate& estimate, bool timed)
{
    if (!timed)
        return std::string(side) + " not timed (its buffers come back when the driver takes them, not when they play)";
    return std::string(side) + " " + (estimate.valid ? RateFigureText(estimate) : "no rate (too few clock stamps)");
}

}  // namespace

void AddLoopRates(MeasureSession& session, const StampLog& playback, int playbackRate, const StampLog& capture,
                  int captureRate)
{
    // A playback whose stamps do not time the card (under Wine) has no rate.
    const RateEstimate played = playback.TimeTheCard() ? playback.Estimate(playbackRate) : RateEstimate{};
    const RateEstimate recorded = capture.Estimate(captureRate);
    const ClockEstimate offset = session.Meter().Estimate();
    const double signalPpm = offset.agree ? offset.ppm : offset.delayPpm;
    const double signalUncertainty = offset.agree ? offset.uncertaintyPpm : offset.delayUncertaintyPpm;
    const RatesCheck check = offset.valid ? CheckRates(played, recorded, signalPpm, signalUncertainty) : RatesCheck{};
    const SystemClockState clock = ReadSystemClockState();

    RunFacts& facts = session.Facts();
    JsonObject& json = facts.extraJson;
    SideJson(json, "playback_rate", played);
    SideJson(json, "capture_rate", recorded);
    if (check.valid)
        json.Number("rates_offset_ppm", check.offsetPpm, 6)
            .Number("rates_offset_uncertainty_ppm", check.uncertaintyPpm, 6)
            .Bool("rates_agree", check.agree);
    json.Object("system_clock", SystemClockJson(clock));

    std::string line = "against the system clock: " + SideText("playback", played, playback.TimeTheCard()) + ", " + SideText("capture", recorded, capture.TimeTheCard());
    if (check.valid)
        line += "; the offset they imply, " + FigureText(check.offsetPpm, check.uncertaintyPpm, "ppm") +
                (check.agree ? ", agrees with the signal's (the finer figure)"
                             : ", does NOT agree with the signal's (the finer figure) within three uncertainties");
    facts.extraLine = line + "\n" + SystemClockLine(clock);
    const std::string warning = SystemClockWarning(clock);
    if (!warning.empty())
        session.Say("warning: " + warning, true);
}
