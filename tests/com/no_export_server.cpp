// A library that loads but exports no creation function.

extern "C" __attribute__((visibility("default"))) int monvia_not_a_server() { return 42; }
