// A profile unlike the factory one in a field of every kind the controller
// stores, for the tests that send it and read it back.
#pragma once

#include "VirtualController.h"

inline vlx::VirtualController::Body SomeProfile() {
  vlx::VirtualController::Body b = vlx::VirtualController::FactoryBody();
  b[0] = 0x40;   // pad A1
  b[16] = 0x55;  // slider value
  b[18] = 0x01;  // slider data type PC
  b[22] = 40;    // knob 2 value
  b[34] = 0x02;  // scale MINOR
  b[38] = 0x0B;  // key channel
  return b;
}
