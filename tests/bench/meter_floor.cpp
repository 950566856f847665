// The meter's own floor: the Allan deviation it reports for recordings
// whose clock offset is exactly constant (tests/meter/stretched_signal),
// clean and with 20 dB of in-band noise, at 8000/1500 and 48000/9000. What
// it shows is the meter's error alone: the smallest wander it can see.
// Prints a Markdown table per offset.
//
//   meter_floor [SECONDS [PPM...]]   (default 600 s; +37 and +0.5 ppm)
#include "tests/meter/meter_test_support.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Stream {
    int32_t rate;
    double carrier;
    double snrDb;
    const char* name;
};

const Stream STREAMS[] = {
    {8000, 1500, 1e9, "8000/1500 clean"},
    {8000, 1500, 20, "8000/1500 20 dB"},
    {48000, 9000, 1e9, "48000/9000 clean"},
    {48000, 9000, 20, "48000/9000 20 dB"},
};

void Table(double ppm, double seconds)
{
    std::vector<std::vector<StabilityPoint>> columns;
    for (const Stream& stream : STREAMS) {
        RecordingRecipe recipe;
        recipe.rate = stream.rate;
        recipe.carrier = stream.carrier;
        recipe.ppm = ppm;
        recipe.snrDb = stream.snrDb;
        recipe.seconds = seconds;
        recipe.seed = 77;
        columns.push_back(
            RunMeter(MakeRecording(recipe), stream.rate, stream.rate, stream.carrier, SIZE_MAX, 0).stability);
    }
    std::printf("Constant offset %+.1f ppm, %.0f s: overlapping ADEV (terms)\n\n| tau (s) |", ppm, seconds);
    for (const Stream& stream : STREAMS)
        std::printf(" %s |", stream.name);
    std::printf("\n|---|---|---|---|---|\n");
    for (size_t row = 0; row < columns[0].size(); ++row) {
        std::printf("| %.0f |", columns[0][row].tauSeconds);
        for (const auto& column : columns) {
            if (row < column.size())
                std::printf(" %.2e (%lld) |", column[row].adev.deviation, static_cast<long long>(column[row].adev.terms));
            else
                std::printf(" |");
        }
        std::printf("\n");
    }
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 600;
    std::vector<double> offsets;
    for (int i = 2; i < argc; ++i)
        offsets.push_back(std::atof(argv[i]));
    if (offsets.empty())
        offsets = {37, 0.5};
    for (double ppm : offsets)
        Table(ppm, seconds);
    return 0;
}
