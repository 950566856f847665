// The clock estimator's parts held to their headers' contracts: the rows
// held back and let out (meter/held_rows.h, meter/early_bursts.h), the
// line's verdicts on bursts off it (meter/burst_line.h), and the input's
// statistics (meter/input_summary.h).
#include "meter/burst_line.h"
#include "meter/held_rows.h"
#include "meter/input_summary.h"
#include "tests/meter/meter_test_support.h"

#include "common/signal_facts.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace {

// A script of HeldRows calls, one letter each: p put the next row (block
// 0, 1, ...), a hold afresh, h hold, r release, m amend the first row of the
// hold begun afresh (its level becomes 1). What comes out: the blocks in
// order, an amended one marked *.
std::string RunHeldRows(const std::string& script, size_t limit)
{
    HeldRows rows(limit);
    std::string out;
    rows.OnRow([&](const BlockRecord& row) { out += std::to_string(row.block) + (row.level == 1 ? "* " : " "); });
    int64_t next = 0;
    for (const char call : script) {
        if (call == 'p') {
            BlockRecord row;
            row.block = next++;
            rows.Put(row);
        } else if (call == 'a') {
            rows.HoldAfresh();
        } else if (call == 'h') {
            rows.Hold();
        } else if (call == 'r') {
            rows.Release();
        } else if (call == 'm') {
            if (BlockRecord* row = rows.Held(0))
                row->level = 1;
        }
    }
    rows.Release();
    return out;
}

TEST(HeldRows, EveryRowOnceInOrderAmendedOnlyWhileItsHoldLasts)
{
    const struct {
        const char* what;
        const char* script;
        size_t limit;
        const char* out;
    } cases[] = {
        {"no hold: out as put", "ppp", 4, "0 1 2 "},
        {"held, amended, let out together", "pappmpr", 4, "0 1* 2 3 "},
        {"a fresh hold lets out the last one's first", "appapmr", 4, "0 1 2* "},
        {"a hold goes on through hold", "aphpmpr", 4, "0* 1 2 "},
        {"more than the limit let out at once, unamended", "apppppm", 3, "0 1 2 3 4 "},
        {"held again after that, never amendable", "appppphpmr", 3, "0 1 2 3 4 5 "},
        {"released: rows go out as put again", "apprpm", 4, "0 1 2 "},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RunHeldRows(c.script, c.limit), c.out) << c.what;

    HeldRows unobserved(4);
    unobserved.HoldAfresh();
    unobserved.Put(BlockRecord{});
    EXPECT_EQ(unobserved.Held(0), nullptr) << "without an observer nothing is kept";
}

// The meter's rows over whole recordings: every burst's row exactly once,
// in the order of the bursts, none held back for more than MAX_HELD_ROWS
// bursts (a young line's first bursts, then a silence: its rows wait), and
// the young line's rows as measured again: on the line the later ones
// follow.
TEST(EstimatorRows, EachBurstOnceInOrderNeverLongHeld)
{
    const double FRAME_SECONDS = static_cast<double>(FRAME_SAMPLES) / 8000;
    const struct {
        const char* what;
        double ppm;
        double snrDb;
        double silenceAt, silenceSeconds;  // zeros inserted into the recording
    } cases[] = {
        {"clean, 5000 ppm: the first bursts' stretch", 5000, 1e9, 0, 0},
        {"clean, -9000 ppm", -9000, 1e9, 0, 0},
        {"20 dB, 1000 ppm", -1000, 20, 0, 0},
        {"a silence of 300 frames in the young line", 0, 1e9, 0.3, 300 * FRAME_SECONDS},
        // which at 500 ppm is a jump of 51.2 samples: the line starts again
        {"a silence of 100 frames in the young line, 500 ppm", 500, 1e9, 0.5, 100 * FRAME_SECONDS},
        {"3 dB: lines that start again", 0, 3, 0, 0},
    };
    for (const auto& c : cases) {
        RecordingRecipe recipe;
        recipe.ppm = c.ppm;
        recipe.snrDb = c.snrDb;
        recipe.seconds = 20;
        std::vector<int16_t> samples = MakeRecording(recipe);
        const auto silenceAt = static_cast<std::ptrdiff_t>(std::llrint(c.silenceAt * 8000));
        samples.insert(samples.begin() + silenceAt, static_cast<size_t>(std::llrint(c.silenceSeconds * 8000)), 0);

        ClockEstimator meter({8000, 8000, 1500});
        std::vector<BlockRecord> rows;
        meter.OnBlock([&](const BlockRecord& row) { rows.push_back(row); });
        double mostBehind = 0;
        for (size_t at = 0; at < samples.size(); at += FRAME_SAMPLES) {
            meter.Push(samples.data() + at, std::min<size_t>(FRAME_SAMPLES, samples.size() - at));
            // Bursts the audio read so far holds, and how far behind them the rows are.
            const double bursts = meter.SecondsRead() / (FRAME_SECONDS * (1 + c.ppm * 1e-6));
            mostBehind = std::max(mostBehind, bursts - static_cast<double>(rows.size()));
        }
        meter.Finish();
        ASSERT_FALSE(rows.empty()) << c.what;
        for (size_t i = 0; i < rows.size(); ++i)
            ASSERT_EQ(rows[i].block, static_cast<int64_t>(i)) << c.what;
        // The search reads a frame and a burst ahead; a pending burst is one more.
        EXPECT_LE(mostBehind, static_cast<double>(MAX_HELD_ROWS) + 4) << c.what;

        if (c.snrDb < 100)
            continue;
        // Clean: the first bursts' rows as measured again, with the stretch
        // the line found (before it, the fit of their fraction was off by
        // up to 0.1 sample at 1 %): their phase delays on the line through
        // the later ones of their intercept, their two rulers as far apart
        // as the later ones'.
        SegmentedLineFit later;
        double rulersApart = 0;
        for (const BlockRecord& row : rows) {
            if ((row.flags & BLOCK_USED) && row.block >= 20 && row.segment == rows.front().segment) {
                later.Add(static_cast<long double>(row.block), row.linePhaseDelay);
                rulersApart = row.delay - row.phaseDelay;
            }
        }
        if (later.Count() < 10)
            continue;
        for (const BlockRecord& row : rows) {
            if ((row.flags & BLOCK_USED) && row.block < YOUNG_BLOCKS) {
                EXPECT_NEAR(row.linePhaseDelay, static_cast<double>(later.Predict(static_cast<long double>(row.block))), 2e-4)
                    << c.what << ", block " << row.block;
                EXPECT_NEAR(row.delay - row.phaseDelay, rulersApart, 2e-3) << c.what << ", block " << row.block;
            }
        }
    }
}

