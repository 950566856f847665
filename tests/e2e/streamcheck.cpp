// streamcheck.exe: checks a recording of pharolet's output against the
// stream the synthesis library produces for the same settings.
//
//   streamcheck RECORDING RATE CARRIER MIN_SECONDS MAX_GAPS [START [MAX_LOSSES]]
//
// RECORDING is raw mono signed 16-bit little-endian PCM, recorded from
// before "Turn On" to after "Turn Off" of one transmission. From its first
// non-zero sample on it must be what the program plays, sample for sample
// and in order, for at least MIN_SECONDS, then silence to the end. START
// says where that begins:
// - "any" (the default), the program's first transmission: the ring's
//   silence, then the synthesised stream from symbol 1 on; the recording
//   may start up to a second into the stream, and how much was lost is
//   reported (a look at a server that loses the start of a stream);
// - "whole": the same, but nothing may be lost at the start: the
//   recording's first sound must be the synthesis' first sound;
// - a number, the ring's size in one-symbol buffers: a later transmission
//   of the same program, nothing lost at its start either. First the ring's
//   buffers play as the last transmission left them (in slot order, so the
//   newest symbols come first unless the ring had just come round), then
//   the synthesis goes on from where it stood; where that was is found in
//   the recording.
// The audio server's stream from Wine can run dry (an underrun); the server
// then plays silence, inserted between two samples: at most MAX_GAPS such
// gaps. At most MAX_LOSSES places (default 0) where the recording skips
// ahead in the stream are reported and allowed, to look at a server that
// drops samples. A changed, repeated or extra sample anywhere fails. The
// recording's place in the stream is found from its first 256 samples of
// sound, so the carrier should not repeat itself every frame (1234.5 Hz at
// 8000 Hz does not; 1500 Hz does, and then a start that lost whole frames
// cannot be told from a whole one).
#include "transmitter/dsp/stream.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
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

// Where the recording goes on after a mismatch at `position`, looked for
// within `window` samples either side of where the synthesis stood, as a
// shift of the synthesis: positive, samples lost (the recording skips
// ahead); negative, samples repeated. A carrier that repeats itself every
// frame matches in many places; the nearest one is taken. False when the
// recording does not go on as the synthesis at all.
bool FindResumption(const std::vector<int16_t>& recorded, size_t position, const std::vector<int16_t>& expected,
                    size_t expectedIndex, size_t window, long long& shift)
{
    const size_t length = std::min(ALIGNMENT_SAMPLES, recorded.size() - position);
    const size_t first = expectedIndex > window ? expectedIndex - window : 0;
    bool found = false;
    for (size_t start = first; start < expectedIndex + window && start + length <= expected.size(); ++start) {
        const long long candidate = static_cast<long long>(start) - static_cast<long long>(expectedIndex);
        if ((!found || std::llabs(candidate) < std::llabs(shift)) &&
            std::equal(recorded.begin() + static_cast<std::ptrdiff_t>(position),
                       recorded.begin() + static_cast<std::ptrdiff_t>(position + length),
                       expected.begin() + static_cast<std::ptrdiff_t>(start))) {
            shift = candidate;
            found = true;
        }
    }
    return found;
}

constexpr size_t ANCHOR_SAMPLES = 2048;

// A later transmission: where the synthesis went on after the ring's
// leftover buffers, and how far the ring had come round.
struct ResumedLayout {
    size_t continuation = NOT_FOUND; // synthesis index of the first sample after the leftovers
    size_t rotation = 0;             // samples of the newest symbols, played first
};

// Whether recording[end - ring, end) holds the ring's leftovers: the
// synthesis' last `ring` samples before `continuation`, its newest
// `rotation` samples first.
bool HoldsLeftovers(const std::vector<int16_t>& recorded, size_t end, const std::vector<int16_t>& expected,
                    size_t continuation, size_t rotation, size_t ring)
{
    if (end < ring || continuation < ring)
        return false;
    for (size_t j = 0; j < ring; ++j) {
        const size_t source = j < rotation ? continuation - rotation + j : continuation - ring + j - rotation;
        if (recorded[end - ring + j] != expected[source])
            return false;
    }
    return true;
}

