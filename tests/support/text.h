// A string's text as the test sees it: exactly its counted units, whatever lies past them.
#pragma once

#include <string>

#include "strings/guarded_string.h"

namespace orvane::testing {

inline std::u16string Str(const GuardedString& s) { return std::u16string(s.Text(), s.Length()); }

}  // namespace orvane::testing
