#include "soundclock/signal_player.h"
#include "soundclock/text_format.h"

SignalPlayer::SignalPlayer(AudioPlayback& playback, const SignalChoice& signal, uint32_t signalChannels) : stream(playback)
{
    thread = std::thread([this, signal, signalChannels] {
        end = PlaySignal(
            stream, signal, UINT64_MAX,
            [this] {
                stamps.Take(stream);
                return stopping.load();
            },
            [this](const AudioXrun& xrun) {
                std::lock_guard<std::mutex> lock(mutex);
                ++underruns;
                notes.push_back("underrun at " + Fixed(xrun.seconds, 2) +
                                " s of the signal: the playback ran out of samples (a gap in the sound)");
            },
            signalChannels);
        ended = true;
    });
}

SignalPlayer::~SignalPlayer()
{
    Stop();
}

std::vector<std::string> SignalPlayer::TakeNotes()
{
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<std::string> taken;
    taken.swap(notes);
    return taken;
}

int64_t SignalPlayer::Underruns()
{
    std::lock_guard<std::mutex> lock(mutex);
    return underruns;
}

void SignalPlayer::Stop()
{
    stopping = true;
    if (thread.joinable()) {
        thread.join();
        stamps.Take(stream);
    }
}
