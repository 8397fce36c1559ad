#include "render/harness/standins.cpp"  // NOLINT: weak fallbacks shared with the harness
