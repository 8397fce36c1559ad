// Asteroid creation and splitting, within the 256-asteroid and total-size limits.
#pragma once

namespace zbx {

void new_asteroid();
// Creates two or three fragments of the asteroid in that object slot; the
// caller removes the parent.
void split_asteroid(int slot);

}  // namespace zbx
