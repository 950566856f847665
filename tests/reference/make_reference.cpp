// Writes a reference signal with a known truth as a WAV file to standard
// output: what a card `PPM` fast records of a GPS receiver's second pulse,
// a steady tone or a time station's broadcast. For the end-to-end tests
// (played into an audio server's sink, recorded back) and for trying
// soundclock rate --reference by hand.
//
//   make_reference pps|tone:HZ|ticks:wwv|ticks:wwvh|ticks:chu RATE PPM SECONDS [KEY=VALUE ...]
//   make_reference channels N C=FILE.wav ...   (mono files on channels C of N, silence on the others)
//
// Keys of every kind: seed=N, bits=16|24|32|float (the file's samples,
// default 24), start=S (where in the reference's second the recording
// starts), noise_dbfs=X, hum_dbfs=X, hum_hz=HZ.
// pps: width=S (0.1), polarity=rising|falling, level_dbfs=X (-6),
// ac_hz=HZ (AC coupling, 0: none), anti_alias=F (0.45 of the rate),
// extra_at=F (a second pulse each second, F of a second after the first).
// tone: level_dbfs=X (-6), snr_db=X (over the whole band; default: no
// noise), wander_ppm=X period=S (its frequency moving as a sine),
// jump_at=S jump_ppm=X (its frequency stepping).
// ticks: start=S (reference seconds from the top of an hour, default
// 600.3), level=A (0.3), pitch=HZ (the SSB offset, 0), lsb=1, snr_db=X,
// fading=rayleigh|slow, echo=L (a second path 1 ms later at L of the
// first), wander_us=X (its delay's RMS, microseconds), jump_us=X
// jump_at=S (the delay steps once), delay_ms=X (8).
#include "common/sample_format.h"
#include "meter/recording_reader.h"
#include "meter/wav_format.h"
#include "tests/reference/pps_signal.h"
#include "tests/reference/station_signal.h"
#include "tests/reference/tone_signal.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

using Keys = std::map<std::string, std::string>;

int Usage()
{
    std::fprintf(stderr,
                 "usage: make_reference pps|tone:HZ|ticks:wwv|ticks:wwvh|ticks:chu RATE PPM SECONDS [KEY=VALUE ...] > FILE.wav\n"
                 "       make_reference channels N C=FILE.wav ... > FILE.wav\n"
                 "keys of every kind: seed=N bits=16|24|32|float (24) start=S noise_dbfs=X hum_dbfs=X hum_hz=HZ\n"
                 "pps:   width=S (0.1) polarity=rising|falling level_dbfs=X (-6) ac_hz=HZ (0) anti_alias=F (0.45)\n"
                 "       extra_at=F (a second pulse each second, F of a second after the first)\n"
                 "tone:  level_dbfs=X (-6) snr_db=X wander_ppm=X period=S jump_at=S jump_ppm=X\n"
                 "ticks: start=S (600.3 from the top of an hour) level=A (0.3) pitch=HZ (0) lsb=1 snr_db=X\n"
                 "       fading=rayleigh|slow echo=L wander_us=X jump_us=X jump_at=S delay_ms=X (8)\n");
    return 2;
}

double Number(const Keys& keys, const std::string& key, double fallback)
{
    const auto found = keys.find(key);
    return found == keys.end() ? fallback : std::atof(found->second.c_str());
}

std::string Word(const Keys& keys, const std::string& key, const std::string& fallback)
{
    const auto found = keys.find(key);
    return found == keys.end() ? fallback : found->second;
}

SampleEncoding EncodingOf(const std::string& bits)
{
    if (bits == "16")
        return SampleEncoding::S16;
    if (bits == "32")
        return SampleEncoding::S32;
    if (bits == "float")
        return SampleEncoding::Float32;
    return SampleEncoding::S24In3;
}

