// The stand-in resources library holds string resources only; this is its one symbol.
extern "C" __declspec(dllexport) int PelluxTestResourcesVersion() {
  return 1;
}
