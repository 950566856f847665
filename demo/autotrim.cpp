// autotrim.exe: does what the user of the receiver does by eye. It moves
// the running receiver's clock trackbar and watches the peak label until it
// knows where the peak stands still, then leaves the trackbar there.
//
//   autotrim RATE observe POSITION SECONDS   set POSITION, print the drift there
//   autotrim RATE find                       sweep, confirm, watch the still peak,
//                                            leave the trackbar there, print it
//
// RATE is the receiver's sample rate (one block is 1024 of its samples). The
// results are lines starting with "result:"; everything else is progress.
//
// The drift is linear in the trackbar position and crosses zero where the
// correction equals the clock mismatch. A single trackbar step changes the
// drift by only 0.001 lags per block, far too little to see near the zero
// (a lag in 1000 blocks), so the zero is not searched for by watching a
// nearly still peak. A coarse sweep over the whole range finds it to some
// tens of steps; two fine sweeps then measure the drift on both sides of
// it, far enough away for the peak to cross a few lags, and fit the line.
// The error of such a measurement grows with the distance from the zero
// (the moments of the lag steps are known to about half a block), so the
// second fine sweep, closer in and longer, weighs most in the final fit
// through the measurements of both.
//
// Then the trim confirms itself, because a single bad measurement (a lag
// gained or lost in the audio looks like drift) can put the fit 15 steps
// off. The drift's slope is known (demo::DriftPerStep), so a fresh pair of
// measurements on both sides of the position found each say alone where
// the peak stands still: they must agree with each other and with the fit,
// or the pair is taken again around what it found. Last, the peak is
// watched at the position for as many blocks as the waterfall has rows (so
// the screenshot after it shows the still trace): 15 steps off, the peak
// would cross three lags in that time. If it moves, the trim starts again
// from where that drift points.
#include "common/ui_facts.h"
#include "demo/drift.h"
#include "receiver/dsp/correlator.h"

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

// The receiver's main dialog, its controls and its trackbar's figures come
// from common/ui_facts.h, the block length from the correlator.
constexpr DWORD WINDOW_TIMEOUT_MS = 30000;
constexpr DWORD READ_INTERVAL_MS = 20;

// After the trackbar moves, the blocks still in the capture queue and the
// two older blocks the correlation reads were resampled the old way.
constexpr double SETTLE_SECONDS = 0.8;

// One sweep: trackbar positions (absolute for the coarse sweep, relative to
// the position found so far for the fine ones), how long each is watched,
// and the largest step of the peak that counts as drift (DriftMeter): near
// the still position the peak moves a lag at a time.
struct Sweep {
    const char* name;
    std::vector<int> positions;
    double seconds;
    int maxDriftStep;
};

const Sweep COARSE_SWEEP{"coarse", {0, 500, 1000, 1500, 2000}, 2.5, 3};
const Sweep FINE_SWEEPS[] = {{"fine", {-100, 100}, 6.0, 1}, {"finer", {-50, 50}, 10.0, 1}};
constexpr int WATCH_MAX_DRIFT_STEP = 3;

// The confirming pair: at another distance than the finer sweep (about four
// lags crossed on each side), so that a flaw tied to one distance does not
// confirm itself. Each side is good to about half a step on a quiet
// loopback; one 3 steps from the fit is a bad measurement or a bad fit
// (the demo's own tolerance is 2 steps). A side whose audio broke up more
// often than CONFIRM_TOLERATED_JUMPS is taken once more: cut that short,
// the pieces cross too few lags to time.
const Sweep CONFIRM_SWEEP{"confirm", {-40, 40}, 12.0, 1};
constexpr double CONFIRM_TOLERANCE_STEPS = 3.0;
constexpr int CONFIRM_ROUNDS = 4;
constexpr int CONFIRM_TOLERATED_JUMPS = 6;
constexpr int CONFIRM_ATTEMPTS = 2;

// The still watch (demo::StoodStill) lasts the waterfall's 200 rows. A
// watch that fails starts the confirmation again, up to STILL_WATCHES in
// all.
constexpr int STILL_BLOCKS = 200;
constexpr int STILL_WATCHES = 3;

// A sweep's measurement during which the audio broke up more often than
// this is taken again (up to MEASUREMENT_ATTEMPTS times in all, then the
// one with the fewest jumps is used): on a busy machine the loopback drops
// samples. The confirmation and the still watch judge themselves.
constexpr int TOLERATED_JUMPS = 1;
constexpr int MEASUREMENT_ATTEMPTS = 3;

class Clock {
public:
    Clock()
    {
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
    }
    double Seconds() const
    {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
    }

private:
    LARGE_INTEGER frequency{}, start{};
};

