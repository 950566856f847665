// soundclock rate against a reference that arrives in the samples: a GPS
// receiver's second pulse, a steady tone, a time station's ticks; on a
// recording (made by any program on the card: it carries the card's
// clock) or live on a device's capture.
#include "soundclock/commands.h"
#include "soundclock/failure.h"
#include "soundclock/rate_commands.h"
#include "soundclock/recording_input.h"
#include "soundclock/reference_session.h"
#include "soundclock/text_format.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

// A tone is followed from 20 Hz (below, a minute holds too few of its
// cycles to time) up to 0.45 of the rate (above, the card's anti-alias
// filter takes it).
constexpr double LOWEST_TONE_HZ = 20;
constexpr double HIGHEST_TONE_SHARE = 0.45;

std::string ToneRefusal(const ReferenceKind& kind, int rate)
{
    if (kind.type != ReferenceType::Tone)
        return "";
    if (kind.toneHz < LOWEST_TONE_HZ || kind.toneHz > HIGHEST_TONE_SHARE * rate)
        return "--reference tone:" + Fixed(kind.toneHz, 1) + ": a tone from " + Fixed(LOWEST_TONE_HZ, 0) + " Hz to " +
               Fixed(HIGHEST_TONE_SHARE, 2) + " of the rate (" + Fixed(HIGHEST_TONE_SHARE * rate, 0) + " Hz at " +
               std::to_string(rate) + " Hz) is needed";
    return "";
}

int RateOfRecording(const RateOptions& options)
{
    RecordingInput input;
    std::string problem;
    if (!input.Open(options.source, "rate", problem))
        return Fail(options.result, problem);
    RecordingReader& reader = input.Reader();
    const int rate = reader.SampleRate();
    const std::string refusal = ToneRefusal(options.reference, rate);
    if (!refusal.empty())
        return Fail(options.result, refusal);

    ReferenceSession session(options, rate);
    if (!session.Start(problem))
        return Fail(options.result, problem);
    session.Facts().source = input.Name();
    session.Facts().channel = reader.Channel();
    if (!input.ChannelNote().empty())
        session.Say(input.ChannelNote());
    const uint64_t limit = SampleLimit(options.seconds, rate);
    uint64_t read = 0;
    std::vector<int16_t> whole(8192);
    std::vector<float> samples(whole.size());
    while (read < limit) {
        const size_t wanted = static_cast<size_t>(std::min<uint64_t>(samples.size(), limit - read));
        const size_t got = reader.ReadSamples(whole.data(), wanted);
        if (got == 0)
            break;
        for (size_t i = 0; i < got; ++i)
            samples[i] = static_cast<float>(whole[i]) / 32768.0f;
        session.Push(samples.data(), got);
        read += got;
    }
    session.Finish();
    if (input.Failed())
        return session.Fail("reading " + input.Name() + " failed");
    if (reader.MissingBytes() > 0)
        session.Say("the recording ends " + std::to_string(reader.MissingBytes()) +
                    " bytes before the end its data chunk declares; measured what is there");
    return session.Report();
}

}  // namespace

int RateAgainstReference(const RateOptions& options)
{
    if (options.source.fromDevice)
        return Fail(options.result, "rate: a reference on a device's capture: not in this build yet");
    return RateOfRecording(options);
}
