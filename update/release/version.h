#pragma once

#include <string>
#include <vector>

// Ordering of firmware version texts. Only the ASCII digits carry weight (each
// maximal run is one number); every other byte separates. A text beginning with
// "v16" (any case) not followed by a digit carries the V16 mark and ranks below
// every unmarked text that has digits.

// The runs of digits, in order, each as its significant decimal digits
// (leading zeros dropped; a run of zeros is "0"), so that runs of any length keep
// their true value.
std::vector<std::string> ExtractVersionNumbers(const std::string& text);

bool HasV16Prefix(const std::string& text);

// 1 when `a` is newer than `b`, -1 when older, 0 when they rank equal.
int CompareVersions(const std::string& a, const std::string& b);

// Newer firmware is known: both versions are known and the latest ranks above the current one.
bool UpdateAvailable(const std::string& currentVersion, const std::string& latestVersion);

// Whether a release may announce `version`: the window must be able to show
// it, the device to report it back after the flash, and the ordering to place
// it above the release before it.
enum class ReleaseVersionCheck {
    Ok,
    Empty,
    TooLong,       // longer than the device may report (kDeviceVersionLimit)
    BadCharacter,  // a control byte, a byte past ASCII, ';' (it ends a record field), or a blank at either end
    NoNumber,      // no digit: it never ranks above a version that names a number
    V16Mark,       // marked v16: it ranks below every release that names a number
};

ReleaseVersionCheck CheckReleaseVersion(const std::string& version);
