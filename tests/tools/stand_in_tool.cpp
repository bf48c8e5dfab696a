// Stands in for the product's patch tool in the end-to-end tests under Wine.
//
// It appends one record of what it was given to a UTF-8 file: the path in the environment variable
// STAND_IN_RECORD, else stand_in_record.txt beside itself. Files beside itself steer it:
//   exit_code.txt  the exit code, decimal (optionally negative) or 0x hex, all 32 bits; 0 without the file
//   sleep_ms.txt   milliseconds to sleep before recording and exiting
//   probe_log.txt  open every .txt in the log folder (the file's text, or C:\ProgramData\Velmor when it is
//                  empty) as another process would, and record the outcomes
//   probe_record.txt  read ExitCode and Succeeded of the launcher's run record (64-bit view) and of each
//                  key under its Patches, as a detection rule would while the tool runs
//
// Record layout, one "key=value" per line, LF line ends:
//   begin
//   command_line=<GetCommandLineW>
//   current_directory=<GetCurrentDirectoryW>
//   module=<own path>
//   probe=<file name>|read=<0 or error>|bytes=<hex of what was read>|write=<0 or error>|delete=<0 or error>
//   record=<"" for the key itself, else Patches\<name>>|ExitCode=<decimal or ->|Succeeded=<decimal or ->
//   end
//
// Plain Win32 only: no C runtime streams, no C++ library, so it stays tiny and behaves the same in any build.

#include <windows.h>

namespace {

constexpr DWORD BUFFER_CHARS = 32768;

/// Growing UTF-16 text in a fixed heap buffer; what does not fit is dropped (the tests use short paths).
/// The buffer comes from the process heap so the image carries no large zeroed data section.
struct Text {
    wchar_t* chars = nullptr;
    DWORD length = 0;

    void Allocate() {
        chars = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, BUFFER_CHARS * sizeof(wchar_t)));
        if (chars == nullptr) {
            ExitProcess(ERROR_NOT_ENOUGH_MEMORY);
        }
    }

    void Add(const wchar_t* text, DWORD count) {
        for (DWORD i = 0; i < count && length + 1 < BUFFER_CHARS; ++i) {
            chars[length++] = text[i];
        }
        chars[length] = L'\0';
    }
    void Add(const wchar_t* text) { Add(text, static_cast<DWORD>(lstrlenW(text))); }
    void AddNumber(DWORD value) {
        wchar_t digits[16];
        int n = 0;
        do {
            digits[n++] = static_cast<wchar_t>(L'0' + value % 10);
            value /= 10;
        } while (value != 0);
        while (n > 0) {
            Add(&digits[--n], 1);
        }
    }
    void AddHexByte(unsigned char value) {
        static const wchar_t HEX[] = L"0123456789ABCDEF";
        Add(&HEX[value >> 4], 1);
        Add(&HEX[value & 15], 1);
    }
};

Text g_record;
wchar_t g_ownFolder[MAX_PATH * 4];

void FindOwnFolder() {
    DWORD n = GetModuleFileNameW(nullptr, g_ownFolder, MAX_PATH * 4);
    if (n == 0 || n >= MAX_PATH * 4) {
        g_ownFolder[0] = L'\0';
        return;
    }
    while (n > 0 && g_ownFolder[n - 1] != L'\\' && g_ownFolder[n - 1] != L'/') {
        --n;
    }
    g_ownFolder[n] = L'\0';  // keeps the trailing separator
}

void BesideMe(const wchar_t* name, wchar_t* out, DWORD outChars) {
    out[0] = L'\0';
    if (static_cast<DWORD>(lstrlenW(g_ownFolder) + lstrlenW(name)) + 1 > outChars) {
        return;
    }
    lstrcpyW(out, g_ownFolder);
    lstrcatW(out, name);
}

/// Reads a small control file beside the tool; false when it is missing. `bytes` is zero-terminated.
bool ReadControlFile(const wchar_t* name, char* bytes, DWORD capacity) {
    wchar_t path[MAX_PATH * 4];
    BesideMe(name, path, MAX_PATH * 4);
    HANDLE file =
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD got = 0;
    if (!ReadFile(file, bytes, capacity - 1, &got, nullptr)) {
        got = 0;
    }
    bytes[got] = '\0';
    CloseHandle(file);
    return true;
}

