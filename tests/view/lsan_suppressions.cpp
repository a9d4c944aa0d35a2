// The sanitizer build's leak checker reads these suppressions. OSMesa keeps
// the framebuffers it wraps around client memory, and its rendering screen,
// until the process ends: those blocks are the library's, not ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libOSMesa.so\nleak:libgallium\n"; }
