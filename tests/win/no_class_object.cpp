// A library that loads but exports no class object, for the test of a class
// registered with such a library.

extern "C" __declspec(dllexport) int monvia_not_a_server() { return 0; }
