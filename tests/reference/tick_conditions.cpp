#include "tests/reference/tick_conditions.h"

#include "meter/reference/station_format.h"

const char* ConditionName(TickCondition condition)
{
    switch (condition) {
    case TickCondition::Clean: return "clean";
    case TickCondition::Noise: return "noise 10 dB";
    case TickCondition::Fading: return "noise, fading, 2nd path";
    case TickCondition::Hard: return "all, wander, jump";
    }
    return "?";
}

const char* CallSignOf(TimeStation station)
{
    return CallSign(station);
}

Reception MakeReception(TimeStation station, TickCondition condition, uint64_t seed, double seconds)
{
    Reception r;
    r.clock.nominalRate = 8000;
    r.clock.ppm = 12.345;
    r.clock.startSeconds = 60 * 7 + 3.37;
    r.pitchOffsetHz = 420;
    r.seed = seed;
    StationArrival a;
    a.station = station;
    a.dut1Tenths = -3;
    if (condition != TickCondition::Clean)
        r.snrDb = 10;
    if (condition == TickCondition::Fading || condition == TickCondition::Hard) {
        a.fading = FadingKind::Rayleigh;
        a.fadingSeconds = 3;
        a.echoLevel = 0.5;
        a.echoDelaySeconds = 0.001;
    }
    if (condition == TickCondition::Hard) {
        a.wanderRmsSeconds = 50e-6;
        a.wanderTimeScaleSeconds = 1200;
        a.jumpSeconds = 0.0003;
        a.jumpAtSeconds = r.clock.startSeconds + 0.4 * seconds;
    }
    r.stations.push_back(a);
    return r;
}
