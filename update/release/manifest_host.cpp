// The update server this program asks, as its build named it. Built once per
// program (update/CMakeLists.txt), so that the tests can build a program that
// asks their https listener beside the one that asks the plain one.
#include "norva/update_host.h"
#include "update/release/manifest.h"
#include "update/release/manifest_url.h"

std::wstring ManifestUrl() { return ManifestUrlFor(kUpdateHost); }
