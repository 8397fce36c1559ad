// A gamepad made of SDL's virtual joystick with every game-controller button
// and axis, and a test's run of polls with one plugged in.
#pragma once

#include <SDL.h>

#include <memory>

#include "gamepad/gamepad.h"

namespace zbx::test {

// Needs SDL's joystick subsystem (the first poll_gamepads starts it). bare: a
// joystick that takes a mapping to be a pad.
struct VirtualPad {
  explicit VirtualPad(bool bare = false) {
    SDL_VirtualJoystickDesc d{};
    d.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
    d.type = bare ? SDL_JOYSTICK_TYPE_UNKNOWN : SDL_JOYSTICK_TYPE_GAMECONTROLLER;
    d.naxes = SDL_CONTROLLER_AXIS_MAX;
    d.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
    d.vendor_id = 0x1209;
    d.product_id = 0x5a0b;
    d.button_mask = bare ? 0 : (1u << SDL_CONTROLLER_BUTTON_MAX) - 1;
    d.axis_mask = bare ? 0 : (1u << SDL_CONTROLLER_AXIS_MAX) - 1;
    d.name = "Zorbix Test Pad";
    joystick = SDL_JoystickOpen(SDL_JoystickAttachVirtualEx(&d));
    axis(SDL_CONTROLLER_AXIS_TRIGGERLEFT, SDL_JOYSTICK_AXIS_MIN);  // triggers at rest
    axis(SDL_CONTROLLER_AXIS_TRIGGERRIGHT, SDL_JOYSTICK_AXIS_MIN);
  }
  ~VirtualPad() { unplug(); }
  VirtualPad(const VirtualPad&) = delete;
  VirtualPad& operator=(const VirtualPad&) = delete;

  // Raw values: sticks -32768..32767, triggers -32768 (rest) to 32767 (full).
  void axis(int axis, int value) { SDL_JoystickSetVirtualAxis(joystick, axis, Sint16(value)); }
  void button(int button, bool down) { SDL_JoystickSetVirtualButton(joystick, button, down); }
  void unplug() {
    if (joystick == nullptr) return;
    const SDL_JoystickID id = SDL_JoystickInstanceID(joystick);
    SDL_JoystickClose(joystick);
    joystick = nullptr;
    for (int i = 0; i < SDL_NumJoysticks(); ++i) {
      if (SDL_JoystickGetDeviceInstanceID(i) == id) SDL_JoystickDetachVirtual(i);
    }
  }
  SDL_Joystick* joystick = nullptr;
};

// SDL started by a first poll (real pads on the machine skipped when it scans
// for devices), a pad plugged in, polls a world step apart.
struct PadSession {
  void start(PadMenuSink sink) {
    SDL_SetHint(SDL_HINT_GAMECONTROLLER_IGNORE_DEVICES_EXCEPT, "0x1209/0x5a0b");
    SDL_SetHint(SDL_HINT_JOYSTICK_HIDAPI, "0");
    g_paths.gamepadMappings.clear();
    menu = sink;
    poll();
    pad = std::make_unique<VirtualPad>();
    poll();
  }
  void stop() {
    pad.reset();
    stop_gamepads();
  }
  void poll() { poll_gamepads(menu, now += WORLD_STEP_MILLISECONDS); }
  void set(int axis, int value) { pad->axis(axis, value), poll(); }
  void press(int button) {
    for (const bool down : {true, false}) pad->button(button, down), poll();
  }

  PadMenuSink menu = nullptr;
  std::int64_t now = 100000;
  std::unique_ptr<VirtualPad> pad;
};

}  // namespace zbx::test
