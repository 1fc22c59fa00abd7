// Compiled only into the sanitizer builds of the programs (the window, the converter and the
// decoder), never into the tests: AddressSanitizer's defaults for these processes.
//
// Leak detection is off here. The tests start the converter, and through it the decoder, hundreds of
// times and compare what they print exactly; LeakSanitizer's check at exit now and then crashes in
// its own thread tracer ("Tracer caught signal 11") and prints that, failing a test that found no
// fault. The code these programs run (rastrel_core) is leak-checked in the test processes, which keep
// the sanitizer's default (detection on). Address errors stay fatal here, and undefined behaviour is
// fatal in every build with the sanitizers (-fno-sanitize-recover=all).
//
// ASAN_OPTIONS in the environment overrides what is set here, e.g. ASAN_OPTIONS=detect_leaks=1 for a
// leak check of the programs by hand.

extern "C" __attribute__((visibility("default"), used)) const char *__asan_default_options()
{
    return "detect_leaks=0";
}