// Finds the layout of a later transmission: the recording's last second of
// sound anchors it in the synthesis; the continuation starts on a symbol
// boundary where the leftovers end.
ResumedLayout FindResumedLayout(const std::vector<int16_t>& recorded, size_t signalStart, size_t signalEnd,
                                const std::vector<int16_t>& expected, size_t rate, size_t ring)
{
    ResumedLayout layout;
    const size_t anchor = signalEnd > signalStart + rate ? signalEnd - rate : signalStart;
    if (anchor + ANCHOR_SAMPLES > recorded.size())
        return layout;
    const auto needle = recorded.begin() + static_cast<std::ptrdiff_t>(anchor);
    // The stream repeats itself after a whole number of carrier cycles (16 s
    // at 1234.5 Hz and 8000 Hz); any place with the ring before it will do.
    const size_t from = std::min(expected.size(), 2 * ring + anchor);
    const auto found = std::search(expected.begin() + static_cast<std::ptrdiff_t>(from), expected.end(), needle,
                                   needle + ANCHOR_SAMPLES);
    if (found == expected.end())
        return layout;
    const size_t anchorInExpected = static_cast<size_t>(found - expected.begin());
    if (anchorInExpected < anchor)
        return layout;
    // Back from the anchor while the recording follows the synthesis,
    // stepping over silence the server inserted (an underrun).
    size_t start = anchor;
    size_t startInExpected = anchorInExpected;
    while (start > 0 && startInExpected > 0) {
        if (recorded[start - 1] == expected[startInExpected - 1])
            --startInExpected;
        else if (recorded[start - 1] != 0)
            break;
        --start;
    }
    // The boundary lies on a symbol boundary at or after that point: within
    // the symbol the walk stopped in (the leftovers' last samples may equal
    // the synthesis' there), or further on before the next sound. Try each
    // with every rotation of the ring.
    for (size_t step = 0; start + step < anchor; ++step) {
        const size_t boundary = start + step;
        const size_t continuation = startInExpected + step;
        if (continuation % SAMPLES_PER_SYMBOL == 0) {
            for (size_t rotation = 0; rotation < ring; rotation += SAMPLES_PER_SYMBOL) {
                if (HoldsLeftovers(recorded, boundary, expected, continuation, rotation, ring)) {
                    layout.continuation = continuation;
                    layout.rotation = rotation;
                    return layout;
                }
            }
        }
        if (recorded[boundary] != 0 && step >= SAMPLES_PER_SYMBOL)
            break;
    }
    return layout;
}

// What a later transmission plays: the leftovers, then the synthesis on
// from the continuation.
std::vector<int16_t> ResumedStream(const std::vector<int16_t>& expected, const ResumedLayout& layout, size_t ring)
{
    std::vector<int16_t> stream;
    stream.reserve(ring + expected.size() - layout.continuation);
    const auto at = [&](size_t index) { return expected.begin() + static_cast<std::ptrdiff_t>(index); };
    stream.insert(stream.end(), at(layout.continuation - layout.rotation), at(layout.continuation));
    stream.insert(stream.end(), at(layout.continuation - ring), at(layout.continuation - layout.rotation));
    stream.insert(stream.end(), at(layout.continuation), expected.end());
    return stream;
}

