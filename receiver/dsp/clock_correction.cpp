// The clock trackbar: its position becomes the resampling correction.
#include "receiver/dsp/correlator.h"

#include "common/ui_facts.h"

void Correlator::SetClockPosition(uint16_t position)
{
    clockCorrection = (static_cast<long double>(CLOCK_TRACKBAR_CENTRE) - position) /
                      static_cast<long double>(CLOCK_STEPS_PER_UNIT);
    if (readout != nullptr)
        readout->SetClockText(FormatClockText(clockCorrection).c_str());
}
