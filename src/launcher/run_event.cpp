#include "launcher/run_event.h"

#include "launcher/registry_write.h"
#include "launcher/run_outcome.h"
#include "platform/eventlog.h"
#include "platform/owners.h"
#include "strings/plain_text.h"

namespace orvane {

namespace {

// eventcreate's own message file: every ID from 1 to 1000 is the one insertion string as it is.
constexpr char16_t MESSAGE_FILE[] = u"%SystemRoot%\\System32\\EventCreate.exe";
constexpr platform::DWORD ALL_TYPES = 7;  // error, warning, information

// An existing registration is left as it is: an administrator may have pointed it elsewhere.
void RegisterSource(bool use64BitView) {
    const platform::DWORD access = platform::KEY_SET_VALUE | (use64BitView ? platform::KEY_WOW64_64KEY : 0);
    platform::ScopedKey source;
    platform::DWORD disposition = 0;
    if (platform::RegCreateKeyExW(platform::HKEY_LOCAL_MACHINE, EVENT_SOURCE_KEY, access, source.Receive(),
                                  &disposition) != 0 ||
        disposition != platform::REG_CREATED_NEW_KEY) {
        return;
    }
    SetTextValue(source.Get(), u"EventMessageFile", MESSAGE_FILE, platform::REG_EXPAND_SZ);
    SetNumberValue(source.Get(), u"TypesSupported", ALL_TYPES);
    SetNumberValue(source.Get(), u"CustomSource", 1);
}

}  // namespace

void ReportRunEvent(const RunRecord& record, LaunchResult result, bool toolExited, const char16_t* logPath) {
    RegisterSource(record.Use64BitView());
    const RunOutcome& outcome = OutcomeOf(result, toolExited);
    const std::uint8_t bigEndian[] = {static_cast<std::uint8_t>(result >> 24), static_cast<std::uint8_t>(result >> 16),
                                      static_cast<std::uint8_t>(result >> 8), static_cast<std::uint8_t>(result)};
    char16_t hex[2 * sizeof bigEndian + 1];
    WriteHex(bigEndian, sizeof bigEndian, hex);
    GuardedString text;
    text.Format(u"Exit code %d (0x%s): %s.\r\nPatch file: %s\r\nSHA-256: %s\r\nTool version: %s\r\nLog: %s", result,
                hex, outcome.words, record.PatchFile(), record.PatchHash(), record.ToolVersionText(), logPath);

    const platform::ScopedEventSource eventLog(platform::RegisterEventSourceW(EVENT_SOURCE));
    if (!eventLog.Holds()) return;
    platform::ReportEventW(eventLog.Get(),
                           outcome.succeeded ? platform::EVENTLOG_INFORMATION_TYPE : platform::EVENTLOG_ERROR_TYPE,
                           outcome.eventId, text.Text());
}

}  // namespace orvane
