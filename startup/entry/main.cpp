#include <cstdio>

int main() {
  std::puts("zbx3d: not built yet");
  return 1;
}