// The line fed exact bursts, some of them shifted (samples) or lost (NaN):
// its verdicts on the rows, the jumps it reports, where a new intercept
// starts, and the delays the rows give, an outlier's too.
struct LineRun {
    std::vector<BlockRecord> rows;
    std::vector<double> delays;  // fed, by block (NaN: lost)
    std::vector<JumpEvent> jumps;
    ClockEstimate estimate;
};

constexpr double LOST = std::numeric_limits<double>::quiet_NaN();
constexpr int64_t LINE_BLOCKS = 60;

LineRun FeedLine(double ppm, const std::function<double(int64_t)>& shift)
{
    constexpr double CARRIER = 1500, RATE = 8000;
    constexpr int64_t ORIGIN = 1000;
    const double wavelength = RATE / CARRIER;
    BurstLine line(8000, static_cast<long double>(CARRIER) / static_cast<long double>(RATE));
    line.Start(ORIGIN, 1000);
    LineRun run;
    const auto take = [&](const LineVerdicts& verdicts) {
        for (const LineVerdict& verdict : verdicts) {
            run.rows.push_back(verdict.row);
            if (verdict.jumped)
                run.jumps.push_back(verdict.jump);
        }
    };
    for (int64_t k = 0; k < LINE_BLOCKS; ++k) {
        if (std::isnan(shift(k)))
            continue;
        const double delay = FRAME_SAMPLES * ppm * 1e-6 * static_cast<double>(k) + shift(k);
        run.delays.resize(static_cast<size_t>(k), LOST);
        run.delays.push_back(delay);
        BurstMeasurement burst;
        burst.block = k;
        burst.position = static_cast<double>(ORIGIN + FRAME_SAMPLES * k) + delay;
        burst.lag = static_cast<int64_t>(std::floor(burst.position));
        burst.phase = std::remainder(-2 * static_cast<double>(PI) * delay / wavelength, 2 * static_cast<double>(PI));
        burst.magnitude = 1000;
        take(line.Consider(burst));
    }
    take(line.Finish());
    run.estimate = line.Estimate();
    return run;
}

