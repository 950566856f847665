// What Windows tells an unprivileged program about the clock's keeper: the
// time service (W32Time) from the service manager and its registry
// settings, and the rate adjustment applied to the clock
// (GetSystemTimeAdjustment). Whether the service is in step right now
// Windows tells only administrators.
#pragma once

#include <string>

struct TimeServiceFacts {
    enum class Service { Absent, Stopped, Running } service = Service::Absent;
    std::string type;  // "NTP", "NT5DS" (the domain), "AllSync", "NoSync"; empty: unreadable
    bool adjusting = false;  // a rate adjustment is applied to the clock
    double adjustmentPpm = 0;
};

TimeServiceFacts ReadTimeServiceFacts();
