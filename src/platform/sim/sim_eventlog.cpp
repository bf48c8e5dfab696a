// The Application event log: sources registered by name (registered in the registry or not, as
// Windows accepts both) and the events reported through them, kept in order for the tests.
#include "platform/eventlog.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_state.h"

namespace sim::detail {

std::u16string EventSourceTarget(platform::HANDLE handle) {
    const auto found = M().eventSources.find(reinterpret_cast<std::uintptr_t>(handle));
    return found != M().eventSources.end() ? found->second : std::u16string();
}

}  // namespace sim::detail

namespace sim {

using namespace detail;

const std::vector<Event>& Events() { return M().events; }
int OpenEventSources() { return static_cast<int>(M().eventSources.size()); }

}  // namespace sim

namespace platform {

using namespace sim::detail;

HANDLE RegisterEventSourceW(const char16_t* source) {
    DWORD error = 0;
    if (Enter("RegisterEventSourceW", TextOf(source), &error)) {
        SetLastError(error);
        return nullptr;
    }
    if (source == nullptr || *source == u'\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::uintptr_t value = NewHandleValue();
    M().eventSources[value] = source;
    return reinterpret_cast<HANDLE>(value);
}

BOOL ReportEventW(HANDLE eventLog, WORD type, DWORD eventId, const char16_t* text) {
    DWORD error = 0;
    if (Enter("ReportEventW", HandleTarget(eventLog), &error)) return Fail(error);
    Machine& m = M();
    const auto source = m.eventSources.find(reinterpret_cast<std::uintptr_t>(eventLog));
    if (source == m.eventSources.end()) return Fail(ERROR_INVALID_HANDLE);
    if (text == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    m.events.push_back(sim::Event{source->second, type, eventId, text});
    return TRUE;
}

BOOL DeregisterEventSource(HANDLE eventLog) {
    DWORD error = 0;
    if (Enter("DeregisterEventSource", HandleTarget(eventLog), &error)) return Fail(error);
    if (M().eventSources.erase(reinterpret_cast<std::uintptr_t>(eventLog)) == 0) return Fail(ERROR_INVALID_HANDLE);
    return TRUE;
}

}  // namespace platform