// The receiver's window, reached from this process by window messages.
class Receiver {
public:
    bool Find()
    {
        const DWORD begin = GetTickCount();
        while ((dialog = FindWindowA(nullptr, RECEIVER_TITLE)) == nullptr) {
            if (GetTickCount() - begin > WINDOW_TIMEOUT_MS)
                return false;
            Sleep(100);
        }
        peakLabel = GetDlgItem(dialog, ID_PEAK_LABEL);
        trackbar = GetDlgItem(dialog, ID_CLOCK_TRACKBAR);
        return peakLabel != nullptr && trackbar != nullptr;
    }

    bool Alive() const { return IsWindow(dialog) != FALSE; }

    // As a drag of the thumb does it: the thumb moves, then the dialog is
    // told with TB_THUMBTRACK and the position in the high word.
    void SetPosition(int position)
    {
        SendMessageA(trackbar, TBM_SETPOS, TRUE, position);
        SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, position), reinterpret_cast<LPARAM>(trackbar));
    }

    // The lag in "Correlation peak at  N samples"; false before the first
    // block has replaced the initial "Correlation peak".
    bool ReadPeakLag(int& lag) const
    {
        char text[128] = "";
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutA(peakLabel, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                                 2000, &result))
            return false;
        const char* number = std::strstr(text, " at ");
        if (number == nullptr)
            return false;
        char* end = nullptr;
        const long value = std::strtol(number + 4, &end, 10);
        if (end == number + 4 || value < 0 || value >= demo::PEAK_LAGS)
            return false;
        lag = static_cast<int>(value);
        return true;
    }

private:
    HWND dialog = nullptr, peakLabel = nullptr, trackbar = nullptr;
};

class Trimmer {
public:
    Trimmer(Receiver& receiver, int sampleRate) : receiver(receiver), sampleRate(sampleRate) {}

    bool Observe(int position, double seconds);
    bool Find();

private:
    bool Measure(const char* phase, int position, double seconds, demo::DriftMeter& meter);
    std::optional<demo::DriftMeter> MeasureSteadily(const char* phase, int position, double seconds,
                                                    int maxDriftStep, int toleratedJumps = TOLERATED_JUMPS,
                                                    int attempts = MEASUREMENT_ATTEMPTS);
    std::optional<double> Run(const Sweep& sweep, int centre, std::vector<demo::DriftAtPosition>& drifts);
    std::optional<double> Sweeps();
    std::optional<double> Confirm(double found);
    std::optional<demo::DriftMeter> WatchStill(int position);
    static int Clamped(double position);
    double Blocks(double seconds) const { return seconds * sampleRate / BLOCK_LENGTH; }
    double PerBlock(double lagsPerSecond) const { return lagsPerSecond * BLOCK_LENGTH / sampleRate; }
    static double CorrectionPercent(double position) { return (CLOCK_TRACKBAR_CENTRE - position) / CLOCK_STEPS_PER_UNIT * 100.0; }
    bool Fail(const char* why);

    Receiver& receiver;
    int sampleRate;
    Clock clock;
    double plannedSeconds = 0;
    double doneSeconds = 0;
};

bool Trimmer::Fail(const char* why)
{
    std::fprintf(stderr, "autotrim: %s\n", why);
    return false;
}

// Sets the position, lets the old correction drain away, then reads the
// peak label for `seconds`, printing where it stands in the plan.
bool Trimmer::Measure(const char* phase, int position, double seconds, demo::DriftMeter& meter)
{
    const double firstBlock = Blocks(doneSeconds) + 1;
    doneSeconds += SETTLE_SECONDS + seconds;
    std::printf("  %-7s position %4d (correction %+.3f %%), blocks %4.0f-%4.0f of %.0f: ", phase, position,
                CorrectionPercent(position), firstBlock, Blocks(doneSeconds), Blocks(plannedSeconds));
    std::fflush(stdout);

    receiver.SetPosition(position);
    const double settled = clock.Seconds() + SETTLE_SECONDS;
    while (clock.Seconds() < settled)
        Sleep(READ_INTERVAL_MS);
    const double end = settled + seconds;
    for (double now = clock.Seconds(); now < end; now = clock.Seconds()) {
        if (!receiver.Alive())
            return Fail("the receiver's window has gone");
        int lag = 0;
        if (receiver.ReadPeakLag(lag))
            meter.Add(now, lag);
        Sleep(READ_INTERVAL_MS);
    }
    std::printf("peak moves %+.4f lags per block", PerBlock(meter.LagsPerSecond()));
    if (meter.Jumps() > 0)
        std::printf(" (%d jump%s in the audio left out)", meter.Jumps(), meter.Jumps() == 1 ? "" : "s");
    std::printf("\n");
    std::fflush(stdout);
    if (meter.SecondsCovered() < seconds / 2)
        return Fail("the peak label did not show a lag for most of the time: is the receiver capturing?");
    return true;
}