/// Parses decimal (optionally negative) or 0x hex, ignoring surrounding blanks; wraps to 32 bits.
DWORD ParseNumber(const char* text) {
    while (*text == ' ' || *text == '\t' || *text == '\r' || *text == '\n') {
        ++text;
    }
    bool negative = false;
    if (*text == '-') {
        negative = true;
        ++text;
    }
    DWORD value = 0;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        for (text += 2;; ++text) {
            char c = *text;
            if (c >= '0' && c <= '9') {
                value = value * 16 + static_cast<DWORD>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                value = value * 16 + static_cast<DWORD>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                value = value * 16 + static_cast<DWORD>(c - 'A' + 10);
            } else {
                break;
            }
        }
    } else {
        for (; *text >= '0' && *text <= '9'; ++text) {
            value = value * 10 + static_cast<DWORD>(*text - '0');
        }
    }
    return negative ? 0u - value : value;
}

void AddLine(const wchar_t* key, const wchar_t* value) {
    g_record.Add(key);
    g_record.Add(L"=");
    g_record.Add(value);
    g_record.Add(L"\n");
}

void AddResult(const wchar_t* key, DWORD error) {
    g_record.Add(L"|");
    g_record.Add(key);
    g_record.Add(L"=");
    g_record.AddNumber(error);
}

/// Opens one log file the way a reader or a second writer would, and tries to delete it.
void ProbeFile(const wchar_t* folder, const wchar_t* name) {
    wchar_t path[MAX_PATH * 4];
    if (static_cast<DWORD>(lstrlenW(folder) + lstrlenW(name)) + 2 > MAX_PATH * 4) {
        return;
    }
    lstrcpyW(path, folder);
    lstrcatW(path, L"\\");
    lstrcatW(path, name);

    g_record.Add(L"probe=");
    g_record.Add(name);

    HANDLE reader = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    AddResult(L"read", reader == INVALID_HANDLE_VALUE ? GetLastError() : 0);
    g_record.Add(L"|bytes=");
    if (reader != INVALID_HANDLE_VALUE) {
        unsigned char bytes[4096];
        DWORD got = 0;
        if (ReadFile(reader, bytes, sizeof bytes, &got, nullptr)) {
            for (DWORD i = 0; i < got; ++i) {
                g_record.AddHexByte(bytes[i]);
            }
        }
        CloseHandle(reader);
    }

    HANDLE writer = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    AddResult(L"write", writer == INVALID_HANDLE_VALUE ? GetLastError() : 0);
    if (writer != INVALID_HANDLE_VALUE) {
        CloseHandle(writer);
    }

    AddResult(L"delete", DeleteFileW(path) ? 0 : GetLastError());
    g_record.Add(L"\n");
}

void ProbeLogFolder(const char* requested) {
    wchar_t folder[MAX_PATH * 4];
    int n = MultiByteToWideChar(CP_UTF8, 0, requested, -1, folder, MAX_PATH * 4);
    // Trim the line end and blanks that an editor or echo leaves behind.
    int length = n > 0 ? n - 1 : 0;
    while (length > 0 && (folder[length - 1] == L'\n' || folder[length - 1] == L'\r' || folder[length - 1] == L' ')) {
        --length;
    }
    folder[length] = L'\0';
    if (length == 0) {
        lstrcpyW(folder, L"C:\\ProgramData\\Velmor");
    }
    AddLine(L"probe_folder", folder);

    wchar_t pattern[MAX_PATH * 4];
    lstrcpyW(pattern, folder);
    lstrcatW(pattern, L"\\*.txt");
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            ProbeFile(folder, found.cFileName);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

/// One "record=" line: the REG_DWORD values ExitCode and Succeeded of `key`, "-" for one that is not.
void AddRunRecordValues(HKEY key, const wchar_t* name) {
    static const wchar_t* const VALUES[] = {L"ExitCode", L"Succeeded"};
    g_record.Add(L"record=");
    g_record.Add(name);
    for (const wchar_t* value : VALUES) {
        g_record.Add(L"|");
        g_record.Add(value);
        g_record.Add(L"=");
        DWORD data = 0;
        DWORD type = 0;
        DWORD size = sizeof data;
        if (RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) == ERROR_SUCCESS &&
            type == REG_DWORD && size == sizeof data) {
            g_record.AddNumber(data);
        } else {
            g_record.Add(L"-");
        }
    }
    g_record.Add(L"\n");
}

