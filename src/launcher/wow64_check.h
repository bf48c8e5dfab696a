#pragma once

namespace orvane {

/// True only when IsWow64Process succeeds and its flag is exactly 1: the 32-bit launcher runs
/// on 64-bit Windows and must read the registry's 64-bit view.
bool UseRegistry64BitView();

}  // namespace orvane
