#include "meter/carrier_range.h"

#include "common/signal_facts.h"

#include <cstdio>

CarrierCheck CheckCarrier(int32_t signalRate, double carrierFrequency)
{
    // 0 takes the default, as in the programs.
    const double rate = signalRate != 0 ? signalRate : DEFAULT_SAMPLE_RATE;
    const double carrier = carrierFrequency != 0 ? carrierFrequency : DEFAULT_CARRIER_FREQUENCY;
    const double share = carrier / rate;
    CarrierCheck check;
    char text[400];
    if (!(share >= CARRIER_REFUSED_BELOW && share <= CARRIER_REFUSED_ABOVE)) {
        std::snprintf(text, sizeof text,
                      "the carrier %.6g Hz is %.4g of the signal's rate %.6g Hz: the meter measures carriers from %.3g to %.3g of "
                      "the rate (%.6g to %.6g Hz here); %s",
                      carrier, share, rate, CARRIER_REFUSED_BELOW, CARRIER_REFUSED_ABOVE, CARRIER_REFUSED_BELOW * rate,
                      CARRIER_REFUSED_ABOVE * rate,
                      share < CARRIER_REFUSED_BELOW ? "nearer 0 Hz the burst overlaps its own image and its phase is lost"
                                                    : "nearer the Nyquist frequency the burst no longer fits in the band");
        check.support = CarrierSupport::Refused;
        check.reason = text;
    } else if (share < CARRIER_SUPPORTED_LOW || share > CARRIER_SUPPORTED_HIGH) {
        std::snprintf(text, sizeof text,
                      "the carrier %.6g Hz is %.4g of the signal's rate: outside %.3g to %.3g of it (%.6g to %.6g Hz), %s; the "
                      "figure is less precise, and may be off by more than its uncertainty",
                      carrier, share, CARRIER_SUPPORTED_LOW, CARRIER_SUPPORTED_HIGH, CARRIER_SUPPORTED_LOW * rate,
                      CARRIER_SUPPORTED_HIGH * rate,
                      share < CARRIER_SUPPORTED_LOW ? "the burst reaches 0 Hz, where a card's DC offset, hum and high-pass filter disturb it"
                                                    : "the burst reaches the Nyquist frequency, which converters treat each their own way");
        check.support = CarrierSupport::Warned;
        check.reason = text;
    }
    return check;
}
