#include "audio/alsa_stream.h"
#include "audio/alsa_pcm.h"

#include <vector>

namespace {

// A call on a stream that can no longer move samples.
AudioResult Unusable(StreamLife& life)
{
    if (life.State() == StreamState::Stopped)
        life.Lose("the stream was stopped");
    return AudioResult::Lost;
}

class AlsaCapture final : public AudioCapture {
public:
    AlsaCapture(snd_pcm_t* handle, std::string name, int sampleRate, const AlsaSetup& setup)
        : AudioCapture(sampleRate), pcm(handle, std::move(name), AudioDirection::Capture, sampleRate, setup, timeline, life)
    {
        SetLayout(static_cast<int>(setup.channels), setup.encoding);
    }
    ~AlsaCapture() override { Stop(); }

    AudioResult Read(int32_t* samples, size_t frames, size_t& done, int timeoutMs) override
    {
        done = 0;
        if (!life.Usable())
            return Unusable(life);
        if (life.State() == StreamState::Ready) {
            if (pcm.Start() != AudioResult::Ok)
                return AudioResult::Lost;
            life.Run();
        }
        const size_t sampleCount = frames * static_cast<size_t>(Channels());
        bytes.resize(sampleCount * SampleBytes(DeviceEncoding()));
        const AudioResult result = pcm.Move(frames, done, timeoutMs, [&](snd_pcm_uframes_t count) {
            return snd_pcm_readi(pcm.Handle(), bytes.data(), count);
        });
        DecodeSamples(DeviceEncoding(), bytes.data(), done * static_cast<size_t>(Channels()), samples);
        return result;
    }

    void Stop() override
    {
        if (life.Stop())
            pcm.Drop();
    }

    double LatenessDriftSeconds() const override { return pcm.LatenessDriftSeconds(); }

private:
    AlsaPcm pcm;
    std::vector<unsigned char> bytes;  // as the device gives them
};

class AlsaPlayback final : public AudioPlayback {
public:
    AlsaPlayback(snd_pcm_t* handle, std::string name, int sampleRate, const AlsaSetup& setup)
        : AudioPlayback(sampleRate), pcm(handle, std::move(name), AudioDirection::Playback, sampleRate, setup, timeline, life)
    {
        SetLayout(static_cast<int>(setup.channels), setup.encoding);
    }
    ~AlsaPlayback() override { Stop(); }

    AudioResult Write(const int16_t* samples, size_t frames, size_t& done, int timeoutMs) override
    {
        done = 0;
        if (!life.Usable())
            return Unusable(life);
        life.Run();
        const void* data = DeviceEncoding() == SampleEncoding::S16 ? static_cast<const void*>(samples) : Converted(samples, frames);
        return pcm.Move(frames, done, timeoutMs, [&](snd_pcm_uframes_t count) {
            return snd_pcm_writei(pcm.Handle(), data, count);
        });
    }

    AudioResult Drain(int timeoutMs) override
    {
        if (!life.Usable())
            return Unusable(life);
        if (timeline.Position() == 0)
            return AudioResult::Ok;
        life.End();
        return pcm.Drain(timeoutMs);
    }

    void Stop() override
    {
        if (life.Stop())
            pcm.Drop();
    }

    double LatenessDriftSeconds() const override { return pcm.LatenessDriftSeconds(); }

private:
    // The 16-bit frames in the device's layout.
    const void* Converted(const int16_t* samples, size_t frames)
    {
        const size_t count = frames * static_cast<size_t>(Channels());
        wide.resize(count);
        for (size_t i = 0; i < count; ++i)
            wide[i] = static_cast<int32_t>(samples[i]) * 65536;
        bytes.resize(count * SampleBytes(DeviceEncoding()));
        EncodeSamples(DeviceEncoding(), wide.data(), count, bytes.data());
        return bytes.data();
    }

    AlsaPcm pcm;
    std::vector<int32_t> wide;
    std::vector<unsigned char> bytes;
};

}  // namespace

std::unique_ptr<AudioCapture> MakeAlsaCapture(snd_pcm_t* pcm, std::string name, int sampleRate, const AlsaSetup& setup)
{
    return std::make_unique<AlsaCapture>(pcm, std::move(name), sampleRate, setup);
}

std::unique_ptr<AudioPlayback> MakeAlsaPlayback(snd_pcm_t* pcm, std::string name, int sampleRate, const AlsaSetup& setup)
{
    return std::make_unique<AlsaPlayback>(pcm, std::move(name), sampleRate, setup);
}
