// SDL asks for the session bus when its joystick support starts; with a
// display but no bus and no way to launch one, libdbus keeps the buffer of
// the failed attempt for good. Not ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libdbus-1.so\n"; }
