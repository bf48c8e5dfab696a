#include "platform/win32/windows_api.h"

namespace platform {

HANDLE RegisterEventSourceW(const char16_t* source) {
    return win32::Ours(::RegisterEventSourceW(nullptr, win32::Wide(source)));
}

BOOL ReportEventW(HANDLE eventLog, WORD type, DWORD eventId, const char16_t* text) {
    const wchar_t* strings[] = {win32::Wide(text)};
    return ::ReportEventW(win32::Win(eventLog), type, 0, eventId, nullptr, 1, 0, strings, nullptr);
}

BOOL DeregisterEventSource(HANDLE eventLog) { return ::DeregisterEventSource(win32::Win(eventLog)); }

}  // namespace platform
