// streamcheck.exe: checks a recording of pharolet's output against the
// stream the synthesis library produces for the same settings.
//
//   streamcheck RECORDING RATE CARRIER MIN_SECONDS MAX_GAPS
//
// RECORDING is raw mono signed 16-bit little-endian PCM, recorded from
// before "Turn On" to after "Turn Off" of the program's first transmission.
// From its first non-zero sample on it must be the synthesised stream,
// sample for sample and in order, for at least MIN_SECONDS, then silence to
// the end. Two deviations come from the audio server, not from the
// program, and are reported and tolerated:
// - the server's stream from Wine can run dry (an underrun); the server
//   then plays silence, inserted between two samples: at most MAX_GAPS
//   such gaps;
// - when that happens while the stream starts, the server may drop what it
//   had not yet played: the recording may then start up to one second
//   into the synthesised stream.
// A changed, lost or extra sample anywhere after the start fails.
#include "transmitter/dsp/stream.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

std::vector<int16_t> ReadRecording(const char* path)
{
    std::vector<int16_t> samples;
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr)
        return samples;
    unsigned char pair[2];
    while (std::fread(pair, 1, 2, file) == 2)
        samples.push_back(static_cast<int16_t>(pair[0] | (pair[1] << 8)));
    std::fclose(file);
    return samples;
}

size_t FirstNonZero(const std::vector<int16_t>& samples, size_t from = 0)
{
    while (from < samples.size() && samples[from] == 0)
        ++from;
    return from;
}

constexpr size_t NOT_FOUND = static_cast<size_t>(-1);
constexpr size_t ALIGNMENT_SAMPLES = 256;

// The first position within `maxLead` samples of the synthesised stream
// from which it equals the recording's first ALIGNMENT_SAMPLES samples of
// signal; NOT_FOUND when there is none.
size_t AlignedStart(const std::vector<int16_t>& recorded, size_t signalStart, const std::vector<int16_t>& expected,
                    size_t maxLead)
{
    const size_t length = std::min(ALIGNMENT_SAMPLES, recorded.size() - signalStart);
    for (size_t start = 0; start < maxLead && start + length <= expected.size(); ++start) {
        if (std::equal(recorded.begin() + static_cast<std::ptrdiff_t>(signalStart),
                       recorded.begin() + static_cast<std::ptrdiff_t>(signalStart + length),
                       expected.begin() + static_cast<std::ptrdiff_t>(start)))
            return start;
    }
    return NOT_FOUND;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 6) {
        std::fprintf(stderr, "usage: streamcheck RECORDING RATE CARRIER MIN_SECONDS MAX_GAPS\n");
        return 2;
    }
    const std::vector<int16_t> recorded = ReadRecording(argv[1]);
    const int32_t rate = std::atoi(argv[2]);
    const double carrier = std::atof(argv[3]);
    const double minSeconds = std::atof(argv[4]);
    const size_t maxGaps = static_cast<size_t>(std::atoi(argv[5]));

    const size_t signalStart = FirstNonZero(recorded);
    if (signalStart == recorded.size()) {
        std::printf("FAIL: %zu samples recorded, all silent\n", recorded.size());
        return 1;
    }
    const size_t symbols = (recorded.size() - signalStart + rate) / SAMPLES_PER_SYMBOL + 2 * FRAME_LENGTH;
    const std::vector<int16_t> expected = SynthesizeStream(rate, carrier, symbols);
    const size_t expectedStart = AlignedStart(recorded, signalStart, expected, static_cast<size_t>(rate));
    if (expectedStart == NOT_FOUND) {
        std::printf("FAIL: the recorded signal is not the synthesised stream (within its first second)\n");
        return 1;
    }
    std::printf("the recording starts at sample %zu of the synthesis (%zu at most are silent)\n", expectedStart,
                FirstNonZero(expected));

    // Walk both streams; a silent recorded sample where the synthesis has
    // sound is taken as inserted silence.
    size_t matched = 0;
    size_t expectedIndex = expectedStart;
    size_t gaps = 0;
    size_t insertedSamples = 0;
    size_t position = signalStart;
    size_t lastMatch = signalStart;
    bool inGap = false;
    for (; position < recorded.size(); ++position) {
        if (recorded[position] == expected[expectedIndex]) {
            ++matched;
            ++expectedIndex;
            lastMatch = position;
            inGap = false;
            continue;
        }
        if (recorded[position] != 0)
            break;
        gaps += !inGap;
        inGap = true;
        ++insertedSamples;
    }
    if (position != recorded.size()) {
        std::printf("FAIL: sample %zu of the recording is %d, the synthesis gives %d (after %zu equal samples)\n",
                    position, recorded[position], expected[expectedIndex], matched);
        return 1;
    }
    // The silence after "Turn Off" is not a gap.
    const size_t trailingSilence = recorded.size() - 1 - lastMatch;
    if (inGap) {
        --gaps;
        insertedSamples -= trailingSilence;
    }
    std::printf("%zu samples: %zu silent, %zu (%.3f s) equal to the synthesis, %zu gaps of %zu inserted silent samples, "
                "then %zu silent\n",
                recorded.size(), signalStart, matched, static_cast<double>(matched) / rate, gaps, insertedSamples,
                trailingSilence);
    if (static_cast<double>(matched) < minSeconds * rate) {
        std::printf("FAIL: fewer than %.3f s of signal\n", minSeconds);
        return 1;
    }
    if (gaps > maxGaps) {
        std::printf("FAIL: more than %zu gaps\n", maxGaps);
        return 1;
    }
    std::printf("OK\n");
    return 0;
}