// Interleaved frames of `channels` float samples, full scale 1, as WAV.
bool WriteWav(const std::vector<float>& samples, int channels, int rate, SampleEncoding encoding)
{
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    std::vector<int32_t> whole(samples.size());
    for (size_t i = 0; i < samples.size(); ++i)
        whole[i] = Int32FromFloat(samples[i]);
    std::vector<unsigned char> bytes(samples.size() * SampleBytes(encoding));
    EncodeSamples(encoding, whole.data(), whole.size(), bytes.data());
    if (encoding == SampleEncoding::Float32)  // exact, not through 32 bits of integer
        for (size_t i = 0; i < samples.size(); ++i)
            std::memcpy(&bytes[4 * i], &samples[i], 4);
    const std::string header = MakeWavHeader(rate, static_cast<uint16_t>(channels), bytes.size(), encoding);
    return std::fwrite(header.data(), 1, header.size(), stdout) == header.size() &&
           std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() && std::fflush(stdout) == 0;
}

std::vector<float> Pps(int rate, double ppm, double seconds, const Keys& keys)
{
    PpsSignal signal;
    signal.clock.nominalRate = rate;
    signal.clock.ppm = ppm;
    signal.clock.startSeconds = Number(keys, "start", 0.3);
    signal.seconds = seconds;
    signal.widthSeconds = Number(keys, "width", 0.1);
    signal.rising = Word(keys, "polarity", "rising") != "falling";
    signal.level = FromDbfs(Number(keys, "level_dbfs", -6));
    signal.highPassHz = Number(keys, "ac_hz", 0);
    signal.antiAliasFraction = Number(keys, "anti_alias", 0.45);
    signal.humLevel = keys.count("hum_dbfs") ? FromDbfs(Number(keys, "hum_dbfs", -200)) : 0;
    signal.humHz = Number(keys, "hum_hz", 50);
    signal.noiseRms = keys.count("noise_dbfs") ? FromDbfs(Number(keys, "noise_dbfs", -200)) : 0;
    signal.seed = static_cast<uint64_t>(Number(keys, "seed", 1));
    if (keys.count("extra_at"))
        for (int k = 0; k < static_cast<int>(seconds) + 1; ++k)
            signal.extraPulses.push_back(k + Number(keys, "extra_at", 0.5));
    return MakePpsSignal(signal);
}

std::vector<float> Tone(double hz, int rate, double ppm, double seconds, const Keys& keys)
{
    ToneSignalSettings tone;
    tone.clock.nominalRate = rate;
    tone.clock.ppm = ppm;
    tone.clock.startSeconds = Number(keys, "start", 0.3);
    tone.toneHz = hz;
    tone.levelDbfs = Number(keys, "level_dbfs", -6);
    if (keys.count("snr_db"))
        tone.snrDb = Number(keys, "snr_db", 100);
    if (keys.count("hum_dbfs")) {
        tone.hum.levelDbfs = Number(keys, "hum_dbfs", NO_LEVEL);
        tone.hum.hz = Number(keys, "hum_hz", 50);
    }
    tone.wander.sinePpm = Number(keys, "wander_ppm", 0);
    tone.wander.sinePeriodSeconds = Number(keys, "period", 60);
    tone.wander.jumpAtSeconds = Number(keys, "jump_at", -1);
    tone.wander.jumpPpm = Number(keys, "jump_ppm", 0);
    tone.seed = static_cast<uint64_t>(Number(keys, "seed", 1));
    return ToneSamples(tone, seconds);
}

std::vector<float> Ticks(const std::string& station, int rate, double ppm, double seconds, const Keys& keys)
{
    Reception reception;
    reception.clock.nominalRate = rate;
    reception.clock.ppm = ppm;
    reception.clock.startSeconds = Number(keys, "start", 600.3);
    reception.pitchOffsetHz = Number(keys, "pitch", 0);
    reception.lowerSideband = Number(keys, "lsb", 0) != 0;
    if (keys.count("snr_db"))
        reception.snrDb = Number(keys, "snr_db", 100);
    reception.seed = static_cast<uint64_t>(Number(keys, "seed", 1));
    StationArrival arrival;
    arrival.station = station == "wwvh" ? TimeStation::Wwvh : station == "chu" ? TimeStation::Chu : TimeStation::Wwv;
    arrival.level = Number(keys, "level", 0.3);
    arrival.delaySeconds = Number(keys, "delay_ms", 8) * 1e-3;
    const std::string fading = Word(keys, "fading", "none");
    arrival.fading = fading == "rayleigh" ? FadingKind::Rayleigh : fading == "slow" ? FadingKind::Slow : FadingKind::None;
    arrival.echoLevel = Number(keys, "echo", 0);
    arrival.wanderRmsSeconds = Number(keys, "wander_us", 0) * 1e-6;
    arrival.jumpSeconds = Number(keys, "jump_us", 0) * 1e-6;
    arrival.jumpAtSeconds = keys.count("jump_at") ? reception.clock.startSeconds + Number(keys, "jump_at", 0) : -1;
    reception.stations.push_back(arrival);
    StationSignal signal(reception);
    return signal.Generate(static_cast<size_t>(std::llround(seconds * rate)));
}

