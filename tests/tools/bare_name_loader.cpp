// The negative control for the planting test: loads "version.dll" by its bare name, as a program
// that imported it or called LoadLibraryW(L"version.dll") would, and prints where it came from.
//
//   bare_name_loader
//
// Prints one line "<full path of the loaded version.dll>" and exits with 0, or exits with 1 when
// nothing could be loaded. Placed beside a planted version.dll it shows that the planted copy is
// taken, which is what makes the launcher's refusal of it mean something.

#include <windows.h>

int wmain(int, wchar_t**) {
    const HMODULE module = LoadLibraryW(L"version.dll");
    if (module == nullptr) {
        return 1;
    }
    wchar_t path[MAX_PATH + 2];
    DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    if (length >= MAX_PATH) {
        length = 0;
    }
    path[length++] = L'\n';
    char utf8[(MAX_PATH + 2) * 3];
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, path, static_cast<int>(length), utf8, sizeof utf8, nullptr, nullptr);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), utf8, static_cast<DWORD>(bytes > 0 ? bytes : 0), &written, nullptr);
    return 0;
}
