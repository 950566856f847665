#include "audio/winmm_stream.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <utility>

namespace {

constexpr double MINIMUM_STALL_LIMIT_SECONDS = 5;
constexpr size_t MINIMUM_BUFFER_SAMPLES = 32;

size_t BufferSamplesAt(const WinmmStreamSettings& settings, int sampleRate)
{
    const double scaled = std::round(static_cast<double>(settings.samplesPerBufferAt8000) * sampleRate / 8000.0);
    return std::max(MINIMUM_BUFFER_SAMPLES, static_cast<size_t>(std::max(0.0, scaled)));
}

size_t RingLength(const WinmmStreamSettings& settings, AudioDirection direction)
{
    return std::max<size_t>(2, direction == AudioDirection::Playback ? settings.playbackBufferCount
                                                                     : settings.captureBufferCount);
}

double StallLimitSeconds(const WinmmStreamSettings& settings, int sampleRate, size_t ringSamples)
{
    if (settings.stallLimitMs > 0)
        return settings.stallLimitMs / 1000.0;
    const double ringSeconds = static_cast<double>(ringSamples) / std::max(1, sampleRate);
    return std::max(MINIMUM_STALL_LIMIT_SECONDS, 1.5 * ringSeconds);
}

}  // namespace

WinmmStream::WinmmStream(AudioDirection direction, int sampleRate, std::string label,
                         const WinmmStreamSettings& settings)
    : AudioStream(direction, sampleRate),
      label(std::move(label)),
      headers(RingLength(settings, direction)),
      bufferSamples(BufferSamplesAt(settings, sampleRate)),
      stallLimitSeconds(StallLimitSeconds(settings, sampleRate, headers.size() * bufferSamples))
{
    samples.assign(headers.size() * bufferSamples, 0);
    lastProgress = PerformanceCounterSeconds();
}

std::vector<AudioXrun> WinmmStream::TakeXruns()
{
    return std::exchange(xruns, {});
}

std::vector<AudioClockPoint> WinmmStream::TakeClockPoints()
{
    return std::exchange(clockPoints, {});
}

void WinmmStream::NoteQueued(size_t index)
{
    if (queued.empty())
        lastProgress = PerformanceCounterSeconds();
    queued.push_back(index);
}

std::vector<size_t> WinmmStream::TakeReturned()
{
    std::vector<size_t> returned;
    while (!queued.empty() && (headers[queued.front()].dwFlags & WHDR_DONE) != 0) {
        returned.push_back(queued.front());
        queued.pop_front();
    }
    if (!returned.empty()) {
        // What the driver wrote into a header before marking it done is
        // read only after the mark was seen.
        std::atomic_thread_fence(std::memory_order_acquire);
        lastProgress = PerformanceCounterSeconds();
    }
    return returned;
}

bool WinmmStream::AnyHeaderInQueue() const
{
    return std::any_of(headers.begin(), headers.end(),
                       [](const WAVEHDR& header) { return (header.dwFlags & WHDR_INQUEUE) != 0; });
}

void WinmmStream::AddClockPoint(uint64_t frames)
{
    clockPoints.push_back({frames, PerformanceCounterSeconds(), static_cast<uint32_t>(segment)});
}

void WinmmStream::AddXrun(uint64_t frame)
{
    xruns.push_back({frame, static_cast<double>(frame) / SampleRate()});
    ++segment;
}

void WinmmStream::MarkLost(const std::string& why)
{
    if (lost)
        return;
    lost = true;
    errorText = label + ": " + why;
}

void WinmmStream::RestartStallClock()
{
    lastProgress = PerformanceCounterSeconds();
}

bool WinmmStream::CheckStall()
{
    if (!lost && !queued.empty() && PerformanceCounterSeconds() - lastProgress > stallLimitSeconds) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f", stallLimitSeconds);
        MarkLost(std::string("the device gave no buffer back for ") + seconds +
                 " s: it stopped or was removed");
    }
    return lost;
}

void WinmmStream::WaitForReturn(double deadline)
{
    const double now = PerformanceCounterSeconds();
    const double until = queued.empty() ? deadline : std::min(deadline, lastProgress + stallLimitSeconds);
    // Rounded up, so a wait never ends just before the moment it waits for.
    const double milliseconds = std::ceil((until - now) * 1000);
    event.Wait(milliseconds <= 0 ? 0 : static_cast<int>(std::min(milliseconds, 1e9)));
}

double WinmmStream::DeadlineAfter(int timeoutMs)
{
    return PerformanceCounterSeconds() + std::max(0, timeoutMs) / 1000.0;
}

void WinmmStream::AbandonBuffers()
{
    struct Abandoned {
        std::vector<WAVEHDR> headers;
        std::vector<int16_t> samples;
    };
    new Abandoned{std::move(headers), std::move(samples)};  // never freed, on purpose
    headers.clear();
    samples.clear();
    queued.clear();
}
