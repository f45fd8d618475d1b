// Frame-rate and time arithmetic for the capture, all in integers: products are taken
// in 128 bits so that no rate and no time within the limits can overflow.
#include "tools/capture/frame_clock.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

using Wide = __int128;

int64_t gcd(int64_t a, int64_t b) {
    while (b != 0) {
        const int64_t t = a % b;
        a = b;
        b = t;
    }
    return a;
}

int64_t floorDiv(Wide a, Wide b) {  // b > 0
    Wide q = a / b;
    if (a % b != 0 && a < 0) --q;
    return static_cast<int64_t>(q);
}

int64_t ceilDiv(Wide a, Wide b) {  // b > 0
    Wide q = a / b;
    if (a % b != 0 && a > 0) ++q;
    return static_cast<int64_t>(q);
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Parses digits[.digits] into value * 10^decimals; false on anything else.
bool parseDecimal(const std::string& text, int maxDecimals, int64_t& value, int& decimals) {
    value = 0;
    decimals = 0;
    size_t i = 0;
    bool anyDigit = false, point = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.' && !point) {
            point = true;
            continue;
        }
        if (!isDigit(c)) return false;
        if (point && ++decimals > maxDecimals) return false;
        if (value > (INT64_MAX - 9) / 10) return false;
        value = value * 10 + (c - '0');
        anyDigit = true;
    }
    return anyDigit;
}

int64_t power10(int n) {
    int64_t p = 1;
    while (n-- > 0) p *= 10;
    return p;
}

}  // namespace

bool parseFrameRate(const std::string& text, FrameRate& rate, std::string* reason) {
    int64_t num = 0, den = 1;
    const size_t slash = text.find('/');
    if (slash != std::string::npos) {
        int64_t n = 0, d = 0;
        int nd = 0, dd = 0;
        if (!parseDecimal(text.substr(0, slash), 0, n, nd) ||
            !parseDecimal(text.substr(slash + 1), 0, d, dd) || d == 0 || n > 1000000000 ||
            d > 1000000) {
            if (reason) *reason = "expected a rate like 60, 59.94 or 60000/1001";
            return false;
        }
        num = n;
        den = d;
    } else {
        int decimals = 0;
        if (!parseDecimal(text, 6, num, decimals) || num > 1000000000) {
            if (reason) *reason = "expected a rate like 60, 59.94 or 60000/1001";
            return false;
        }
        den = power10(decimals);
    }
    // 1..1000 frames per second: the demo's clock counts whole milliseconds.
    if (num < den || num > 1000 * den) {
        if (reason) *reason = "the rate must lie between 1 and 1000 frames per second";
        return false;
    }
    const int64_t g = gcd(num, den);
    rate.num = num / g;
    rate.den = den / g;
    return true;
}

bool parseSeconds(const std::string& text, int64_t& microseconds, std::string* reason) {
    std::string secondsPart = text;
    int64_t minutes = 0;
    const size_t colon = text.find(':');
    if (colon != std::string::npos) {
        int digits = 0;
        if (!parseDecimal(text.substr(0, colon), 0, minutes, digits)) {
            if (reason) *reason = "expected seconds like 12.5 or minutes:seconds like 1:05";
            return false;
        }
        secondsPart = text.substr(colon + 1);
    }
    int64_t value = 0;
    int decimals = 0;
    if (!parseDecimal(secondsPart, 6, value, decimals)) {
        if (reason) *reason = "expected seconds like 12.5 or minutes:seconds like 1:05";
        return false;
    }
    // Range first, arithmetic after: value / 10^decimals seconds, minutes whole.
    if (minutes > MAX_TIME_SECONDS / 60 || value / power10(decimals) > MAX_TIME_SECONDS) {
        if (reason) *reason = "times go up to " + std::to_string(MAX_TIME_SECONDS) + " s";
        return false;
    }
    const int64_t us = value * power10(6 - decimals);
    if (colon != std::string::npos && us >= 60000000) {
        if (reason) *reason = "seconds after a colon must be below 60";
        return false;
    }
    microseconds = minutes * 60000000 + us;
    if (microseconds > MAX_TIME_SECONDS * 1000000) {
        if (reason) *reason = "times go up to " + std::to_string(MAX_TIME_SECONDS) + " s";
        return false;
    }
    return true;
}

int64_t frameClockMs(int64_t frame, FrameRate rate) {
    return floorDiv(Wide(frame) * 1000 * rate.den, rate.num);
}

int64_t frameAudioStart(int64_t frame, FrameRate rate, int64_t sampleRate) {
    return floorDiv(Wide(frame) * sampleRate * rate.den, rate.num);
}

int64_t frameShownAt(int64_t microseconds, FrameRate rate) {
    return floorDiv(Wide(microseconds) * rate.num, Wide(rate.den) * 1000000);
}

int64_t firstFrameFrom(int64_t microseconds, FrameRate rate) {
    return ceilDiv(Wide(microseconds) * rate.num, Wide(rate.den) * 1000000);
}

int64_t frameStartUs(int64_t frame, FrameRate rate) {
    return floorDiv(Wide(frame) * 1000000 * rate.den, rate.num);
}

int64_t firstFrameAfterMs(int64_t endMs, FrameRate rate) {
    // floor(n * 1000 / fps) > endMs  <=>  n * 1000 * den >= (endMs + 1) * num
    return ceilDiv(Wide(endMs + 1) * rate.num, Wide(1000) * rate.den);
}

std::string formatSeconds(double seconds, int decimals) {
    if (seconds < 0) seconds = 0;
    const double unit = static_cast<double>(power10(decimals));
    seconds = std::floor(seconds * unit + 0.5) / unit;  // so that 59.96 never shows as 0:60.0
    const int minutes = static_cast<int>(seconds / 60.0);
    const double rest = seconds - minutes * 60.0;
    char text[32];
    if (minutes > 0)
        std::snprintf(text, sizeof text, "%d:%0*.*f", minutes, decimals + (decimals > 0 ? 3 : 2),
                      decimals, rest);
    else
        std::snprintf(text, sizeof text, "%.*f", decimals, rest);
    return text;
}
