// Stand-in until the simulation loop exists; delete with its arrival.
#include "server/simulation.h"

namespace zbx {
void simulation_thread(void (*started)(void*), void* context) {
  if (started) started(context);
}
}  // namespace zbx
