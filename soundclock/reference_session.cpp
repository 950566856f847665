#include "soundclock/reference_session.h"
#include "soundclock/failure.h"
#include "soundclock/text_format.h"

#include <cmath>

namespace {

// How long to listen before saying whether the reference is there: a few
// pulses, a few blocks of a tone, enough seconds to find a station's ticks
// among its other sounds.
double FirstLookSeconds(const ReferenceKind& kind)
{
    switch (kind.type) {
    case ReferenceType::Pps: return 5;
    case ReferenceType::Tone: return 3;
    case ReferenceType::Ticks: return 15;
    case ReferenceType::System: break;
    }
    return 5;
}

std::string FlagText(unsigned flags)
{
    static const struct { unsigned bit; const char* name; } names[] = {
        {EVENT_USED, "used"},       {EVENT_MISSED, "missed"},   {EVENT_EXTRA, "extra"},   {EVENT_CLIPPED, "clipped"},
        {EVENT_OUTLIER, "outlier"}, {EVENT_JUMP, "jump"},       {EVENT_MARKER, "marker"},
    };
    std::string text;
    for (const auto& name : names)
        if (flags & name.bit)
            text += (text.empty() ? "" : "|") + std::string(name.name);
    return text;
}

}  // namespace

ReferenceSession::ReferenceSession(const RateOptions& rateOptions, int rate)
    : options(rateOptions), sampleRate(rate), meter(MakeReferenceMeter(rateOptions.reference, rate)),
      track(rateOptions.result.track.intervalSeconds, rate, meter->EventSeconds()),
      trackOutput(rateOptions.result.track, rateOptions.result.json, "events", false), live(!rateOptions.result.quiet)
{
    facts.kind = options.reference;
    facts.nominalRate = rate;
    facts.channel = std::max(0, options.source.channel);
    trackOutput.BeforeLine([this] { live.Break(); });
    track.OnWindow([this](const WindowEstimate& window) { trackOutput.Window(window); });
    meter->OnEvent([this](const ReferenceEvent& event) {
        track.Add(event);
        Row(event);
    });
}

ReferenceSession::~ReferenceSession()
{
    if (csv != nullptr)
        std::fclose(csv);
}

bool ReferenceSession::Start(std::string& problem)
{
    problem = trackOutput.Open();
    if (!problem.empty())
        return false;
    if (options.result.csv.empty())
        return true;
    csv = std::fopen(options.result.csv.c_str(), "w");
    if (csv == nullptr) {
        problem = "cannot write " + options.result.csv;
        return false;
    }
    std::fprintf(csv, "event,reference_s,position_samples,residual_samples,level_dbfs,segment,flags\n");
    return true;
}

void ReferenceSession::Row(const ReferenceEvent& e)
{
    if (csv == nullptr)
        return;
    std::fprintf(csv, "%lld,%.9f,%.6f,%.6f,%.2f,%u,%s\n", static_cast<long long>(e.index), e.referenceSeconds, e.position,
                 e.residual, e.levelDbfs < -1e8 ? -999.0 : e.levelDbfs, static_cast<unsigned>(e.segment), FlagText(e.flags).c_str());
}

void ReferenceSession::Push(const float* pushed, size_t count)
{
    meter->Push(pushed, count);
    samples += count;
    if (!looked && SecondsRead() >= FirstLookSeconds(options.reference)) {
        looked = true;
        FirstLook();
    }
    if (live.Due())
        live.Print(ReferenceLiveText(SecondsRead(), options.reference, meter->Estimate()));
}

void ReferenceSession::FirstLook()
{
    const ReferenceHeard heard = meter->Heard();
    Say(FirstLookText(FirstLookSeconds(options.reference), options.reference, heard), !heard.present);
}

void ReferenceSession::Discontinuity()
{
    meter->MarkDiscontinuity();
}

void ReferenceSession::Say(const std::string& text, bool always)
{
    if (options.result.quiet && !always)
        return;
    live.Break();
    std::fprintf(stderr, "soundclock: %s\n", text.c_str());
    std::fflush(stderr);
}

void ReferenceSession::Finish()
{
    meter->Finish();
    live.Break();
    track.Finish();
    trackProblem = trackOutput.Finish(Steadiness{}, track.Stability());
    if (csv != nullptr) {
        if (std::fclose(csv) != 0)
            trackProblem = "writing " + options.result.csv + " failed";
        csv = nullptr;
    }
}

int ReferenceSession::Report()
{
    if (!trackProblem.empty())
        return Fail(trackProblem);
    return PrintReferenceResult(meter->Estimate(), meter->Heard(), options.result, facts, trackOutput);
}

int ReferenceSession::Fail(const std::string& message)
{
    live.Break();
    return ::Fail(options.result, message);
}