std::optional<demo::DriftMeter> Trimmer::MeasureSteadily(const char* phase, int position, double seconds,
                                                         int maxDriftStep, int toleratedJumps, int attempts)
{
    std::optional<demo::DriftMeter> best;
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        demo::DriftMeter meter(maxDriftStep);
        if (!Measure(phase, position, seconds, meter))
            return std::nullopt;
        if (!best || meter.Jumps() < best->Jumps())
            best = meter;
        if (meter.Jumps() <= toleratedJumps)
            break;
        if (attempt < attempts) {
            std::printf("  the audio broke up %d times (is the machine busy?): measuring again\n", meter.Jumps());
            plannedSeconds += SETTLE_SECONDS + seconds;
        } else
            std::printf("  the audio keeps breaking up: going on with the steadiest measurement\n");
    }
    return best;
}

bool Trimmer::Observe(int position, double seconds)
{
    // One long look: its jumps are left out, and a shot of the waterfall
    // follows, so it is not taken again.
    plannedSeconds = SETTLE_SECONDS + seconds;
    demo::DriftMeter meter(WATCH_MAX_DRIFT_STEP);
    if (!Measure("watch", position, seconds, meter))
        return false;
    std::printf("result: %.4f lags per block\n", PerBlock(meter.LagsPerSecond()));
    return true;
}

// Adds the drifts of one sweep around `centre` to `drifts` and returns the
// still position fitted to all of them, or nothing (then the reason has
// been printed). A drift is known to about (distance from the still
// position) / (time watched), so that is what weighs the measurements.
std::optional<double> Trimmer::Run(const Sweep& sweep, int centre, std::vector<demo::DriftAtPosition>& drifts)
{
    for (int offset : sweep.positions) {
        const int position = centre + offset;
        const std::optional<demo::DriftMeter> meter =
            MeasureSteadily(sweep.name, position, sweep.seconds, sweep.maxDriftStep);
        if (!meter)
            return std::nullopt;
        const double distance = std::max(std::abs(offset), 10);
        drifts.push_back({position, meter->LagsPerSecond(), std::pow(sweep.seconds / distance, 2)});
    }
    const std::optional<double> still = demo::StillPosition(drifts);
    if (!still) {
        Fail("the peak does not follow the trackbar: does the transmitter's signal reach the receiver?");
        return std::nullopt;
    }
    if (*still < CLOCK_TRACKBAR_MINIMUM - 100 || *still > CLOCK_TRACKBAR_MAXIMUM + 100) {
        Fail("the peak would stand still beyond the trackbar's range: the clocks differ by more than 0.2 %");
        return std::nullopt;
    }
    std::printf("  the drift is zero at position %.1f\n", *still);
    return still;
}

int Trimmer::Clamped(double position)
{
    return std::clamp(static_cast<int>(std::lround(position)), CLOCK_TRACKBAR_MINIMUM, CLOCK_TRACKBAR_MAXIMUM);
}

// The coarse sweep, then the fine ones, each around what the one before
// found: the still position fitted to the fine sweeps.
std::optional<double> Trimmer::Sweeps()
{
    std::printf("coarse sweep over the whole trackbar range:\n");
    std::vector<demo::DriftAtPosition> coarse, fine;
    std::optional<double> still = Run(COARSE_SWEEP, 0, coarse);
    for (const Sweep& sweep : FINE_SWEEPS) {
        if (!still)
            return std::nullopt;
        // Keep the whole sweep inside the trackbar's range.
        const int lowest = CLOCK_TRACKBAR_MINIMUM - *std::min_element(sweep.positions.begin(), sweep.positions.end());
        const int highest = CLOCK_TRACKBAR_MAXIMUM - *std::max_element(sweep.positions.begin(), sweep.positions.end());
        const int centre = std::clamp(static_cast<int>(std::lround(*still)), lowest, highest);
        std::printf("%s sweep around position %d:\n", sweep.name, centre);
        still = Run(sweep, centre, fine);
    }
    return still;
}

