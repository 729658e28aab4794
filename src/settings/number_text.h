// How a settings field's text becomes a number.
#pragma once

#include <cstdint>

namespace torvanel {

// Skips leading white space, takes one optional sign, then decimal digits up to
// the first character that is not one; the rest is ignored. No digits gives 0.
// Digits beyond the signed 32-bit range saturate at INT32_MIN / INT32_MAX, so a
// too-large entry stays as large as it can instead of wrapping to a small or
// negative value.
int32_t NumberFromText(const char* text);

}  // namespace torvanel
