#include "platform/win32/windows_api.h"

#include <cstdlib>

namespace platform {

void* RuntimeAlloc(DWORD size) { return std::malloc(size); }

void* RuntimeRealloc(void* block, DWORD size) { return std::realloc(block, size); }

void RuntimeFree(void* block) { std::free(block); }

void* GeneralAlloc(DWORD size) { return ::HeapAlloc(::GetProcessHeap(), 0, size); }

void GeneralFree(void* block) {
    // HeapFree documents no null case; free(nullptr) does, and callers may rely on the same.
    if (block != nullptr) {
        ::HeapFree(::GetProcessHeap(), 0, block);
    }
}

}  // namespace platform
