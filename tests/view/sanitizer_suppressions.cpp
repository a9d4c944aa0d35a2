// The sanitizer builds read these suppressions. OSMesa keeps the
// framebuffers it wraps around client memory, and its rendering screen,
// until the process ends: those blocks are the library's, not ours. Its
// rasteriser threads synchronise inside the library, which the thread
// sanitizer cannot see into: races it reports there are not ours either.
extern "C" const char* __lsan_default_suppressions() { return "leak:libOSMesa.so\nleak:libgallium\n"; }
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libOSMesa.so\nrace:libOSMesa.so\nrace:libgallium\n";
}
