// libFuzzer target for the settings reader: any bytes at all must give
// settings a program can use. Crashes, sanitizer reports (an out-of-range
// float-to-integer conversion among them) and a broken invariant below all
// stop the run.
#include "common/settings.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void Require(bool holds, const char* what)
{
    if (holds)
        return;
    std::fprintf(stderr, "settings invariant broken: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* text = reinterpret_cast<const char*>(data);
    const ReceiverSettings receiver = ParseSettings<float>(text, size);
    const TransmitterSettings transmitter = ParseSettings<double>(text, size);

    // The rate is an int32_t by type; reaching here without a sanitizer
    // report means it got there by a defined conversion.
    Require(receiver.sampleRate == transmitter.sampleRate, "both programs read the same rate");
    Require(receiver.sampleRate != 0, "a rate of 0 takes the default");
    Require(std::isfinite(receiver.carrierFrequency), "receiver carrier is finite");
    Require(std::isfinite(transmitter.carrierFrequency), "transmitter carrier is finite");
    Require(receiver.carrierFrequency != 0.0f, "a receiver carrier of 0 takes the default");
    Require(transmitter.carrierFrequency != 0.0, "a transmitter carrier of 0 takes the default");
    return 0;
}
