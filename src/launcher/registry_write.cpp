#include "launcher/registry_write.h"

#include <cstring>

#include "strings/plain_text.h"

namespace orvane {

void SetTextValue(platform::HKEY key, const char16_t* name, const char16_t* text, platform::DWORD type) {
    const std::uint32_t bytes = (TextLength(text) + 1) * sizeof(char16_t);
    platform::RegSetValueExW(key, name, type, reinterpret_cast<const std::uint8_t*>(text), bytes);
}

void SetNumberValue(platform::HKEY key, const char16_t* name, platform::DWORD value) {
    std::uint8_t bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);
    platform::RegSetValueExW(key, name, platform::REG_DWORD, bytes, sizeof bytes);
}

}  // namespace orvane
