#include "audio/winmm_ring.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <utility>

namespace {

constexpr double MINIMUM_STALL_LIMIT_SECONDS = 5;
constexpr size_t MINIMUM_BUFFER_FRAMES = 32;

size_t BufferFramesAt(const WinmmStreamSettings& settings, int sampleRate)
{
    const double scaled = std::round(static_cast<double>(settings.samplesPerBufferAt8000) * sampleRate / 8000.0);
    return std::max(MINIMUM_BUFFER_FRAMES, static_cast<size_t>(std::max(0.0, scaled)));
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

WinmmRing::WinmmRing(std::string label, AudioDirection direction, int sampleRate, const WinmmStreamSettings& settings,
                     StreamTimeline& timeline, StreamLife& life)
    : label(std::move(label)),
      timeline(timeline),
      life(life),
      sampleRate(sampleRate),
      headers(RingLength(settings, direction)),
      bufferFrames(BufferFramesAt(settings, sampleRate)),
      stallLimitSeconds(StallLimitSeconds(settings, sampleRate, headers.size() * bufferFrames))
{
    lastProgress = PerformanceCounterSeconds();
}

void WinmmRing::Allocate(size_t bytesPerFrame)
{
    frameBytes = bytesPerFrame;
    bytes.assign(headers.size() * bufferFrames * frameBytes, 0);
}

void WinmmRing::NoteQueued(size_t index)
{
    if (queued.empty())
        lastProgress = PerformanceCounterSeconds();
    queued.push_back(index);
}

std::vector<size_t> WinmmRing::TakeReturned()
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

bool WinmmRing::AnyHeaderInQueue() const
{
    return std::any_of(headers.begin(), headers.end(),
                       [](const WAVEHDR& header) { return (header.dwFlags & WHDR_INQUEUE) != 0; });
}

void WinmmRing::AddClockPoint()
{
    timeline.AddClockPoint(timeline.Position(), PerformanceCounterSeconds());
}

void WinmmRing::MarkLost(const std::string& why)
{
    life.Lose(label + ": " + why);
}

void WinmmRing::RestartStallClock()
{
    lastProgress = PerformanceCounterSeconds();
}

bool WinmmRing::CheckStall()
{
    if (life.Usable() && !queued.empty() && PerformanceCounterSeconds() - lastProgress > stallLimitSeconds) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f", stallLimitSeconds);
        MarkLost(std::string("the device gave no buffer back for ") + seconds +
                 " s: it stopped or was removed");
    }
    return !life.Usable();
}

void WinmmRing::WaitForReturn(double deadline)
{
    const double now = PerformanceCounterSeconds();
    const double until = queued.empty() ? deadline : std::min(deadline, lastProgress + stallLimitSeconds);
    // Rounded up, so a wait never ends just before the moment it waits for.
    const double milliseconds = std::ceil((until - now) * 1000);
    event.Wait(milliseconds <= 0 ? 0 : static_cast<int>(std::min(milliseconds, 1e9)));
}

double WinmmRing::DeadlineAfter(int timeoutMs)
{
    return PerformanceCounterSeconds() + std::max(0, timeoutMs) / 1000.0;
}

void WinmmRing::AbandonBuffers()
{
    struct Abandoned {
        std::vector<WAVEHDR> headers;
        std::vector<char> bytes;
    };
    new Abandoned{std::move(headers), std::move(bytes)};  // never freed, on purpose
    headers.clear();
    bytes.clear();
    queued.clear();
}
