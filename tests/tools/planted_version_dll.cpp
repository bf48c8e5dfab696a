// A planted version.dll: what someone with write access to a deployment share could put beside
// the launcher. Loading it leaves a mark, so a test can tell whether any process took it.
//
// On load it appends one line, the path of the process that loaded it, to
// "planted_version_loaded.txt" in its own folder. Its three exports have the names and shapes of
// the system's version functions and fail with ERROR_CALL_NOT_IMPLEMENTED, so a process that used
// them instead of the system's would also log that error and lose the tool's version.

#include <windows.h>

namespace {

void LeaveMark(HINSTANCE self) {
    wchar_t path[MAX_PATH * 2];
    DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        return;
    }
    while (n > 0 && path[n - 1] != L'\\' && path[n - 1] != L'/') {
        --n;
    }
    path[n] = L'\0';
    lstrcatW(path, L"planted_version_loaded.txt");

    wchar_t loader[MAX_PATH + 2];
    DWORD length = GetModuleFileNameW(nullptr, loader, MAX_PATH);
    if (length >= MAX_PATH) {
        length = 0;
    }
    loader[length++] = L'\r';
    loader[length++] = L'\n';
    char utf8[(MAX_PATH + 2) * 3];
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, loader, static_cast<int>(length), utf8, sizeof utf8, nullptr, nullptr);

    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written = 0;
    WriteFile(file, utf8, static_cast<DWORD>(bytes > 0 ? bytes : 0), &written, nullptr);
    CloseHandle(file);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        LeaveMark(self);
    }
    return TRUE;
}

extern "C" __declspec(dllexport) DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR, LPDWORD handle) {
    if (handle != nullptr) {
        *handle = 0;
    }
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}

extern "C" __declspec(dllexport) BOOL WINAPI GetFileVersionInfoW(LPCWSTR, DWORD, DWORD, LPVOID) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}

extern "C" __declspec(dllexport) BOOL WINAPI VerQueryValueW(LPCVOID, LPCWSTR, LPVOID*, PUINT) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}
