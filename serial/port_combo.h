#pragma once

#include <windows.h>

#include <string>
#include <vector>

// RefreshPortList's second half: refills the drop-down list with the given port
// names in order and selects the previously chosen name (compared ignoring
// case), else the first name, else nothing.
void FillPortCombo(HWND combo, const std::vector<std::wstring>& ports);
