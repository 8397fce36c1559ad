// The explosion texture's image, with the game's failure handling.
#include <cstdio>

#include "render/core/sgi_image.h"
#include "startup/settings.h"

namespace zbx {

SgiImage load_explosion_image(const char* path) {
  SgiImage image;
  switch (read_sgi_image(path, image)) {
    case SgiRead::ok:
      break;
    case SgiRead::cannot_open:
      std::printf("Error opening %s\n", path);
      fatal_exit(1);
    case SgiRead::bad_image:
      std::fputs("Sorry, can't read texture file...", stdout);
      fatal_exit(0);
  }
  return image;
}

}  // namespace zbx
