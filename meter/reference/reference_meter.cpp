#include "meter/reference/reference_meter.h"

namespace {

// Until the meters land: hears nothing.
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

std::unique_ptr<ReferenceMeter> MakeReferenceMeter(const ReferenceKind&, int)
{
    return std::make_unique<Deaf>();
}
