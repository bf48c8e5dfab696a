#pragma once

#include <cstdint>

namespace orvane {

/// 64 hexadecimal digits and the terminator.
inline constexpr std::uint32_t SHA256_TEXT_UNITS = 65;
/// The hash reads the file in pieces of this size, so a patch of any size takes the same memory.
inline constexpr std::uint32_t HASH_PIECE_BYTES = 64 * 1024;

/// The SHA-256 of the file at `path` in upper-case hexadecimal, as Get-FileHash prints it,
/// computed by the system's CryptoAPI while the file is held open against writers. False, with
/// `hex` empty, when the file cannot be opened or read or the system cannot hash.
bool HashFile(const char16_t* path, char16_t (&hex)[SHA256_TEXT_UNITS]);

}  // namespace orvane
