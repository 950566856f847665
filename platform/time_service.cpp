#include "platform/time_service.h"

#include <windows.h>

namespace {

TimeServiceFacts::Service ServiceState()
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr)
        return TimeServiceFacts::Service::Absent;
    SC_HANDLE service = OpenServiceW(manager, L"W32Time", SERVICE_QUERY_STATUS);
    TimeServiceFacts::Service state = TimeServiceFacts::Service::Absent;
    if (service != nullptr) {
        SERVICE_STATUS status = {};
        if (QueryServiceStatus(service, &status))
            state = status.dwCurrentState == SERVICE_RUNNING ? TimeServiceFacts::Service::Running
                                                              : TimeServiceFacts::Service::Stopped;
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return state;
}

std::string ServiceType()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\W32Time\\Parameters", 0, KEY_READ,
                      &key) != ERROR_SUCCESS)
        return "";
    wchar_t value[64] = {};
    // One character short, so that the text ends in a zero whatever is read.
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

TimeServiceFacts ReadTimeServiceFacts()
{
    TimeServiceFacts facts;
    facts.service = ServiceState();
    facts.type = ServiceType();
    DWORD adjustment = 0, increment = 0;
    BOOL disabled = TRUE;
    if (GetSystemTimeAdjustment(&adjustment, &increment, &disabled) && !disabled && increment > 0) {
        facts.adjusting = true;
        facts.adjustmentPpm = (static_cast<double>(adjustment) / increment - 1) * 1e6;
    }
    return facts;
}
