// Numbers on the tools' command lines, checked whole and against their range before any
// use: no trailing text, no NaN or infinity, no value that would overflow later.
#pragma once

// `text` as a decimal number in [low, high]. False, with `value` untouched, otherwise.
bool parseNumberArgument(const char* text, double low, double high, double& value);
// `text` as a whole number in [low, high]. False, with `value` untouched, otherwise.
bool parseIntArgument(const char* text, long low, long high, int& value);
