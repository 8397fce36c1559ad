// The GL driver keeps some allocations until the process ends; they are not
// ours. The session keeps the driver loaded (see gl_session.h) so that these
// names show in the leak reports and can be matched.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:swrast_dri.so\n"
         "leak:libGLX_mesa.so\n";
}

// llvmpipe's rasteriser threads synchronise inside the driver in ways the
// thread sanitizer cannot see.
extern "C" const char* __tsan_default_suppressions() { return "race:swrast_dri.so\n"; }
