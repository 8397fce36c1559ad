// The smoother fed by anyone: a script of snapshots (slots, kinds, floats of
// any bits, times going anywhere), held keys and views. Nothing drawn is at a
// place that is not finite; with finite snapshots inside the world every
// number drawn is finite and inside the world.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>

#include "smooth/smooth.h"
#include "testing/fuzz.h"

namespace {

using namespace zbx;

// Reads the script; past its end every read gives zeros.
struct Script {
  const std::uint8_t* data;
  std::size_t size, at = 0;
  bool more() const { return at < size; }
  std::uint8_t byte() { return at < size ? data[at++] : 0; }
  float number() {
    std::uint8_t b[4] = {byte(), byte(), byte(), byte()};
    float f;
    std::memcpy(&f, b, sizeof f);
    return f;
  }
  // Mostly tame numbers, now and then any bits.
  float value(float scale) {
    const std::uint8_t kind = byte();
    if (kind < 200) return (static_cast<float>(kind) - 100.0f) / 100.0f * scale;
    return number();
  }
};

Matrix3f orientation(Script& in) {
  const std::uint8_t how = in.byte();
  if (how < 128) {  // a rotation from three angles
    const double a = in.byte() * 0.0246, b = in.byte() * 0.0246, c = in.byte() * 0.0246;
    const double ca = std::cos(a), sa = std::sin(a), cb = std::cos(b), sb = std::sin(b);
    const double cc = std::cos(c), sc = std::sin(c);
    const double m[9] = {cb * cc,
                         -cb * sc,
                         sb,
                         sa * sb * cc + ca * sc,
                         -sa * sb * sc + ca * cc,
                         -sa * cb,
                         -ca * sb * cc + sa * sc,
                         ca * sb * sc + sa * cc,
                         ca * cb};
    Matrix3f out;
    for (int i = 0; i < 9; ++i) out[i] = static_cast<float>(m[i]);
    return out;
  }
  Matrix3f out;
  for (float& v : out) v = in.value(2.0f);
  return out;
}

bool tame(const SmoothEntity& e, float w) {
  if (!e.present) return true;
  if (!is_finite(e.position) || !std::isfinite(e.size)) return false;
  for (float v : e.orientation) {
    if (!std::isfinite(v)) return false;
  }
  return std::fabs(e.position.x) <= w && std::fabs(e.position.y) <= w &&
         std::fabs(e.position.z) <= w;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static auto s = std::make_unique<Smoother>();
  static auto frame = std::make_unique<SmoothFrame>();
  static auto out = std::make_unique<SmoothFrame>();
  Script in{data, size};
  SmoothRates rates;
  rates.snapshotSeconds = in.byte() * 0.004;
  rates.stepSeconds = in.byte() * 0.0004;
  rates.predictOwn = in.byte() % 2 == 0;
  rates.rotationSpeed = in.value(5.0f);
  smoother_reset(*s, rates);
  *frame = SmoothFrame{};
  frame->ownSlot = in.byte() % 40 - 4;
  frame->worldWidth = 10.0f;
  double time = 0;
  bool allTame = true;
  for (int op = 0; op < 400 && in.more(); ++op) {
    const std::uint8_t what = in.byte();
    time += (static_cast<int>(in.byte()) - 40) * 0.001;
    if (what < 150) {  // a snapshot: some slots changed
      for (int n = in.byte() % 8; n > 0; --n) {
        const std::uint8_t slot = in.byte();
        SmoothEntity& e = slot < 224 ? frame->objects[slot % 64] : frame->players[slot % 32];
        e.present = in.byte() % 5 != 0;
        e.alive = in.byte() % 4 != 0;
        e.warping = in.byte() % 7 == 0;
        e.kind = in.byte() % 12;
        e.position = {in.value(10.0f), in.value(10.0f), in.value(10.0f)};
        e.size = in.value(1.0f);
        e.orientation = orientation(in);
      }
      if (what > 145) frame->worldWidth = in.value(20.0f);
      allTame = allTame && std::isfinite(frame->worldWidth) && frame->worldWidth > 0;
      for (const SmoothEntity& e : frame->objects) allTame = allTame && tame(e, frame->worldWidth);
      for (const SmoothEntity& e : frame->players) allTame = allTame && tame(e, frame->worldWidth);
      frame->time = what == 149 ? static_cast<double>(in.number()) : time;
      smoother_record(*s, *frame);
    } else if (what < 190) {
      KeyStateArray keys;
      for (auto& k : keys) k = in.byte() % 3 == 0;
      smoother_keys(*s, time, keys);
    } else {
      const double now = what == 255 ? static_cast<double>(in.number()) : time;
      if (!smoother_view(*s, now, *out)) continue;
      for (const auto* table : {&out->objects[0], &out->players[0]}) {
        const int n = table == &out->objects[0] ? MAX_OBJECTS : MAX_PLAYERS;
        for (int i = 0; i < n; ++i) {
          const SmoothEntity& e = table[i];
          if (!e.present) continue;
          ZBX_FUZZ_CHECK(is_finite(e.position));
          if (allTame) ZBX_FUZZ_CHECK(tame(e, out->worldWidth));
        }
      }
    }
  }
  return 0;
}
