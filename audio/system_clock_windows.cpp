// What Windows tells an unprivileged program about its clock: whether the
// time service runs and how it is set to synchronise (the service manager
// and the service's registry settings), and the rate adjustment it applies
// (GetSystemTimeAdjustment). Whether the service is in step right now
// Windows tells only administrators, so a running service that applies
// no adjustment leaves the state unknown.
#include "audio/system_clock.h"

#include <windows.h>

#include <string>

namespace {

enum class ServiceState { Absent, Stopped, Running };

ServiceState TimeServiceState()
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr)
        return ServiceState::Absent;
    SC_HANDLE service = OpenServiceW(manager, L"W32Time", SERVICE_QUERY_STATUS);
    ServiceState state = ServiceState::Absent;
    if (service != nullptr) {
        SERVICE_STATUS status = {};
        if (QueryServiceStatus(service, &status))
            state = status.dwCurrentState == SERVICE_RUNNING ? ServiceState::Running : ServiceState::Stopped;
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return state;
}

// The service's synchronisation type: "NTP", "NT5DS" (the domain),
// "AllSync" or "NoSync"; empty where it cannot be read.
std::string TimeServiceType()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\W32Time\\Parameters", 0, KEY_READ,
                      &key) != ERROR_SUCCESS)
        return "";
    wchar_t value[64] = {};
    DWORD size = sizeof value - sizeof(wchar_t);
    DWORD type = 0;
    std::string text;
    if (RegQueryValueExW(key, L"Type", nullptr, &type, reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS &&
        type == REG_SZ)
        for (const wchar_t* c = value; *c != 0; ++c)
            text += *c < 128 ? static_cast<char>(*c) : '?';
    RegCloseKey(key);
    return text;
}

}  // namespace

SystemClockState ReadSystemClockState()
{
    SystemClockState state;
    state.source = "Windows time service";
    const ServiceState service = TimeServiceState();
    const std::string type = TimeServiceType();
    DWORD adjustment = 0, increment = 0;
    BOOL adjustmentDisabled = TRUE;
    const bool haveAdjustment = GetSystemTimeAdjustment(&adjustment, &increment, &adjustmentDisabled) != 0;

    // With adjustment enabled the service is steering the clock's rate: it
    // has a source and is in step with it to within what it corrects.
    if (haveAdjustment && !adjustmentDisabled && increment > 0) {
        state.haveFrequency = true;
        state.frequencyPpm = (static_cast<double>(adjustment) / increment - 1) * 1e6;
    }
    if (service != ServiceState::Running || type == "NoSync")
        state.sync = ClockSync::Unsynchronised;
    else
        state.sync = state.haveFrequency ? ClockSync::Synchronised : ClockSync::Unknown;

    state.detail = service == ServiceState::Absent    ? "no time service (W32Time) installed"
                   : service == ServiceState::Stopped ? "the time service (W32Time) is stopped"
                                                      : "the time service (W32Time) runs";
    if (!type.empty())
        state.detail += ", type " + type;
    state.detail += haveAdjustment && !adjustmentDisabled ? ", adjusting the clock's rate"
                                                          : ", no rate adjustment applied";
    return state;
}
