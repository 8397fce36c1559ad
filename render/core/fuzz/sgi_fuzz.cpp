// The SGI image decoder: an accepted image has a picture of the size its
// header gives, within the limit, and opaque texels.
#include <cstdint>
#include <span>

#include "render/core/sgi_image.h"
#include "testing/fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zbx::SgiImage image;
  std::string error;
  if (!zbx::decode_sgi_image(std::span(data, size), image, &error)) {
    ZBX_FUZZ_CHECK(!error.empty());
    return 0;
  }
  ZBX_FUZZ_CHECK(image.width > 0 && image.height > 0 && image.channels >= 3);
  const std::size_t texels = static_cast<std::size_t>(image.width) * image.height;
  ZBX_FUZZ_CHECK(texels <= zbx::SGI_MAX_TEXELS);
  ZBX_FUZZ_CHECK(image.rgba.size() == texels * 4);
  for (std::size_t i = 3; i < image.rgba.size(); i += 4) ZBX_FUZZ_CHECK(image.rgba[i] == 255);
  return 0;
}
