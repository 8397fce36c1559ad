// The play-state flags that change what is drawn.
#include "render/render.h"

namespace zbx {

ViewFlags g_view_flags;

bool reverse_view_held() { return g_view_flags.reverse_view.load(std::memory_order_relaxed); }
bool score_table_held() { return g_view_flags.score_table.load(std::memory_order_relaxed); }

}  // namespace zbx
