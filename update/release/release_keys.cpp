// The release keys this program trusts, as its build named them. Built once per
// program with its update host (update/CMakeLists.txt), so that the tests can
// build a program that trusts their own keys beside one that trusts none.
#include "norva/release_keys.h"
#include "update/release/release_signature.h"

std::vector<ReleaseKey> TrustedReleaseKeys() {
    return std::vector<ReleaseKey>(kReleaseKeys.begin(), kReleaseKeys.end());
}
