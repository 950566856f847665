// The system clock's state on Windows, from what the time service tells an
// unprivileged program (platform/time_service.h). A rate adjustment in
// force means the service is steering the clock, so it has a source and
// is in step with it; a running service that applies none may be in step
// or not, and Windows does not say.
#include "audio/system_clock.h"

#include "platform/time_service.h"

SystemClockState ReadSystemClockState()
{
    const TimeServiceFacts facts = ReadTimeServiceFacts();
    SystemClockState state;
    state.source = "Windows time service";
    state.haveFrequency = facts.adjusting;
    state.frequencyPpm = facts.adjustmentPpm;
    if (facts.service != TimeServiceFacts::Service::Running || facts.type == "NoSync")
        state.sync = ClockSync::Unsynchronised;
    else
        state.sync = facts.adjusting ? ClockSync::Synchronised : ClockSync::Unknown;

    state.detail = facts.service == TimeServiceFacts::Service::Absent    ? "no time service (W32Time) installed"
                   : facts.service == TimeServiceFacts::Service::Stopped ? "the time service (W32Time) is stopped"
                                                                         : "the time service (W32Time) runs";
    if (!facts.type.empty())
        state.detail += ", type " + facts.type;
    state.detail += facts.adjusting ? ", adjusting the clock's rate" : ", no rate adjustment applied";
    return state;
}
