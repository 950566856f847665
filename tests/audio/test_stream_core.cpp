// What both backends' streams share: the life's moves (a table of every
// state against every move) and the timeline's bookkeeping (xruns at the
// position, segments after them, the bound on untaken clock points).
#include "audio/stream_life.h"
#include "audio/stream_timeline.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

StreamLife LifeIn(StreamState state)
{
    StreamLife life;
    switch (state) {
    case StreamState::Ready: break;
    case StreamState::Running: life.Run(); break;
    case StreamState::Ending: life.End(); break;
    case StreamState::Lost: life.Lose("gone"); break;
    case StreamState::Stopped: life.Stop(); break;
    }
    EXPECT_EQ(life.State(), state);
    return life;
}

TEST(StreamLife, EveryStateAgainstEveryMove)
{
    using S = StreamState;
    const struct {
        S from;
        S afterRun, afterEnd, afterLose, afterStop;
    } cases[] = {
        {S::Ready, S::Running, S::Ending, S::Lost, S::Stopped},
        {S::Running, S::Running, S::Ending, S::Lost, S::Stopped},
        {S::Ending, S::Running, S::Ending, S::Lost, S::Stopped},
        {S::Lost, S::Lost, S::Lost, S::Lost, S::Stopped},
        {S::Stopped, S::Stopped, S::Stopped, S::Stopped, S::Stopped},
    };
    const std::function<void(StreamLife&)> moves[] = {
        [](StreamLife& l) { l.Run(); }, [](StreamLife& l) { l.End(); }, [](StreamLife& l) { l.Lose("again"); },
        [](StreamLife& l) { l.Stop(); }};
    for (const auto& c : cases) {
        const S expected[] = {c.afterRun, c.afterEnd, c.afterLose, c.afterStop};
        for (int move = 0; move < 4; ++move) {
            StreamLife life = LifeIn(c.from);
            moves[move](life);
            EXPECT_EQ(life.State(), expected[move]) << "from " << static_cast<int>(c.from) << ", move " << move;
            EXPECT_EQ(life.Usable(), expected[move] == S::Ready || expected[move] == S::Running || expected[move] == S::Ending);
        }
    }
}

TEST(StreamLife, TheFirstWordsStayAndStopReleasesOnce)
{
    StreamLife life;
    life.Lose("the device failed while reading");
    life.Lose("the stream was stopped");
    EXPECT_EQ(life.Words(), "the device failed while reading");
    EXPECT_TRUE(life.Stop());   // a lost stream's device is still released
    EXPECT_FALSE(life.Stop());  // once
    StreamLife stopped;
    stopped.Stop();
    stopped.Lose("the stream was stopped");  // a call after the stop says why it failed
    EXPECT_EQ(stopped.Words(), "the stream was stopped");
    EXPECT_EQ(stopped.State(), StreamState::Stopped);
}

TEST(StreamTimeline, XrunsAtThePositionStartSegments)
{
    StreamTimeline timeline(8000);
    timeline.Advance(1000);
    timeline.AddClockPoint(1000, 1.0);
    timeline.AddXrun();
    timeline.Advance(600);
    timeline.AddClockPoint(1600, 2.0);
    timeline.AddXrun();
    const std::vector<AudioXrun> xruns = timeline.TakeXruns();
    ASSERT_EQ(xruns.size(), 2u);
    EXPECT_EQ(xruns[0].frame, 1000u);
    EXPECT_DOUBLE_EQ(xruns[1].seconds, 0.2);
    const std::vector<AudioClockPoint> points = timeline.TakeClockPoints();
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[0].segment, 0u);
    EXPECT_EQ(points[1].segment, 1u);
    EXPECT_TRUE(timeline.TakeXruns().empty());
    EXPECT_FALSE(timeline.PointsWaiting());
}

TEST(StreamTimeline, UntakenClockPointsStayBounded)
{
    StreamTimeline timeline(8000);
    const size_t added = StreamTimeline::CLOCK_POINT_LIMIT + 10;
    for (size_t i = 0; i < added; ++i)
        timeline.AddClockPoint(i, static_cast<double>(i));
    const std::vector<AudioClockPoint> points = timeline.TakeClockPoints();
    // The older half went when the limit was reached; the newest are kept.
    EXPECT_EQ(points.size(), StreamTimeline::CLOCK_POINT_LIMIT / 2 + 10);
    EXPECT_EQ(points.back().frames, added - 1);
    EXPECT_EQ(points.front().frames, StreamTimeline::CLOCK_POINT_LIMIT / 2);
}

}  // namespace
