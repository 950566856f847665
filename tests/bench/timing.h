// A tiny timing harness for the benchmarks, the same natively and under
// Wine: steady_clock only, no threads, one line of output per measurement.
//
//   const TimingResult r = TimeRepeatedly([&] { work(); });
//   ReportAgainstBudget("work", r, 500e3);  // budget in nanoseconds per call
#pragma once

#include <chrono>
#include <cstdio>

struct TimingResult {
    long long calls = 0;
    double seconds = 0;
    double nanosecondsPerCall = 0;
};

// Calls `work` in doubling batches until at least `minimumSeconds` have
// passed (after a short warm-up that is not counted), so the clock's
// resolution and the cost of reading it vanish in the average.
template <typename Work>
TimingResult TimeRepeatedly(Work&& work, double minimumSeconds = 0.5)
{
    using Clock = std::chrono::steady_clock;
    for (int i = 0; i < 16; ++i)
        work();
    TimingResult result;
    long long batch = 1;
    const Clock::time_point start = Clock::now();
    while (result.seconds < minimumSeconds) {
        for (long long i = 0; i < batch; ++i)
            work();
        result.calls += batch;
        result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (batch < (1LL << 16))
            batch *= 2;
    }
    result.nanosecondsPerCall = result.seconds * 1e9 / static_cast<double>(result.calls);
    return result;
}

// One line: the time per call, the budget, and the real-time factor, i.e.
// how many times over the work would fit into its budget (above 1: keeps up).
inline void ReportAgainstBudget(const char* name, const TimingResult& result, double budgetNanoseconds)
{
    std::printf("%-44s %12.1f ns/call  budget %12.1f ns  real-time factor %10.1f  (%lld calls, %.2f s)\n",
                name, result.nanosecondsPerCall, budgetNanoseconds,
                budgetNanoseconds / result.nanosecondsPerCall, result.calls, result.seconds);
    std::fflush(stdout);
}

// Keeps a result alive so the compiler cannot drop the work that made it.
template <typename T>
void KeepResult(const T& value)
{
    static volatile unsigned char sink;
    sink = *reinterpret_cast<const volatile unsigned char*>(&value);
    (void)sink;
}