// Pairs around `found` until one confirms it (demo::JudgePair). Nothing
// when none does in CONFIRM_ROUNDS.
std::optional<double> Trimmer::Confirm(double found)
{
    const double driftPerStep = demo::DriftPerStep(sampleRate);
    const double pairSeconds = CONFIRM_SWEEP.positions.size() * (SETTLE_SECONDS + CONFIRM_SWEEP.seconds);
    for (int round = 1; round <= CONFIRM_ROUNDS; ++round) {
        if (round > 1)
            plannedSeconds += pairSeconds;
        const int centre = std::clamp(static_cast<int>(std::lround(found)), CLOCK_TRACKBAR_MINIMUM + 40,
                                      CLOCK_TRACKBAR_MAXIMUM - 40);
        std::printf("confirming position %.1f:\n", found);
        std::vector<demo::DriftAtPosition> sides;
        for (int offset : CONFIRM_SWEEP.positions) {
            const std::optional<demo::DriftMeter> meter =
                MeasureSteadily(CONFIRM_SWEEP.name, centre + offset, CONFIRM_SWEEP.seconds,
                                CONFIRM_SWEEP.maxDriftStep, CONFIRM_TOLERATED_JUMPS, CONFIRM_ATTEMPTS);
            if (!meter)
                return std::nullopt;
            sides.push_back({centre + offset, meter->LagsPerSecond()});
        }
        const demo::PairVerdict verdict =
            demo::JudgePair(found, sides[0], sides[1], driftPerStep, CONFIRM_TOLERANCE_STEPS);
        std::printf("  the sides put it at %.1f and %.1f\n", demo::ImpliedStillPosition(sides[0], driftPerStep),
                    demo::ImpliedStillPosition(sides[1], driftPerStep));
        if (verdict.confirmed) {
            std::printf("  confirmed: position %.1f\n", verdict.position);
            return verdict.position;
        }
        std::printf("  not within %.0f steps of %.1f: measuring again around %.1f\n", CONFIRM_TOLERANCE_STEPS, found,
                    verdict.position);
        found = verdict.position;
    }
    Fail("no pair of measurements confirmed the still position: is the machine too busy?");
    return std::nullopt;
}

std::optional<demo::DriftMeter> Trimmer::WatchStill(int position)
{
    const double seconds = STILL_BLOCKS * static_cast<double>(BLOCK_LENGTH) / sampleRate;
    demo::DriftMeter meter(1);
    if (!Measure("still", position, seconds, meter))
        return std::nullopt;
    const int moved = meter.LargestSpread();
    std::printf("  over %.0f blocks the peak moved %d lag%s\n", Blocks(meter.SecondsCovered()), moved,
                moved == 1 ? "" : "s");
    return meter;
}

bool Trimmer::Find()
{
    auto duration = [](const Sweep& sweep) { return sweep.positions.size() * (SETTLE_SECONDS + sweep.seconds); };
    plannedSeconds = duration(COARSE_SWEEP) + duration(CONFIRM_SWEEP) + SETTLE_SECONDS +
                     STILL_BLOCKS * static_cast<double>(BLOCK_LENGTH) / sampleRate;
    for (const Sweep& sweep : FINE_SWEEPS)
        plannedSeconds += duration(sweep);

    std::optional<double> still = Sweeps();
    for (int watch = 1; still && watch <= STILL_WATCHES; ++watch) {
        still = Confirm(*still);
        if (!still)
            return false;
        const int position = Clamped(*still);
        std::printf("watching the peak at position %d:\n", position);
        const std::optional<demo::DriftMeter> meter = WatchStill(position);
        if (!meter)
            return false;
        if (demo::StoodStill(*meter, demo::DriftPerStep(sampleRate))) {
            std::printf("result: position %d\n", position);
            return true;
        }
        // The drift seen points to the position to confirm next.
        still = demo::ImpliedStillPosition({position, meter->LagsPerSecond()}, demo::DriftPerStep(sampleRate));
        if (watch < STILL_WATCHES) {
            std::printf("  the peak drifts: trimming again from position %.1f\n", *still);
            plannedSeconds += duration(CONFIRM_SWEEP) + SETTLE_SECONDS +
                              STILL_BLOCKS * static_cast<double>(BLOCK_LENGTH) / sampleRate;
        }
    }
    if (still)
        Fail("the peak would not stand still at any position confirmed: is the machine too busy?");
    return false;
}

int Usage()
{
    std::fprintf(stderr, "usage: autotrim RATE observe POSITION SECONDS | autotrim RATE find\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return Usage();
    const int sampleRate = std::atoi(argv[1]);
    const std::string command = argv[2];
    if (sampleRate <= 0)
        return Usage();

    Receiver receiver;
    if (!receiver.Find()) {
        std::fprintf(stderr, "autotrim: no window titled \"%s\" within %lu s\n", RECEIVER_TITLE,
                     static_cast<unsigned long>(WINDOW_TIMEOUT_MS / 1000));
        return 1;
    }
    Trimmer trimmer(receiver, sampleRate);
    if (command == "observe" && argc == 5) {
        const int position = std::atoi(argv[3]);
        const double seconds = std::atof(argv[4]);
        if (position < CLOCK_TRACKBAR_MINIMUM || position > CLOCK_TRACKBAR_MAXIMUM || !(seconds > 0))
            return Usage();
        return trimmer.Observe(position, seconds) ? 0 : 1;
    }
    if (command == "find" && argc == 3)
        return trimmer.Find() ? 0 : 1;
    return Usage();
}