void ProbeRunRecord() {
    HKEY record;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Velmor\\Orvane.Launcher", 0, KEY_READ | KEY_WOW64_64KEY,
                      &record) != ERROR_SUCCESS) {
        return;
    }
    AddRunRecordValues(record, L"");
    HKEY patches;
    if (RegOpenKeyExW(record, L"Patches", 0, KEY_READ | KEY_WOW64_64KEY, &patches) == ERROR_SUCCESS) {
        wchar_t name[16 + 256];
        lstrcpyW(name, L"Patches\\");
        for (DWORD i = 0;; ++i) {
            DWORD chars = 256;
            if (RegEnumKeyExW(patches, i, name + 8, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
                break;
            }
            HKEY patch;
            if (RegOpenKeyExW(patches, name + 8, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &patch) == ERROR_SUCCESS) {
                AddRunRecordValues(patch, name);
                RegCloseKey(patch);
            }
        }
        RegCloseKey(patches);
    }
    RegCloseKey(record);
}

void WriteRecord() {
    wchar_t path[MAX_PATH * 4];
    DWORD n = GetEnvironmentVariableW(L"STAND_IN_RECORD", path, MAX_PATH * 4);
    if (n == 0 || n >= MAX_PATH * 4) {
        BesideMe(L"stand_in_record.txt", path, MAX_PATH * 4);
    }
    const int capacity = static_cast<int>(BUFFER_CHARS * 3);
    char* utf8 = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, static_cast<SIZE_T>(capacity)));
    if (utf8 == nullptr) {
        return;
    }
    int bytes = WideCharToMultiByte(CP_UTF8, 0, g_record.chars, static_cast<int>(g_record.length), utf8, capacity,
                                    nullptr, nullptr);
    HANDLE file =
        CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        HeapFree(GetProcessHeap(), 0, utf8);
        return;
    }
    DWORD written = 0;
    WriteFile(file, utf8, static_cast<DWORD>(bytes > 0 ? bytes : 0), &written, nullptr);
    CloseHandle(file);
    HeapFree(GetProcessHeap(), 0, utf8);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    FindOwnFolder();
    g_record.Allocate();
    char control[1024];

    if (ReadControlFile(L"sleep_ms.txt", control, sizeof control)) {
        Sleep(ParseNumber(control));
    }

    g_record.Add(L"begin\n");
    AddLine(L"command_line", GetCommandLineW());
    wchar_t current[MAX_PATH * 4];
    DWORD n = GetCurrentDirectoryW(MAX_PATH * 4, current);
    if (n == 0 || n >= MAX_PATH * 4) {
        current[0] = L'\0';
    }
    AddLine(L"current_directory", current);
    wchar_t module[MAX_PATH * 4];
    n = GetModuleFileNameW(nullptr, module, MAX_PATH * 4);
    if (n == 0 || n >= MAX_PATH * 4) {
        module[0] = L'\0';
    }
    AddLine(L"module", module);

    if (ReadControlFile(L"probe_log.txt", control, sizeof control)) {
        ProbeLogFolder(control);
    }
    if (ReadControlFile(L"probe_record.txt", control, sizeof control)) {
        ProbeRunRecord();
    }
    g_record.Add(L"end\n");
    WriteRecord();

    DWORD exitCode = 0;
    if (ReadControlFile(L"exit_code.txt", control, sizeof control)) {
        exitCode = ParseNumber(control);
    }
    ExitProcess(exitCode);
}
