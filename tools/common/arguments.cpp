// strtod and strtol with every way they can be fooled closed off.
#include "tools/common/arguments.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

bool parseNumberArgument(const char* text, double low, double high, double& value) {
    if (!text || !*text || std::isspace(static_cast<unsigned char>(*text))) return false;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end);
    if (*end != '\0' || errno == ERANGE || !std::isfinite(v) || v < low || v > high) return false;
    value = v;
    return true;
}

bool parseIntArgument(const char* text, long low, long high, int& value) {
    if (!text || !*text || std::isspace(static_cast<unsigned char>(*text))) return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (*end != '\0' || errno == ERANGE || v < low || v > high) return false;
    value = static_cast<int>(v);
    return true;
}
