// The most recent samples of a stream, by their position from the first
// pushed: a fixed ring (a power of two), so that a meter's memory does not
// grow with the run.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

class SampleRing {
public:
    // Holds at least `minimum` samples.
    explicit SampleRing(size_t minimum)
    {
        size_t capacity = 1;
        while (capacity < minimum)
            capacity <<= 1;
        samples.assign(capacity, 0.0f);
        mask = capacity - 1;
    }
    void Push(const float* values, size_t count)
    {
        while (count > 0) {
            const size_t at = static_cast<size_t>(end) & mask;
            const size_t run = std::min(count, samples.size() - at);
            std::copy(values, values + run, samples.begin() + static_cast<std::ptrdiff_t>(at));
            values += run;
            count -= run;
            end += static_cast<int64_t>(run);
        }
    }
    // Samples pushed so far: one past the newest position.
    int64_t End() const { return end; }
    // The oldest position still held.
    int64_t Begin() const { return end > static_cast<int64_t>(samples.size()) ? end - static_cast<int64_t>(samples.size()) : 0; }
    // Begin() <= position < End(); before the first sample, 0.
    float operator[](int64_t position) const { return position < 0 ? 0.0f : samples[static_cast<size_t>(position) & mask]; }
    // The first difference at `position` (x[n] - x[n - 1]), Begin() < position < End().
    double Difference(int64_t position) const
    {
        return static_cast<double>((*this)[position]) - static_cast<double>((*this)[position - 1]);
    }

private:
    std::vector<float> samples;
    size_t mask = 0;
    int64_t end = 0;
};
