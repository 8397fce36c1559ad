// The .spec reader and the normalisation of what it reads: an accepted model
// has its slot in range and finite numbers only, and normalising it gives
// radius 1.
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "render/core/model.h"
#include "testing/fuzz.h"

namespace {

bool finite(const zbx::Vector3f& v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  int slot = -1;
  zbx::Model model;
  std::string error;
  if (!zbx::parse_model_spec(text, slot, model, error)) {
    ZBX_FUZZ_CHECK(!error.empty());
    return 0;
  }
  ZBX_FUZZ_CHECK(slot >= 0 && slot < zbx::MODEL_SLOTS);
  ZBX_FUZZ_CHECK(!zbx::is_welded(model));
  for (const zbx::Face& f : model.faces) {
    for (int k = 0; k < 3; ++k) {
      ZBX_FUZZ_CHECK(finite(f.position[k]));
      ZBX_FUZZ_CHECK(std::isfinite(f.colour[k].r) && std::isfinite(f.colour[k].g) &&
                     std::isfinite(f.colour[k].b));
    }
  }
  // Only a radius the single-precision sum of squares measures well (no
  // overflow to infinity, no squares in the subnormal range): a model whose
  // radius overflows is a known fault, mended on its own.
  const float r = zbx::model_radius(model);
  zbx::normalise_model(model);
  if (std::isfinite(r) && r > 1e-18f) {
    ZBX_FUZZ_CHECK(std::fabs(zbx::model_radius(model) - 1.0f) < 1e-3f);
  }
  return 0;
}
