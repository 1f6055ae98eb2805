// The choice of the controller's ports and the cause when there is none.
#include <gtest/gtest.h>

#include <set>

#include "session/ControllerPorts.h"

using namespace vlx;

namespace {

using Names = std::vector<std::string>;
using Ints = std::vector<int32_t>;
using C = ControllerCause;

}  // namespace

TEST(ControllerPorts, TheChoiceByNameAndTheCauseWhenThereIsNone) {
  struct Case {
    const char* what;
    Names inputs, outputs;
    bool usb;
    std::string portName;
    C cause;
    int32_t mode;
    Ints outs, ins;
  };
  const Case cases[] = {
      {"the named ports", {"Keyboard", "vellox", "vellox"}, {"vellox", "Synth", "vellox"}, true, "", C::Found, 1,
       {0}, {1, 2}},
      {"a named output without an input", {"Keyboard"}, {"Synth", "vellox"}, true, "", C::Found, 1, {1}, {}},
      {"every port beginning with USB", {"USB MIDI", "usb in", "vellox"}, {"US", "USB2.0-MIDI", "USB MIDI"}, true,
       "", C::Found, 2, {1, 2}, {0}},
      {"only inputs beginning with USB", {"USB MIDI"}, {"Synth"}, true, "", C::Found, 2, {}, {0}},
      {"no input port at all", {}, {"vellox"}, true, "", C::NoInputPort, 1, {0}, {}},
      {"no USB device", {"vellox"}, {"vellox"}, false, "", C::NoUsbDevice, 1, {0}, {0}},
      {"no port of the controller's names", {"Keyboard", "vellox2"}, {"Synth", "Vellox"}, true, "",
       C::NoControllerPort, 0, {}, {}},
      {"a port named by the user: no fallback, no checks", {"Sim", "USB MIDI"}, {"USB MIDI", "Sim"}, false, "Sim",
       C::Found, 1, {1}, {0}},
      {"a name that is not there", {"USB MIDI"}, {"USB MIDI"}, true, "Sim", C::NoControllerPort, 0, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    int usbChecks = 0;
    const TPortChoice choice = ChooseControllerPorts(
        c.inputs, c.outputs,
        [&] {
          ++usbChecks;
          return c.usb;
        },
        c.portName);
    EXPECT_EQ(choice.Cause, c.cause);
    EXPECT_EQ(choice.Mode, c.mode);
    EXPECT_EQ(choice.Outputs, c.outs);
    EXPECT_EQ(choice.Inputs, c.ins);
    // The USB check is asked only when there is an input port, and not at
    // all for a port named by the user.
    EXPECT_EQ(usbChecks, c.inputs.empty() || !c.portName.empty() ? 0 : 1);
  }
  // Without a USB check the ports are chosen by name alone.
  EXPECT_EQ(ChooseControllerPorts({"vellox"}, {"vellox"}, nullptr).Cause, C::Found);
}

TEST(ControllerPorts, TheOutputOfTheInputThatAnswered) {
  const Names outputs = {"USB A", "USB B", "USB A"};
  EXPECT_EQ(OutputOfAnsweringInput(outputs, "USB A", 1), 2);  // the last of that name
  EXPECT_EQ(OutputOfAnsweringInput(outputs, "USB B", 2), 1);
  EXPECT_EQ(OutputOfAnsweringInput(outputs, "USB C", 2), 2);  // none: unchanged
}

TEST(ControllerPorts, EveryCauseHasItsOwnSentence) {
  std::set<std::string> texts;
  for (C c : {C::Found, C::NoMidiService, C::NoInputPort, C::NoUsbDevice, C::NoControllerPort, C::NoAnswer,
              C::Connected})
    EXPECT_TRUE(texts.insert(ControllerCauseText(c)).second) << ControllerCauseText(c);
  EXPECT_NE(ControllerCauseText(C::NoUsbDevice).find("2F1B:0A07"), std::string::npos);
  EXPECT_NE(ControllerCauseText(C::NoControllerPort).find("\"vellox\""), std::string::npos);
}
