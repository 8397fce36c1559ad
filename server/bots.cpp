// Computer-driven ships: dodge the nearest approaching asteroid, otherwise
// chase the nearest flying ship; fire at a steady rhythm, now and then a nuke.
#include <cmath>
#include <cstdlib>

#include "motion.h"
#include "rules.h"
#include "startup/settings.h"

namespace zbx {

namespace {

// Gap below which an asteroid overrides the chase.
constexpr float EVADE_GAP = 0.2f;
// Gap below which a bot turns away from the ship it chases.
constexpr float TOO_CLOSE_GAP = 0.3f;

Vector3f advanced(const WorldObject& record) {
  auto one = [](float p, float v) { return static_cast<float>(p + v / 100.0); };
  return {one(record.position.x, record.velocity.x), one(record.position.y, record.velocity.y),
          one(record.position.z, record.velocity.z)};
}

// Wrapped distance along one axis, formed as torus_distance forms it.
float axis_gap(float a, float b, float span) {
  const float d = std::fabs(a - b);
  const float other = span - d;
  return other < d ? other : d;
}

void steer(Ship& bot) {
  float threatGap = 0;
  const int threat = nearest_threat(bot, &threatGap);
  if (threat >= 0 && threatGap < EVADE_GAP) {
    const Vector3f o = local_offset(bot, g_world.objects[threat]->position);
    bot.spin.y = o.x > 0 ? -1.0f : 1.0f;
    bot.spin.x = o.y > 0 ? -1.0f : 1.0f;
    return;
  }

  const Ship* target = nullptr;
  float targetGap = 0;
  for (int p = 0; p < MAX_PLAYERS; ++p) {
    const Ship* other = g_world.players[p].get();
    if (other == nullptr || other == &bot || !ship_flies(*other)) continue;
    const float distance = torus_distance(bot.position, other->position);
    // The stored gap is weighed against the candidate's centre distance.
    if (target == nullptr || targetGap > distance) {
      target = other;
      targetGap = distance - (bot.size + other->size);
    }
  }
  if (target == nullptr) return;

  const Vector3f o = local_offset(bot, target->position);
  float sx = o.y > 0 ? 1.0f : -1.0f;
  float sy = o.x > 0 ? 1.0f : -1.0f;
  if (targetGap < TOO_CLOSE_GAP) {
    sx = -sx;
    sy = -sy;
  }
  bot.spin.x = sx;
  bot.spin.y = sy;
}

}  // namespace

int bot_fire_interval(float botRatio, int botFireTime) {
  // A ratio of 0 or less (or NaN) would make the interval infinite: such a bot
  // never fires.
  if (!(botRatio > 0)) return BOT_NEVER_FIRES;
  const double interval = (1.0 / botRatio) * botFireTime;
  if (interval >= static_cast<double>(BOT_NEVER_FIRES)) return BOT_NEVER_FIRES;
  return saturating_truncate(interval);
}

int nearest_threat(const Ship& bot, float* gap) {
  const float w = g_server_settings.WORLD_WIDTH;
  const float span = 2.0f * w;
  const Vector3f botNow = bot.position;
  const Vector3f botNext = advanced(bot);
  int choice = -1;
  float choiceGap = 0;
  for (int slot = 0; slot < MAX_OBJECTS; ++slot) {
    const WorldObject* object = g_world.objects[slot].get();
    if (object == nullptr || object->kind != KIND_ASTEROID) continue;
    const float sizes = bot.size + object->size;
    if (choice >= 0) {
      // Only a smaller gap can win. An asteroid further off on one axis than
      // the current choice's gap plus both sizes (with a margin for rounding)
      // cannot have one: skip its two distances.
      const float bound = choiceGap + sizes;
      const float limit = bound + (std::fabs(bound) + span) * (1.0f / 65536.0f);
      const Vector3f p = object->position;
      if (axis_gap(botNow.x, p.x, span) > limit || axis_gap(botNow.y, p.y, span) > limit ||
          axis_gap(botNow.z, p.z, span) > limit) {
        continue;
      }
    }
    const float g = torus_distance(botNow, object->position) - sizes;
    const float gNext = torus_distance(botNext, advanced(*object)) - sizes;
    if (choice < 0 || (g > gNext && g < choiceGap)) {
      choice = slot;
      choiceGap = g;
    }
  }
  if (gap != nullptr) *gap = choiceGap;
  return choice;
}

void bot_behaviour(Ship& ship) {
  steer(ship);

  const int interval = bot_fire_interval(g_world.botRatio, g_server_settings.BOT_FIRE_TIME);
  if (ship.botFireCounter < INT_MAX) ++ship.botFireCounter;
  if (interval != BOT_NEVER_FIRES && ship.botFireCounter >= interval) {
    ship.botFireCounter = 0;
    fire_shot(ship);
  }

  const int odds = g_server_settings.BOT_NUKE_ODDS;
  if (odds != 0 && std::rand() % odds == 0) launch_nuke(ship);

  if (ship.botShieldTimer != 0 && --ship.botShieldTimer == 0) ship.shieldOn = 0;
}

}  // namespace zbx
