// soundclock loop: plays the signal on one device and records another in
// the same run (the playback in a thread of its own): the two cards'
// offset in one command, with both sides' xruns reported.
#include "soundclock/text_format.h"
#include "soundclock/commands.h"
#include "soundclock/live_audio.h"
#include "soundclock/loop_rates.h"
#include "soundclock/measure_session.h"
#include "soundclock/recording_input.h"
#include "soundclock/signal_player.h"

#include "audio/audio_device.h"

#include <cmath>
#include <string>
#include <vector>

namespace {


std::string Named(const std::string& device)
{
    return "\"" + (device.empty() ? std::string("default") : device) + "\"";
}

}  // namespace

int LoopCommand(const LoopOptions& options)
{
    const int recordRate = options.recordRate > 0 ? options.recordRate : options.signal.rate;
    const std::string refusal = RecordingRefusal(options.result, options.signal, recordRate);
    if (!refusal.empty())
        return Fail(options.result, refusal);
    std::unique_ptr<AudioSystem> system = MakeAudioSystem();
    std::string error;
    std::unique_ptr<AudioCapture> capture = system->OpenCapture(options.record, recordRate, CaptureChannels(options.channel), error);
    if (!capture)
        return Fail(options.result, error);
    std::unique_ptr<AudioPlayback> playback = system->OpenPlayback(options.play, options.signal.rate, 1, error);
    if (!playback)
        return Fail(options.result, error);

    MeasureSession session(options.result, options.signal, recordRate);
    std::string problem;
    if (!session.Start(problem))
        return Fail(options.result, problem);
    WavWriter save;
    if (!options.save.empty() && !save.Open(options.save, recordRate, capture->Channels(), capture->DeviceEncoding()))
        return Fail(options.result, "cannot write " + options.save);

    CatchInterrupt();
    session.Say("playing the signal on " + Named(options.play) + " at " + std::to_string(options.signal.rate) +
                " Hz, recording " + Named(options.record) + " at " + std::to_string(recordRate) + " Hz, " + capture->FormatWords() +
                " (" + system->Name() + "), the signal on channel " + std::to_string(std::max(0, options.channel) + 1) +
                (options.seconds > 0 ? " for " + Fixed(options.seconds, 1) + " s" : "") +
                "; Ctrl-C ends it with the result");

    SignalPlayer player(*playback, options.signal, ALL_CHANNELS);
    StampLog recordStamps;  // taken by the thread that drives the capture
    auto between = [&] {
        recordStamps.Take(*capture);
        for (const std::string& note : player.TakeNotes())
            session.Say(note);
        session.Facts().underruns = player.Underruns();
    };
    const uint64_t limit = SampleLimit(options.seconds, recordRate);
    const DeviceRunEnd recorded = CaptureInto(*capture, session, std::max(0, options.channel), limit, options.save.empty() ? nullptr : &save,
                                              [&] { return player.Ended(); }, between);
    player.Stop();
    between();
    session.Finish();
    if (!options.save.empty() && !save.Close())
        session.Say("writing " + options.save + " failed", true);
    const DeviceRunEnd& played = player.End();

    std::string partial;
    if (recorded.kind == DeviceRunEnd::Lost)
        partial = LostText("recording", recorded);
    if (played.kind == DeviceRunEnd::Lost)
        partial += (partial.empty() ? "" : "; ") + LostText("signal", played);
    if (!partial.empty()) {
        session.Facts().partial = partial;
        session.Say(partial + "; the result covers what was measured until then (" + Fixed(recorded.seconds, 1) +
                        " s recorded)",
                    true);
    } else if (recorded.kind == DeviceRunEnd::Interrupted || played.kind == DeviceRunEnd::Interrupted)
        session.Say("stopped by Ctrl-C after " + Fixed(recorded.seconds, 1) + " s");
    AddLoopRates(session, player.Stamps(), options.signal.rate, recordStamps, recordRate);
    return session.Report();
}
