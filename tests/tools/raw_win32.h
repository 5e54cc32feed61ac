#pragma once

// Raw Win32 views of the simulated world, for the tests of the simulator itself.
#include <windows.h>

#include <functional>
#include <set>
#include <string>

// Polls until the condition holds; the simulator's own delays are what we wait for.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);

bool IsPortListed(const std::wstring& name);
// CreateFileW on \\.\NAME, 115200 8N1, the link's time-outs, both directions purged.
HANDLE OpenRawPort(const std::wstring& name);
bool WriteAll(HANDLE port, const std::string& bytes);
// Reads until `count` bytes arrived or, with count 0, up to and including the first line feed.
std::string ReadBytes(HANDLE port, size_t count, DWORD timeoutMs);
// Writes the command and a line feed, and reads the answer line.
std::string Ask(HANDLE port, const std::string& command);

std::set<std::wstring> DriveRoots();
std::wstring VolumeLabel(const std::wstring& root);
std::wstring RootOf(wchar_t letter);  // L"R:\\"
// Creates (replacing) the file and writes it in pieces of 64 KiB, as the update does.
bool WriteFileAt(const std::wstring& path, const std::string& bytes);
