// Breaks a string's trailing guard on purpose, to show what the fatal stop does to a real process.
//
//   fatal_stop_probe [folder]
//
// Writes "fatal_stop_probe.before" into the folder (default: the current one), overruns a
// FixedPathString's inline block by two characters, as an operating-system call that ignored the
// size it was given would, and lets Recount find the damage. "fatal_stop_probe.after" is written
// only if the process survived that, which it must not: the expected end is exit code 0xC0000409
// with the first marker present and the second absent.
//
// It goes through the platform layer and the string code exactly as the launcher does.

#include <cstdint>

#include "platform/filesystem.h"
#include "platform/process.h"
#include "strings/fixed_path_string.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t));

namespace {

void WriteMarker(const char16_t* folder, const char16_t* name) {
    orvane::FixedPathString path(folder);
    path.AppendPath(name);
    const platform::HANDLE file = platform::CreateFileW(path.Text(), platform::GENERIC_WRITE, 0,
                                                        platform::CREATE_ALWAYS, platform::FILE_ATTRIBUTE_NORMAL);
    if (file == platform::INVALID_HANDLE_VALUE) {
        return;
    }
    static constexpr char text[] = "written\r\n";
    platform::DWORD written = 0;
    platform::WriteFileAtEnd(file, text, sizeof(text) - 1, &written);
    platform::CloseHandle(file);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const char16_t* folder = argc > 1 ? reinterpret_cast<const char16_t*>(argv[1]) : u".";
    WriteMarker(folder, u"fatal_stop_probe.before");

    orvane::FixedPathString victim;
    char16_t* slots = victim.WritableBuffer();
    // Capacity() characters fill the block, one more takes the terminator slot, and the last one
    // lands on the trailing guard, which still lies inside the object.
    const std::uint32_t count = victim.Capacity() + 2;
    for (std::uint32_t i = 0; i < count; ++i) {
        slots[i] = u'x';
    }
    victim.Recount();

    WriteMarker(folder, u"fatal_stop_probe.after");
    return 0;
}
