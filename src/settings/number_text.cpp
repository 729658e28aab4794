#include "settings/number_text.h"

namespace torvanel {

namespace {
// The C locale's white space, tested by value: isspace would depend on the
// process locale, and Shift_JIS lead bytes are negative chars.
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
}  // namespace

int32_t NumberFromText(const char* text) {
    const char* p = text;
    while (IsBlank(*p)) {
        ++p;
    }
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    // Magnitude up to one past INT32_MAX: enough to tell INT32_MIN from overflow,
    // and it never grows further however many digits follow.
    const int64_t cap = int64_t{INT32_MAX} + 1;
    int64_t magnitude = 0;
    for (; IsDigit(*p); ++p) {
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > cap) {
            magnitude = cap;
        }
    }
    if (negative) {
        return static_cast<int32_t>(-magnitude);
    }
    return magnitude > INT32_MAX ? INT32_MAX : static_cast<int32_t>(magnitude);
}

}  // namespace torvanel
