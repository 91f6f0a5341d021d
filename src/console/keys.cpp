#include "console/keys.h"

namespace fcloak::keys {

namespace {

struct Code {
  unsigned char first;
  unsigned char second;
};

// Rows in the order of Key; columns: none, Shift, Ctrl, Alt.
constexpr Code kCodes[kKeyCount][4] = {
    {{0, 59}, {0, 84}, {0, 94}, {0, 104}},          // F1
    {{0, 60}, {0, 85}, {0, 95}, {0, 105}},          // F2
    {{0, 61}, {0, 86}, {0, 96}, {0, 106}},          // F3
    {{0, 62}, {0, 87}, {0, 97}, {0, 107}},          // F4
    {{0, 63}, {0, 88}, {0, 98}, {0, 108}},          // F5
    {{0, 64}, {0, 89}, {0, 99}, {0, 109}},          // F6
    {{0, 65}, {0, 90}, {0, 100}, {0, 110}},         // F7
    {{0, 66}, {0, 91}, {0, 101}, {0, 111}},         // F8
    {{0, 67}, {0, 92}, {0, 102}, {0, 112}},         // F9
    {{0, 68}, {0, 93}, {0, 103}, {0, 113}},         // F10
    {{224, 133}, {224, 135}, {224, 137}, {224, 139}},  // F11
    {{224, 134}, {224, 136}, {224, 138}, {224, 140}},  // F12
    {{224, 71}, {224, 71}, {224, 119}, {0, 151}},   // Home
    {{224, 72}, {224, 72}, {224, 141}, {0, 152}},   // Up
    {{224, 73}, {224, 73}, {224, 132}, {0, 153}},   // Page Up
    {{224, 75}, {224, 75}, {224, 115}, {0, 155}},   // Left
    {{224, 77}, {224, 77}, {224, 116}, {0, 157}},   // Right
    {{224, 79}, {224, 79}, {224, 117}, {0, 159}},   // End
    {{224, 80}, {224, 80}, {224, 145}, {0, 160}},   // Down
    {{224, 81}, {224, 81}, {224, 118}, {0, 161}},   // Page Down
    {{224, 82}, {224, 82}, {224, 146}, {0, 162}},   // Insert
    {{224, 83}, {224, 83}, {224, 147}, {0, 163}},   // Delete
};

}  // namespace

Modifier modifier_of(bool alt, bool ctrl, bool shift) {
  if (alt) return kAlt;
  if (ctrl) return kCtrl;
  if (shift) return kShift;
  return kNone;
}

void extended_code(Key key, Modifier modifier, unsigned char code[2]) {
  const Code& c = kCodes[key][modifier];
  code[0] = c.first;
  code[1] = c.second;
}

}  // namespace fcloak::keys
