// A gamepad made of SDL's virtual joystick, with every game-controller button
// and axis, seen by SDL as a game controller. Only pads with its vendor and
// product ids count as game controllers in the process, so tests never drive
// (or are driven by) a real pad plugged into the machine.
#pragma once

#include <SDL.h>

namespace zbx::test {

inline constexpr Uint16 VIRTUAL_PAD_VENDOR = 0x1209;
inline constexpr Uint16 VIRTUAL_PAD_PRODUCT = 0x5a0b;

// Call before SDL starts (the first poll_gamepads).
inline void only_virtual_pads() {
  SDL_SetHint(SDL_HINT_GAMECONTROLLER_IGNORE_DEVICES_EXCEPT, "0x1209/0x5a0b");
  SDL_SetHint(SDL_HINT_JOYSTICK_HIDAPI, "0");
}

class VirtualPad {
 public:
  // gameController false: a bare joystick that needs a mapping to be a pad.
  explicit VirtualPad(bool gameController = true, Uint16 product = VIRTUAL_PAD_PRODUCT) {
    SDL_VirtualJoystickDesc d{};
    d.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
    d.type = gameController ? SDL_JOYSTICK_TYPE_GAMECONTROLLER : SDL_JOYSTICK_TYPE_UNKNOWN;
    d.naxes = SDL_CONTROLLER_AXIS_MAX;
    d.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
    d.vendor_id = VIRTUAL_PAD_VENDOR;
    d.product_id = product;
    if (gameController) {
      d.button_mask = (1u << SDL_CONTROLLER_BUTTON_MAX) - 1;
      d.axis_mask = (1u << SDL_CONTROLLER_AXIS_MAX) - 1;
    }
    d.name = "Zorbix Test Pad";
    const int index = SDL_JoystickAttachVirtualEx(&d);
    if (index >= 0) {
      joystick_ = SDL_JoystickOpen(index);
      guid_ = SDL_JoystickGetDeviceGUID(index);
    }
    if (joystick_ != nullptr) {
      // Triggers rest at the bottom of their range.
      axis(SDL_CONTROLLER_AXIS_TRIGGERLEFT, SDL_JOYSTICK_AXIS_MIN);
      axis(SDL_CONTROLLER_AXIS_TRIGGERRIGHT, SDL_JOYSTICK_AXIS_MIN);
    }
  }
  ~VirtualPad() { unplug(); }
  VirtualPad(const VirtualPad&) = delete;
  VirtualPad& operator=(const VirtualPad&) = delete;

  bool ok() const { return joystick_ != nullptr; }
  SDL_JoystickGUID guid() const { return guid_; }
  // Raw values: sticks -32768..32767, triggers -32768 (rest) to 32767 (full).
  void axis(int axis, int value) {
    SDL_JoystickSetVirtualAxis(joystick_, axis, static_cast<Sint16>(value));
  }
  void button(int button, bool down) {
    SDL_JoystickSetVirtualButton(joystick_, button, down ? 1 : 0);
  }
  void unplug() {
    if (joystick_ == nullptr) return;
    const SDL_JoystickID id = SDL_JoystickInstanceID(joystick_);
    SDL_JoystickClose(joystick_);
    joystick_ = nullptr;
    for (int i = 0; i < SDL_NumJoysticks(); ++i) {
      if (SDL_JoystickGetDeviceInstanceID(i) == id) SDL_JoystickDetachVirtual(i);
    }
  }

 private:
  SDL_Joystick* joystick_ = nullptr;
  SDL_JoystickGUID guid_{};
};

}  // namespace zbx::test
