// Writes a reference signal with a known truth as a WAV file to standard
// output: what a card `PPM` fast records of a GPS receiver's second pulse,
// a steady tone or a time station's broadcast. For the end-to-end tests
// (played into an audio server's sink, recorded back) and for trying
// soundclock rate --reference by hand.
//
//   make_reference pps|tone:HZ RATE PPM SECONDS [KEY=VALUE ...]
//   make_reference pair LEFT.wav RIGHT.wav     (two mono files as one stereo file)
//
// Keys of every kind: seed=N, bits=16|24|32|float (the file's samples,
// default 24), start=S (where in the reference's second the recording
// starts), noise_dbfs=X, hum_dbfs=X, hum_hz=HZ.
// pps: width=S (0.1), polarity=rising|falling, level_dbfs=X (-6),
// ac_hz=HZ (AC coupling, 0: none), anti_alias=F (0.45 of the rate).
// tone: level_dbfs=X (-6), snr_db=X (over the whole band; default: no
// noise), wander_ppm=X period=S (its frequency moving as a sine),
// jump_at=S jump_ppm=X (its frequency stepping).
#include "common/sample_format.h"
#include "meter/recording_reader.h"
#include "meter/wav_format.h"
#include "tests/reference/pps_signal.h"
#include "tests/reference/tone_signal.h"

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
    std::fprintf(stderr, "usage: make_reference pps|tone:HZ RATE PPM SECONDS [KEY=VALUE ...] > FILE.wav\n"
                         "       make_reference pair LEFT.wav RIGHT.wav > STEREO.wav\n");
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

// Two mono WAV files of one rate as one stereo file (the shorter's length).
int Pair(const char* leftPath, const char* rightPath)
{
    std::vector<float> channels[2];
    int rate = 0;
    const char* paths[2] = {leftPath, rightPath};
    for (int c = 0; c < 2; ++c) {
        std::FILE* file = std::fopen(paths[c], "rb");
        if (file == nullptr) {
            std::fprintf(stderr, "make_reference: cannot open %s\n", paths[c]);
            return 1;
        }
        struct Source : ByteSource {
            std::FILE* file;
            size_t Read(unsigned char* buffer, size_t size) override { return std::fread(buffer, 1, size, file); }
        } source;
        source.file = file;
        RecordingReader reader;
        std::string problem;
        if (!reader.OpenWav(source, 0, problem)) {
            std::fprintf(stderr, "make_reference: %s: %s\n", paths[c], problem.c_str());
            return 1;
        }
        rate = reader.SampleRate();
        float chunk[4096];
        for (size_t got; (got = reader.ReadSamples(chunk, 4096)) > 0;)
            channels[c].insert(channels[c].end(), chunk, chunk + got);
        std::fclose(file);
    }
    const size_t frames = std::min(channels[0].size(), channels[1].size());
    std::vector<float> stereo(2 * frames);
    for (size_t i = 0; i < frames; ++i) {
        stereo[2 * i] = channels[0][i];
        stereo[2 * i + 1] = channels[1][i];
    }
    return WriteWav(stereo, 2, rate, SampleEncoding::S24In3) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::string(argv[1]) == "pair")
        return Pair(argv[2], argv[3]);
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
    else
        return Usage();
    return WriteWav(samples, 1, rate, EncodingOf(Word(keys, "bits", "24"))) ? 0 : 1;
}