// The samples of a mono WAV file, and its rate.
bool ReadMono(const std::string& path, std::vector<float>& samples, int& rate)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        std::fprintf(stderr, "make_reference: cannot open %s\n", path.c_str());
        return false;
    }
    struct Source : ByteSource {
        std::FILE* file = nullptr;
        size_t Read(unsigned char* buffer, size_t size) override { return std::fread(buffer, 1, size, file); }
    } source;
    source.file = file;
    RecordingReader reader;
    std::string problem;
    const bool opened = reader.OpenWav(source, 0, problem);
    if (opened) {
        rate = reader.SampleRate();
        float chunk[4096];
        for (size_t got; (got = reader.ReadSamples(chunk, 4096)) > 0;)
            samples.insert(samples.end(), chunk, chunk + got);
    } else
        std::fprintf(stderr, "make_reference: %s: %s\n", path.c_str(), problem.c_str());
    std::fclose(file);
    return opened;
}

// Mono files on some of `channels` channels, silence on the others, as
// one file of the shortest one's length.
int Channels(int channels, int argc, char** argv)
{
    std::vector<std::vector<float>> inputs(static_cast<size_t>(channels));
    int rate = 0;
    size_t frames = SIZE_MAX;
    for (int i = 0; i < argc; ++i) {
        const std::string word = argv[i];
        const size_t equals = word.find('=');
        const int channel = std::atoi(word.c_str()) - 1;
        if (equals == std::string::npos || channel < 0 || channel >= channels)
            return Usage();
        if (!ReadMono(word.substr(equals + 1), inputs[static_cast<size_t>(channel)], rate))
            return 1;
        frames = std::min(frames, inputs[static_cast<size_t>(channel)].size());
    }
    if (rate == 0)
        return Usage();
    std::vector<float> out(frames * static_cast<size_t>(channels), 0.0f);
    for (size_t c = 0; c < inputs.size(); ++c)
        if (!inputs[c].empty())
            for (size_t i = 0; i < frames; ++i)
                out[i * static_cast<size_t>(channels) + c] = inputs[c][i];
    return WriteWav(out, channels, rate, SampleEncoding::S24In3) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 4 && std::string(argv[1]) == "channels")
        return Channels(std::atoi(argv[2]), argc - 3, argv + 3);
    if (argc < 5)
        return Usage();
    const std::string kind = argv[1];
    const int rate = std::atoi(argv[2]);
    const double ppm = std::atof(argv[3]);
    const double seconds = std::atof(argv[4]);
    Keys keys;
    for (int i = 5; i < argc; ++i) {
        const std::string word = argv[i];
        const size_t equals = word.find('=');
        if (equals == std::string::npos)
            return Usage();
        keys[word.substr(0, equals)] = word.substr(equals + 1);
    }
    std::vector<float> samples;
    if (kind == "pps")
        samples = Pps(rate, ppm, seconds, keys);
    else if (kind.compare(0, 5, "tone:") == 0)
        samples = Tone(std::atof(kind.c_str() + 5), rate, ppm, seconds, keys);
    else if (kind.compare(0, 6, "ticks:") == 0)
        samples = Ticks(kind.substr(6), rate, ppm, seconds, keys);
    else
        return Usage();
    return WriteWav(samples, 1, rate, EncodingOf(Word(keys, "bits", "24"))) ? 0 : 1;
}
