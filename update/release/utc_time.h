#pragma once

#include <cstdint>
#include <string>

// A moment in UTC written as a release's `expires` names it: exactly
// YYYY-MM-DDTHH:MM:SSZ, a real day of the Gregorian calendar and a time from
// 00:00:00 to 23:59:59 (no leap second, no 24:00:00, no fraction, no offset,
// nothing before or after). True with the seconds since 1970-01-01T00:00:00Z;
// false for any other text, leaving `seconds` as it was.
bool ParseUtcTime(const std::string& text, int64_t& seconds);
