#pragma once

#include <string>
#include <vector>

// The COM ports that exist now, COM1 to COM256, in numeric order.
std::vector<std::wstring> EnumerateComPorts();

// Refills the port combo box, keeping the user's choice when that port is still there.
void RefreshPortList();
