// The PC keyboard's extended keys and the two-byte codes a single-key read
// gives for them: a first byte of 0 or 224 and a nonzero code.
#pragma once

namespace fcloak::keys {

enum Key {
  kF1, kF2, kF3, kF4, kF5, kF6, kF7, kF8, kF9, kF10, kF11, kF12,
  kHome, kUp, kPageUp, kLeft, kRight, kEnd, kDown, kPageDown, kInsert, kDelete,
  kKeyCount
};

// The modifier that counts for an extended key: Alt before Ctrl before Shift.
enum Modifier { kNone, kShift, kCtrl, kAlt };

Modifier modifier_of(bool alt, bool ctrl, bool shift);

// Writes the key's two-byte code into code.
void extended_code(Key key, Modifier modifier, unsigned char code[2]);

}  // namespace fcloak::keys