size_t LastNonZero(const std::vector<int16_t>& samples)
{
    size_t last = samples.size();
    while (last > 0 && samples[last - 1] == 0)
        --last;
    return last == 0 ? 0 : last - 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 6 || argc > 8) {
        std::fprintf(stderr,
                     "usage: streamcheck RECORDING RATE CARRIER MIN_SECONDS MAX_GAPS [any|whole|RING_SYMBOLS [MAX_LOSSES]]\n");
        return 2;
    }
    const std::vector<int16_t> recorded = ReadRecording(argv[1]);
    const int32_t rate = std::atoi(argv[2]);
    const double carrier = std::atof(argv[3]);
    const double minSeconds = std::atof(argv[4]);
    const size_t maxGaps = static_cast<size_t>(std::atoi(argv[5]));
    const std::string start = argc >= 7 ? argv[6] : "any";
    const size_t maxLosses = argc == 8 ? static_cast<size_t>(std::atoi(argv[7])) : 0;
    const bool wholeStart = start != "any";
    const size_t ring = wholeStart && start != "whole" ? static_cast<size_t>(std::atoi(start.c_str())) * SAMPLES_PER_SYMBOL : 0;
    if (rate <= 0) {
        std::printf("FAIL: the rate must be positive\n");
        return 2;
    }

    const size_t signalStart = FirstNonZero(recorded);
    if (signalStart == recorded.size()) {
        std::printf("FAIL: %zu samples recorded, all silent\n", recorded.size());
        return 1;
    }
    std::vector<int16_t> expected;
    if (ring == 0) {
        const size_t symbols = (recorded.size() - signalStart + rate) / SAMPLES_PER_SYMBOL + 2 * FRAME_LENGTH;
        expected = SynthesizeStream(rate, carrier, symbols);
    } else {
        // The synthesis stood somewhere after the earlier transmissions:
        // look further into it until the recording is found there.
        ResumedLayout layout;
        for (size_t seconds = 64; layout.continuation == NOT_FOUND && seconds <= 2048; seconds *= 2) {
            const size_t symbols = (static_cast<size_t>(rate) * seconds + recorded.size()) / SAMPLES_PER_SYMBOL;
            const std::vector<int16_t> synthesis = SynthesizeStream(rate, carrier, symbols);
            layout = FindResumedLayout(recorded, signalStart, LastNonZero(recorded), synthesis,
                                       static_cast<size_t>(rate), ring);
            if (layout.continuation != NOT_FOUND) {
                std::printf("a later transmission: the synthesis goes on at sample %zu after the ring's %zu samples "
                            "(%zu of them its newest)\n",
                            layout.continuation, ring, layout.rotation);
                expected = ResumedStream(synthesis, layout, ring);
            }
        }
        if (layout.continuation == NOT_FOUND) {
            std::printf("FAIL: the recording does not start with the ring's leftover buffers followed by the "
                        "synthesis (a lost or changed sample at the start?)\n");
            return 1;
        }
    }
    const size_t expectedStart = AlignedStart(recorded, signalStart, expected, static_cast<size_t>(rate));
    if (expectedStart == NOT_FOUND) {
        std::printf("FAIL: the recorded signal is not the synthesised stream (within its first second)\n");
        return 1;
    }
    const size_t firstSound = FirstNonZero(expected);
    std::printf("the recording starts at sample %zu of the stream, whose first sound is at sample %zu: "
                "%zu samples lost at the start\n",
                expectedStart, firstSound, expectedStart - firstSound);

    // Walk both streams; a silent recorded sample where the synthesis has
    // sound is taken as inserted silence.
    size_t matched = 0;
    size_t expectedIndex = expectedStart;
    size_t gaps = 0;
    size_t insertedSamples = 0;
    size_t position = signalStart;
    size_t lastMatch = signalStart;
    size_t losses = 0;
    size_t lostSamples = 0;
    bool inGap = false;
    for (; position < recorded.size(); ++position) {
        if (recorded[position] == expected[expectedIndex]) {
            ++matched;
            ++expectedIndex;
            lastMatch = position;
            inGap = false;
            continue;
        }
        if (recorded[position] == 0) {
            gaps += !inGap;
            inGap = true;
            ++insertedSamples;
            continue;
        }
        long long shift = 0;
        const bool resumes = FindResumption(recorded, position, expected, expectedIndex, static_cast<size_t>(rate), shift);
        if (!resumes || shift <= 0 || losses == maxLosses) {
            std::printf("FAIL: sample %zu of the recording is %d, the synthesis gives %d (after %zu equal samples)\n",
                        position, recorded[position], expected[expectedIndex], matched);
            if (resumes)
                std::printf("the recording goes on at sample %lld of the synthesis: %lld samples %s\n",
                            static_cast<long long>(expectedIndex) + shift, std::llabs(shift),
                            shift < 0 ? "repeated" : "lost");
            else
                std::printf("the recording does not go on as the synthesis within %d samples\n", rate);
            return 1;
        }
        std::printf("%lld samples lost at %.3f s of the recording\n", shift,
                    static_cast<double>(position - signalStart) / rate);
        ++losses;
        lostSamples += static_cast<size_t>(shift);
        expectedIndex += static_cast<size_t>(shift);
        --position; // compare this sample again, with the synthesis where the recording goes on
    }
    // The silence after "Turn Off" is not a gap.
    const size_t trailingSilence = recorded.size() - 1 - lastMatch;
    if (inGap) {
        --gaps;
        insertedSamples -= trailingSilence;
    }
    std::printf("%zu samples: %zu silent, %zu (%.3f s) equal to the synthesis, %zu gaps of %zu inserted silent samples, "
                "%zu losses of %zu samples, then %zu silent\n",
                recorded.size(), signalStart, matched, static_cast<double>(matched) / rate, gaps, insertedSamples,
                losses, lostSamples, trailingSilence);
    if (wholeStart && expectedStart != firstSound) {
        std::printf("FAIL: the start of the stream is missing\n");
        return 1;
    }
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