TEST(BurstLine, OutliersJumpsAndRestarts)
{
    const struct {
        const char* what;
        double ppm;
        std::function<double(int64_t)> shift;
        std::vector<int64_t> outliers;
        std::vector<double> jumps;  // samples, in order
        int64_t newSegments;        // intercepts after the first
    } cases[] = {
        {"exact", 100, [](int64_t) { return 0.0; }, {}, {}, 0},
        {"one burst 3 samples late", 100, [](int64_t k) { return k == 20 ? 3.0 : 0.0; }, {20}, {}, 0},
        {"one burst off by the phase alone", 100, [](int64_t k) { return k == 20 ? 0.2 : 0.0; }, {20}, {}, 0},
        {"3 samples dropped: the same intercept", 100, [](int64_t k) { return k >= 20 ? -3.0 : 0.0; }, {}, {-3}, 0},
        {"0.4 of a sample lost: a new intercept", 100, [](int64_t k) { return k >= 20 ? -0.4 : 0.0; }, {}, {-0.4}, 1},
        {"four rejected in a row: the line starts again", 100,
         [](int64_t k) { return k >= 20 && k < 24 ? (k % 2 ? -4.0 : 3.0) : 0.0; }, {20, 21, 22, 23}, {}, 1},
        {"a jump among the first bursts: the line starts again", 100, [](int64_t k) { return k >= 3 ? 7.0 : 0.0; }, {}, {7}, 1},
        {"a burst lost among the first, 5000 ppm: no jump", 5000, [](int64_t k) { return k == 3 ? LOST : 0.0; }, {}, {}, 0},
        {"a jump across a burst lost among the first", 5000, [](int64_t k) { return k == 3 ? LOST : k > 3 ? 2.0 : 0.0; }, {}, {2}, 1},
        {"a jump across many lost among the first: started again, none claimed", 500,
         [](int64_t k) { return k >= 3 && k < 30 ? LOST : k >= 30 ? -13.824 : 0.0; }, {}, {}, 1},
    };
    for (const auto& c : cases) {
        const LineRun run = FeedLine(c.ppm, c.shift);
        std::vector<int64_t> outliers;
        for (size_t i = 0; i < run.rows.size(); ++i) {
            if (i > 0) {
                EXPECT_GT(run.rows[i].block, run.rows[i - 1].block) << c.what;
            }
            const double fed = run.delays[static_cast<size_t>(run.rows[i].block)];
            EXPECT_NEAR(run.rows[i].delay, fed, 1e-6) << c.what << ", block " << run.rows[i].block;
            EXPECT_NEAR(run.rows[i].phaseDelay, fed, 1e-6) << c.what << ", block " << run.rows[i].block;
            if (run.rows[i].flags & BLOCK_OUTLIER) {
                outliers.push_back(run.rows[i].block);
            } else {
                EXPECT_TRUE(run.rows[i].flags & BLOCK_USED) << c.what << ", block " << run.rows[i].block;
            }
        }
        EXPECT_EQ(run.rows.back().block, LINE_BLOCKS - 1) << c.what;
        EXPECT_EQ(outliers, c.outliers) << c.what;
        ASSERT_EQ(run.jumps.size(), c.jumps.size()) << c.what;
        for (size_t j = 0; j < c.jumps.size(); ++j)
            EXPECT_NEAR(run.jumps[j].samples, c.jumps[j], 1e-6) << c.what;
        EXPECT_EQ(run.rows.back().segment - run.rows.front().segment, c.newSegments) << c.what;
        ASSERT_TRUE(run.estimate.valid) << c.what;
        EXPECT_NEAR(run.estimate.ppm, c.ppm, 1e-6) << c.what;
    }
}

// A second of samples at 8000 Hz, pushed in pieces of an odd size: the
// sign changes count across the pieces, and across zeros.
TEST(InputStatistics, LevelPeakCrossingsAndClipping)
{
    const struct {
        const char* what;
        std::function<int16_t(size_t)> sample;
        size_t piece;
        double rmsDbfs, peakDbfs, zeroCrossingHz;
        uint64_t clipped;
    } cases[] = {
        {"silence", [](size_t) { return int16_t{0}; }, 8000, NO_LEVEL_DBFS, NO_LEVEL_DBFS, 0, 0},
        {"half scale at the Nyquist frequency", [](size_t i) { return static_cast<int16_t>(i % 2 ? -16384 : 16384); }, 3,
         20 * std::log10(0.5), 20 * std::log10(0.5), 4000, 0},
        {"+1, 0, 0, -1, 0, 0, ...", [](size_t i) { return static_cast<int16_t>(i % 3 ? 0 : ((i / 3) % 2 ? -1 : 1)); }, 5,
         10 * std::log10(1.0 / 3 / 32768 / 32768), 20 * std::log10(1.0 / 32768), 4000.0 / 3, 0},
        {"a full-scale 1000 Hz square wave", [](size_t i) { return static_cast<int16_t>((i / 4) % 2 ? -32768 : 32767); }, 7,
         20 * std::log10(32767.5 / 32768), 0, 1000, 8000},
    };
    for (const auto& c : cases) {
        std::vector<int16_t> samples(8000);
        for (size_t i = 0; i < samples.size(); ++i)
            samples[i] = c.sample(i);
        InputStatistics statistics;
        for (size_t at = 0; at < samples.size(); at += c.piece)
            statistics.Add(samples.data() + at, std::min(c.piece, samples.size() - at));
        const InputSummary summary = statistics.Summary(8000);
        EXPECT_EQ(summary.samples, 8000u) << c.what;
        EXPECT_NEAR(summary.rmsDbfs, c.rmsDbfs, 1e-3) << c.what;
        EXPECT_NEAR(summary.peakDbfs, c.peakDbfs, 1e-3) << c.what;
        EXPECT_NEAR(summary.zeroCrossingHz, c.zeroCrossingHz, 1) << c.what;
        EXPECT_EQ(summary.clippedSamples, c.clipped) << c.what;
    }
}

}  // namespace
