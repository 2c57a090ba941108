#pragma once
// The serial devices of the machine that a modem may be on: the stable names under
// serial/by-id, every ttyACM and ttyUSB device, and the ttyS ports that have a UART
// behind them (most of the 32 the kernel makes have none). Any thread.
#include <string>
#include <vector>

namespace telvara {

// Full paths under `devDir` (the device folder, "/dev" on the machine), the stable
// names first, then in the order of their numbers; at most kMaxSerialDevices.
constexpr std::size_t kMaxSerialDevices = 64;
std::vector<std::string> FindSerialDevices(const std::string& devDir = "/dev");

}  // namespace telvara
