// uplinker.exe: the Pellux uploader as the "Pellux" Windows service, over the base stations the
// bridge libraries in the program's folder find.

#include <string>
#include <vector>

#include "link/win_base_station_devices_win.h"
#include "service/pellux_program_win.h"

int main(int argc, char** argv) {
  Pellux::WinBaseStationDevices devices;
  return Pellux::RunPelluxProgram(devices, std::vector<std::string>(argv, argv + argc));
}
