#pragma once

#include <string>
#include <vector>

using PortNames = std::vector<std::wstring>;

// The COM ports that exist now, COM1 to COM256, in numeric order.
PortNames EnumerateComPorts();

// Whether the name is among the ports, compared ignoring case as Windows compares device names.
bool IsPortListed(const PortNames& ports, const std::wstring& name);
