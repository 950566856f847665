#include "meter/reference/reference_meter.h"

#include "meter/reference/pps_meter.h"
#include "meter/reference/tone_meter.h"

namespace {

// A reference this build has no meter for: hears nothing, and says so.
class Deaf : public ReferenceMeter {
public:
    void Push(const float*, size_t) override {}
    void MarkDiscontinuity() override {}
    void Finish() override {}
    ReferenceEstimate Estimate() const override { return {}; }
    ReferenceHeard Heard() const override
    {
        ReferenceHeard heard;
        heard.problem = "this build has no meter for this reference";
        return heard;
    }
};

}  // namespace

std::unique_ptr<ReferenceMeter> MakeReferenceMeter(const ReferenceKind& kind, int sampleRate)
{
    switch (kind.type) {
    case ReferenceType::Pps: return std::make_unique<PpsMeter>(sampleRate, kind.polarity);
    case ReferenceType::Tone: return std::make_unique<ToneMeter>(kind.toneHz, sampleRate);
    case ReferenceType::Ticks:
    case ReferenceType::System: break;
    }
    return std::make_unique<Deaf>();
}
