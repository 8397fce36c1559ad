// The GL driver keeps some allocations until the process ends; they are not
// ours. The session keeps the driver loaded (see gl_session.h) so that these
// names show in the leak reports and can be matched.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:swrast_dri.so\n"
         "leak:libGLX_mesa.so\n";
}
