// uplinker.exe: the Pellux uploader as the "Pellux" Windows service, over the base stations the
// bridge libraries in the program's folder find.

#include <iostream>
#include <string>
#include <vector>

#include "link/win_base_station_devices_win.h"
#include "service/pellux_program_win.h"
#include "service/program_start_win.h"

int main(int argc, char** argv) {
  // Before anything is loaded by name; the bridge libraries are loaded by full path.
  Pellux::RestrictLibrarySearch([](const std::string& line) { std::cerr << line << "\n"; });
  Pellux::WinBaseStationDevices devices;
  return Pellux::RunPelluxProgram(devices, std::vector<std::string>(argv, argv + argc));
}
