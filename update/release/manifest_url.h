#pragma once

#include <string>

// The manifest's URL for the update server the build names (NORVA_UPDATE_HOST):
// a host or host:port gives "http://<host>/com.ini"; a URL with its scheme
// ("https://updates.example.com", "https://host:8443", "http://host") gives
// that URL followed by "/com.ini".
std::wstring ManifestUrlFor(const std::wstring& updateHost);
