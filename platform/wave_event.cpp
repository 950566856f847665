#include "platform/wave_event.h"

WaveEvent::WaveEvent() : handle(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}

WaveEvent::~WaveEvent()
{
    if (handle != nullptr)
        CloseHandle(handle);
}

bool WaveEvent::Wait(int timeoutMs)
{
    if (handle == nullptr)
        return false;
    return WaitForSingleObject(handle, static_cast<DWORD>(timeoutMs < 0 ? 0 : timeoutMs)) == WAIT_OBJECT_0;
}

double PerformanceCounterSeconds()
{
    static const double ticksPerSecond = [] {
        LARGE_INTEGER frequency{};
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(frequency.QuadPart);
    }();
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / ticksPerSecond;
}
