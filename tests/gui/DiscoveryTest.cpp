// Finding the controller at start-up, the identity polling, the firmware
// version, the presence probe and what the shutdown closes, on the fake
// MIDI service.
#include <gtest/gtest.h>

#include <QLocale>
#include <list>

#include "support/FormFixture.h"

using namespace vlx;

namespace {

using Bytes = std::vector<uint8_t>;

// The identity request as it reaches the wire: the text's last byte is left out.
const Bytes IdentityRequest = {0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7, 0x00, 0x00, 0x00};
const QColor Red(255, 0, 0);
const QColor Green(0, 255, 0);

Bytes IdentityReply(uint8_t major, uint8_t minor, uint8_t maker = 0x34) {
  return {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x1A, maker, major, minor, 0xF7};
}

std::vector<std::string> Numbered(const std::string& prefix, int from, int to) {
  std::vector<std::string> names;
  for (int i = from; i <= to; ++i) names.push_back(prefix + std::to_string(i));
  return names;
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A window on its own fake service with the given ports. The ports' keys
// are "in<i>" and "out<i>", i being the device index.
struct Rig {
  FormFixture f;
  std::vector<std::string> in, out;
  TForm1* w = nullptr;

  Rig(const std::vector<std::string>& inputs, const std::vector<std::string>& outputs) {
    for (std::size_t i = 0; i < inputs.size(); ++i) in.push_back(f.Midi->AddInput(inputs[i], "in" + std::to_string(i)));
    for (std::size_t i = 0; i < outputs.size(); ++i)
      out.push_back(f.Midi->AddOutput(outputs[i], "out" + std::to_string(i)));
  }
  TForm1& Make() {
    w = &f.Make();
    return *w;
  }

  std::vector<int> OpenInputs() const { return Where(in.size(), [&](int i) { return f.Midi->IsInputOpen(in[i]); }); }
  std::vector<int> OpenOutputs() const {
    return Where(out.size(), [&](int i) { return f.Midi->IsOutputOpen(out[i]); });
  }
  std::vector<int> TickedInputs() const {
    return Where(in.size(), [&](int i) { return w->lbxInputDevices->Checked(i); });
  }
  std::vector<int> TickedOutputs() const {
    return Where(out.size(), [&](int i) { return w->lbxOutputDevices->Checked(i); });
  }
  // Messages each output received; every one of them must be the identity request.
  std::vector<int> RequestsSent() const {
    std::vector<int> counts;
    for (const std::string& key : out) {
      const auto sent = f.Midi->Sent(key);
      for (const Bytes& m : sent) EXPECT_EQ(m, IdentityRequest) << "to " << key;
      counts.push_back(static_cast<int>(sent.size()));
    }
    return counts;
  }
  int TotalSent() const {
    int n = 0;
    for (const std::string& key : out) n += static_cast<int>(f.Midi->Sent(key).size());
    return n;
  }
  bool Reply(int input, const Bytes& bytes) { return f.Midi->Inject(in[input], bytes); }

 private:
  static std::vector<int> Where(std::size_t n, const std::function<bool(int)>& pred) {
    std::vector<int> hits;
    for (int i = 0; i < static_cast<int>(n); ++i)
      if (pred(i)) hits.push_back(i);
    return hits;
  }
};

using Ints = std::vector<int>;

struct ScopedLocale {
  QLocale saved;
  explicit ScopedLocale(const QLocale& l) { QLocale::setDefault(l); }
  ~ScopedLocale() { QLocale::setDefault(saved); }
};

}  // namespace

TEST(Discovery, WithoutAnInputPortOrTheUsbDeviceTheWindowStartsOffline) {
  struct Case {
    const char* what;
    std::vector<std::string> inputs, outputs;
    bool usb;
    int usbChecks;
  };
  const Case cases[] = {
      {"no port at all", {}, {}, true, 0},
      {"outputs but no input", {}, {"vellox", "USB MIDI"}, true, 0},
      {"the USB check finds no controller", {"vellox", "USB MIDI"}, {"vellox", "USB MIDI"}, false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Rig r(c.inputs, c.outputs);
    r.f.UsbPresent = c.usb;
    TForm1& w = r.Make();
    EXPECT_TRUE(r.f.Dialogs->Errors.empty());
    EXPECT_EQ(r.f.UsbChecks, c.usbChecks);
    EXPECT_EQ(w.LbConnect->text(), "Disconnect");
    EXPECT_EQ(w.LbConnect->FontColor(), Red);
    EXPECT_EQ(w.LbVersions->text(), "");
    EXPECT_EQ(w.DeviceOffline, 1);
    EXPECT_EQ(w.DiscoveryMode, 0);
    EXPECT_EQ(w.lbxInputDevices->count(), static_cast<int>(c.inputs.size())) << "the lists are filled all the same";
    EXPECT_EQ(w.lbxOutputDevices->count(), static_cast<int>(c.outputs.size()));
    EXPECT_EQ(r.OpenInputs(), Ints{});
    EXPECT_EQ(r.OpenOutputs(), Ints{});
    EXPECT_EQ(r.TickedInputs(), Ints{});
    EXPECT_EQ(r.TickedOutputs(), Ints{});
    EXPECT_FALSE(w.Timer3->isActive());
    EXPECT_TRUE(w.TimerCheckUSB->isActive());
    EXPECT_EQ(w.LbUSBNum->text(), "LbUSBNum") << "discovery ended before showing a port";
    if (!c.inputs.empty()) {
      EXPECT_FALSE(r.f.Midi->Inject(r.in[0], {0x90, 60, 100})) << "no input is listening";
    }
    r.f.Form.reset();
    EXPECT_TRUE(r.f.Dialogs->Errors.empty()) << "the exit closes nothing and reports nothing";
    EXPECT_EQ(r.TotalSent(), 0);
  }
}

TEST(Discovery, FallbackPortsAreThoseWhoseNamesBeginWithCapitalUSB) {
  const std::vector<std::string> names = {"USB MIDI", "usb midi", "US", "USB2.0-MIDI", "U", "USB", " USB", "Usb", ""};
  Rig r(names, names);
  TForm1& w = r.Make();
  const Ints matching = {0, 3, 5};
  EXPECT_EQ(w.DiscoveryMode, 2);
  EXPECT_EQ(w.UsbPortCount, 3);
  EXPECT_EQ(w.DevicePort, 5) << "the last matching output";
  EXPECT_EQ(w.LbUSBNum->text(), "5");
  EXPECT_EQ(r.OpenOutputs(), matching);
  EXPECT_EQ(r.OpenInputs(), matching);
  EXPECT_EQ(r.TickedOutputs(), matching);
  EXPECT_EQ(r.TickedInputs(), matching);
  EXPECT_EQ(r.RequestsSent(), Ints({1, 0, 0, 1, 0, 1, 0, 0, 0}));
  EXPECT_TRUE(w.Timer3->isActive());
  for (int i = 0; i < static_cast<int>(names.size()); ++i)
    EXPECT_EQ(w.lbxOutputDevices->ItemText(i).toStdString(), names[i]) << "the lists keep the names whole";
}

TEST(Discovery, TheControllerOnUsbWithoutAMatchingPortOpensNothing) {
  Rig r({"Keyboard", "usb in"}, {"Synth", "usb out", "vellox2"});
  TForm1& w = r.Make();
  EXPECT_EQ(r.f.UsbChecks, 1);
  EXPECT_EQ(r.OpenInputs(), Ints{});
  EXPECT_EQ(r.OpenOutputs(), Ints{});
  EXPECT_EQ(r.TickedInputs(), Ints{});
  EXPECT_EQ(r.TickedOutputs(), Ints{});
  EXPECT_EQ(w.DiscoveryMode, 0);
  EXPECT_FALSE(w.Timer3->isActive());
  EXPECT_EQ(w.LbUSBNum->text(), "0");
  EXPECT_EQ(w.LbConnect->text(), "Disconnect");
  EXPECT_EQ(w.LbConnect->FontColor(), Red);
  EXPECT_EQ(w.DeviceOffline, 0);
  EXPECT_EQ(r.TotalSent(), 0);
  EXPECT_TRUE(r.f.Dialogs->Errors.empty());
}

TEST(Discovery, OnlyInputsBeginningWithUSBAreOpenedAndPlayIntoTheMonitor) {
  Rig r({"USB MIDI", "Keys", "USB2.0-MIDI"}, {"Synth"});
  TForm1& w = r.Make();
  EXPECT_EQ(w.DiscoveryMode, 2);
  EXPECT_EQ(w.UsbPortCount, 0);
  EXPECT_EQ(r.OpenInputs(), Ints({0, 2}));
  EXPECT_EQ(r.TickedInputs(), Ints({0, 2}));
  EXPECT_EQ(r.OpenOutputs(), Ints{});
  EXPECT_FALSE(w.Timer3->isActive());
  EXPECT_EQ(w.LbUSBNum->text(), "0");
  r.f.Midi->InjectAsync(r.in[2], {0x90, 60, 100});
  r.f.Midi->WaitIdle();
  ASSERT_TRUE(PumpUntil([&] { return w.LbStatus->text() == "144"; }, 2000));
  EXPECT_EQ(w.LbData1->text(), "60");
  EXPECT_EQ(w.LbData2->text(), "100");
  EXPECT_EQ(r.TotalSent(), 0) << "no identity request without an output";
}

// Every polling case at once, so that they share one wait for Timer3.
TEST(Discovery, IdentityPolling) {
  std::list<Rig> rigs;
  auto add = [&](std::vector<std::string> inputs, std::vector<std::string> outputs) -> Rig& {
    return rigs.emplace_back(inputs, outputs);
  };
  Rig& mode1 = add({"Keyboard"}, {"vellox"});
  Rig& twice = add({"vellox", "Keys", "vellox"}, {"Synth", "vellox", "vellox"});
  Rig& foreign = add({"vellox"}, {"vellox"});
  Rig& usb3 = add({"Keys"}, {"Synth", "Piano", "Drums", "USB MIDI"});
  Rig& usb23 = add({"USB MIDI B", "USB MIDI A"}, {"Synth", "Piano", "USB MIDI A", "USB MIDI B"});
  Rig& usb013 = add({}, {"USB A", "USB B", "Other", "USB C"});
  usb013.f.Midi->AddInput("Keys");  // discovery needs an input port to go on
  Rig& wide = add(Numbered("USB IN ", 0, 11), Numbered("Synth ", 0, 5) + Numbered("USB MIDI ", 6, 11));
  Rig& beyond = add({"Keys"}, Numbered("Synth ", 0, 10) + std::vector<std::string>{"USB MIDI"});

  std::vector<int> order;  // output indices in the order the requests went out
  usb013.f.Midi->OnSend = [&](const std::string& key, const Bytes&) { order.push_back(std::stoi(key.substr(3))); };

  for (Rig& r : rigs) r.Make();
  foreign.Reply(0, IdentityReply(1, 5, 0x35));  // another maker's device

  // Start-up: what was opened, ticked and asked.
  EXPECT_EQ(mode1.w->DiscoveryMode, 1);
  EXPECT_EQ(mode1.OpenOutputs(), Ints{0});
  EXPECT_EQ(mode1.OpenInputs(), Ints{});
  EXPECT_EQ(mode1.w->LbUSBNum->text(), "0");

  EXPECT_EQ(twice.w->DevicePort, 1);
  EXPECT_EQ(twice.OpenOutputs(), Ints{1}) << "only the first output named vellox";
  EXPECT_EQ(twice.TickedOutputs(), Ints{1});
  EXPECT_EQ(twice.OpenInputs(), Ints({0, 2})) << "every input named vellox";
  EXPECT_EQ(twice.TickedInputs(), Ints({0, 2}));
  EXPECT_EQ(twice.w->LbUSBNum->text(), "1");

  EXPECT_EQ(usb3.OpenOutputs(), Ints{3});
  EXPECT_EQ(usb3.w->DevicePort, 3);
  EXPECT_EQ(usb3.w->UsbPortCount, 1);

  EXPECT_EQ(usb23.OpenOutputs(), Ints({2, 3}));
  EXPECT_EQ(usb23.OpenInputs(), Ints({0, 1}));
  EXPECT_EQ(usb23.RequestsSent(), Ints({0, 0, 1, 1}));
  EXPECT_EQ(usb23.w->DevicePort, 3);
  EXPECT_EQ(usb23.w->LbUSBNum->text(), "3");

  EXPECT_EQ(wide.OpenOutputs(), Ints({6, 7, 8, 9, 10, 11}));
  EXPECT_EQ(wide.TickedOutputs(), Ints({6, 7, 8, 9, 10, 11}));
  EXPECT_EQ(wide.OpenInputs(), Ints({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
  EXPECT_EQ(wide.TickedInputs(), Ints({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
  EXPECT_EQ(wide.w->DevicePort, 11);
  EXPECT_EQ(wide.TotalSent(), 0) << "outputs 6 and beyond get no start-up request";

  EXPECT_EQ(beyond.OpenOutputs(), Ints{11});
  EXPECT_EQ(beyond.TickedOutputs(), Ints{11});
  EXPECT_EQ(beyond.w->DevicePort, 11);
  EXPECT_EQ(beyond.TotalSent(), 0);

  for (Rig& r : rigs) EXPECT_TRUE(r.w->Timer3->isActive());
  ASSERT_TRUE(PumpUntil(
      [&] {
        for (Rig& r : rigs)
          if (r.w->Timer3->isActive()) return false;
        return true;
      },
      6000));
  Pump(50);

  // Seven ticks each, then silence.
  for (Rig& r : rigs) {
    EXPECT_EQ(r.w->PollTicks, 7);
    EXPECT_TRUE(r.f.Dialogs->Errors.empty());
    EXPECT_EQ(r.w->LbConnect->text(), "Disconnect");
    EXPECT_EQ(r.w->LbConnect->FontColor(), Red);
    EXPECT_EQ(r.w->LbVersions->text(), "");
    EXPECT_EQ(r.w->DeviceOffline, 0);
  }
  EXPECT_EQ(mode1.RequestsSent(), Ints{8}) << "one at start-up and one per tick";
  EXPECT_EQ(twice.RequestsSent(), Ints({0, 8, 0}));
  EXPECT_EQ(foreign.RequestsSent(), Ints{8}) << "another maker's reply is no answer";
  EXPECT_EQ(usb3.RequestsSent(), Ints({0, 0, 0, 8}));
  EXPECT_EQ(usb23.RequestsSent(), Ints({0, 0, 1, 1})) << "the polling goes to ports 1 and 0, which are not open";
  EXPECT_EQ(order, Ints({0, 1, 3, 1, 0, 1, 0, 1, 0, 1}));
  EXPECT_EQ(wide.TotalSent(), 0);
  EXPECT_EQ(beyond.RequestsSent(), Ints({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7})) << "every tick goes to the one USB port";

  // A reply after the polling: in mode 2 it still picks the output of the
  // same name as the input that delivered it, but nothing is shown.
  ASSERT_TRUE(usb23.Reply(1, IdentityReply(1, 5)));  // "USB MIDI A"
  EXPECT_EQ(usb23.w->DevicePort, 2);
  ASSERT_TRUE(usb23.Reply(0, IdentityReply(1, 5)));  // "USB MIDI B"
  EXPECT_EQ(usb23.w->DevicePort, 3);
  ASSERT_TRUE(usb23.Reply(1, IdentityReply(1, 5)));
  EXPECT_EQ(usb23.w->DevicePort, 2);
  EXPECT_EQ(usb23.w->LbUSBNum->text(), "3") << "the hidden label is not updated";
  ASSERT_TRUE(twice.Reply(2, IdentityReply(1, 5)));
  EXPECT_EQ(twice.w->DevicePort, 1) << "in mode 1 a reply picks no port";
  ASSERT_TRUE(wide.Reply(11, IdentityReply(1, 5)));
  EXPECT_EQ(wide.w->DevicePort, 11) << "no output has the input's name";
  Pump(400);
  for (Rig* r : {&usb23, &twice}) {
    EXPECT_EQ(r->w->LbConnect->text(), "Disconnect");
    EXPECT_EQ(r->w->LbVersions->text(), "");
    EXPECT_EQ(r->w->PollTicks, 7);
  }

  // The shutdown closes the ports with indices 0 to 6 that discovery
  // opened; the exit sequence closes the rest.
  wide.w->FormDestroy();
  EXPECT_EQ(wide.OpenOutputs(), Ints({7, 8, 9, 10, 11}));
  EXPECT_EQ(wide.OpenInputs(), Ints({7, 8, 9, 10, 11}));
  beyond.w->FormDestroy();
  EXPECT_EQ(beyond.OpenOutputs(), Ints{11});
  for (Rig& r : rigs) {
    r.f.Form.reset();
    EXPECT_EQ(r.f.Midi->OpenInputCount(), 0);
    EXPECT_EQ(r.f.Midi->OpenOutputCount(), 0);
    EXPECT_TRUE(r.f.Dialogs->Errors.empty());
  }
}

TEST(Discovery, APortThatFailsToOpenEndsDiscoveryWithAnError) {
  struct Case {
    const char* what;
    std::vector<std::string> inputs, outputs;
    std::string failing;
    Ints openInputs, openOutputs;
  };
  const Case cases[] = {
      {"the second vellox input", {"vellox", "vellox"}, {"vellox"}, "in1", {0}, {0}},
      {"the second USB output", {"USB MIDI"}, {"USB A", "USB B", "USB C"}, "out1", {}, {0}},
      {"the USB input", {"Keys", "USB MIDI"}, {"USB A"}, "in1", {}, {0}},
      {"the vellox output", {"vellox"}, {"vellox"}, "out0", {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Rig r(c.inputs, c.outputs);
    r.f.Midi->FailOpen(c.failing, "The MIDI port is busy");
    TForm1& w = r.Make();
    EXPECT_EQ(r.f.Dialogs->Errors, std::vector<QString>{"The MIDI port is busy."});
    EXPECT_EQ(r.OpenInputs(), c.openInputs) << "ports opened before stay open";
    EXPECT_EQ(r.OpenOutputs(), c.openOutputs);
    EXPECT_EQ(r.TickedInputs(), c.openInputs);
    EXPECT_EQ(r.TickedOutputs(), c.openOutputs);
    EXPECT_EQ(r.TotalSent(), 0);
    EXPECT_FALSE(w.Timer3->isActive());
    EXPECT_EQ(w.LbUSBNum->text(), "LbUSBNum");
    EXPECT_EQ(w.LbConnect->text(), "Disconnect");
    EXPECT_EQ(w.DeviceOffline, 0);
    r.f.Form.reset();
    EXPECT_EQ(r.f.Dialogs->Errors.size(), 1u) << "closing at exit reports nothing more: "
                                              << r.f.Dialogs->Errors.back().toStdString();
    EXPECT_EQ(r.f.Midi->OpenInputCount() + r.f.Midi->OpenOutputCount(), 0);
  }
}

TEST(Discovery, TheIdentityReplyShowsTheFirmwareVersion) {
  ScopedLocale english(QLocale(QLocale::English, QLocale::UnitedStates));
  struct Case {
    uint8_t major, minor;
    const char* shown;
  };
  const Case cases[] = {{0x01, 0x05, "FW: V1.05"}, {0x02, 0x0A, "FW: V2.10"}, {0x01, 0x64, "FW: V2.00"},
                        {0x00, 0x00, "FW: V0.00"}, {0x7F, 0x63, "FW: V127.99"}};
  std::list<Rig> rigs;
  for (const Case& c : cases) {
    Rig& r = rigs.emplace_back(std::vector<std::string>{"vellox"}, std::vector<std::string>{"vellox"});
    r.Make();
    ASSERT_TRUE(r.Reply(0, IdentityReply(c.major, c.minor)));
  }
  ASSERT_TRUE(PumpUntil(
      [&] {
        for (Rig& r : rigs)
          if (r.w->LbConnect->text() != "Connect") return false;
        return true;
      },
      3000));
  auto r = rigs.begin();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    TForm1& w = *r->w;
    EXPECT_EQ(w.LbVersions->text(), c.shown);
    EXPECT_EQ(w.LbConnect->FontColor(), Green);
    EXPECT_FALSE(w.Timer3->isActive());
    EXPECT_EQ(w.PollTicks, 1) << "recognised at the first tick";
    EXPECT_EQ(r->RequestsSent(), Ints{2}) << "after that tick's request went out";
    EXPECT_EQ(w.DeviceOffline, 0);
    ++r;
  }
}

TEST(Discovery, TheVersionUsesTheLocalesDecimalSeparator) {
  ScopedLocale german(QLocale(QLocale::German, QLocale::Germany));
  Rig r({"vellox"}, {"vellox"});
  TForm1& w = r.Make();
  ASSERT_TRUE(r.Reply(0, IdentityReply(0x01, 0x05)));
  ASSERT_TRUE(PumpUntil([&] { return w.LbConnect->text() == "Connect"; }, 3000));
  EXPECT_EQ(w.LbVersions->text(), "FW: V1,05");
}

TEST(Discovery, ThePresenceProbe) {
  Rig gone({"vellox"}, {"vellox"});
  Rig other({"vellox", "Keyboard"}, {"vellox"});
  Rig closed({"vellox"}, {"vellox"});
  closed.f.UsbPresent = false;
  for (Rig* r : {&gone, &other, &closed}) r->Make();
  ASSERT_TRUE(gone.Reply(0, IdentityReply(1, 5)));
  ASSERT_TRUE(other.Reply(0, IdentityReply(1, 5)));
  ASSERT_TRUE(PumpUntil([&] { return gone.w->LbConnect->text() == "Connect" && other.w->LbConnect->text() == "Connect"; }));
  ASSERT_EQ(gone.w->LbVersions->text(), "FW: V1.05");

  gone.f.Midi->RemoveInput(gone.in[0]);
  other.f.Midi->RemoveInput(other.in[0]);
  closed.f.Midi->RemoveInput(closed.in[0]);
  ASSERT_TRUE(PumpUntil([&] { return gone.w->DeviceOffline == 1; }, 3000));
  EXPECT_EQ(gone.w->LbConnect->text(), "Disconnect");
  EXPECT_EQ(gone.w->LbConnect->FontColor(), Red);
  EXPECT_EQ(gone.w->LbVersions->text(), "");
  EXPECT_FALSE(gone.w->TimerCheckUSB->isActive());
  EXPECT_EQ(gone.w->Midi().LastProbeResult, BadDeviceId);
  // The ports discovery opened are closed at once (the output that is still
  // listed too), so that the controller is opened afresh when it comes back.
  EXPECT_EQ(gone.OpenOutputs(), Ints{});
  EXPECT_EQ(gone.OpenInputs(), Ints{});
  EXPECT_EQ(gone.TickedOutputs(), Ints{});
  EXPECT_EQ(gone.TickedInputs(), Ints{});

  // Once offline nothing reaches the service, even a command that does not
  // look at the connection state.
  gone.f.Midi->ClearSent();
  gone.f.Dialogs->Answers = {true};
  Click(gone.w->BtnSyncFw);
  EXPECT_EQ(gone.f.Dialogs->Questions.size(), 1u);
  EXPECT_EQ(gone.TotalSent(), 0);

  // Offline after CloseState: the probe goes on and only records its result.
  ASSERT_TRUE(PumpUntil([&] { return closed.w->Midi().LastProbeResult == BadDeviceId; }, 3000));
  Pump(1100);  // at least one more tick for every window
  EXPECT_TRUE(closed.w->TimerCheckUSB->isActive());
  EXPECT_EQ(closed.w->DeviceOffline, 1);

  // Another input device is left: never offline.
  EXPECT_EQ(other.w->DeviceOffline, 0);
  EXPECT_TRUE(other.w->TimerCheckUSB->isActive());
  EXPECT_EQ(other.w->LbConnect->text(), "Connect");
  EXPECT_EQ(other.w->LbVersions->text(), "FW: V1.05");
  EXPECT_EQ(other.w->Midi().LastProbeResult, MidiNoError);

  // Offline: the shutdown closes nothing (nothing is open any more).
  gone.w->FormDestroy();
  // Online: the shutdown closes what discovery opened.
  other.w->FormDestroy();
  EXPECT_EQ(other.OpenOutputs(), Ints{});
  EXPECT_EQ(other.OpenInputs(), Ints{});
  for (Rig* r : {&gone, &other, &closed}) {
    r->f.Form.reset();
    EXPECT_EQ(r->f.Midi->OpenInputCount() + r->f.Midi->OpenOutputCount(), 0);
    EXPECT_TRUE(r->f.Dialogs->Errors.empty());
  }
}

// While offline the window watches for the controller once a second; when it
// comes back (here under other port indices, behind a keyboard plugged in
// meanwhile) its ports are opened afresh and discovery runs as at start-up.
TEST(Replug, TheControllerIsFollowedOutAndBackIn) {
  Rig r({"vellox"}, {"vellox"});
  r.Make();
  ASSERT_TRUE(r.Reply(0, IdentityReply(1, 5)));
  ASSERT_TRUE(PumpUntil([&] { return r.w->LbConnect->text() == "Connect"; }));

  r.f.Midi->RemoveInput(r.in[0]);
  r.f.Midi->RemoveOutput(r.out[0]);
  ASSERT_TRUE(PumpUntil([&] { return r.w->DeviceOffline == 1; }, 3000));
  EXPECT_EQ(r.f.Midi->OpenInputCount() + r.f.Midi->OpenOutputCount(), 0);
  ASSERT_NE(r.w->TimerReplug, nullptr);
  EXPECT_TRUE(r.w->TimerReplug->isActive());
  Pump(1200);  // the watcher finds nothing and changes nothing
  EXPECT_EQ(r.w->DeviceOffline, 1);
  EXPECT_EQ(r.w->LbConnect->text(), "Disconnect");

  // A SYNC TO FW that cannot reach anybody is waiting when the controller
  // comes back: it ends silently.
  r.f.Dialogs->Answers = {true};
  Click(r.w->BtnSyncFw);
  ASSERT_TRUE(r.w->TimerSyncFW->isActive());

  r.f.Midi->AddInput("Keyboard", "kbd-in");
  r.f.Midi->AddOutput("Keyboard", "kbd-out");
  const std::string in = r.f.Midi->AddInput("vellox", "in-again");
  // Its ports come one at a time: the input alone is not yet the controller.
  Pump(1200);
  EXPECT_EQ(r.w->DeviceOffline, 1);
  EXPECT_EQ(r.f.Midi->OpenInputCount() + r.f.Midi->OpenOutputCount(), 0);
  const std::string out = r.f.Midi->AddOutput("vellox", "out-again");
  ASSERT_TRUE(PumpUntil([&] { return r.f.Midi->IsOutputOpen(out); }, 2500)) << "not found again";
  EXPECT_EQ(r.w->DeviceOffline, 0);
  EXPECT_FALSE(r.w->TimerSyncFW->isActive());
  EXPECT_TRUE(r.f.Dialogs->Notices.empty());
  EXPECT_TRUE(r.f.Midi->IsInputOpen(in));
  EXPECT_EQ(r.f.Midi->OpenInputCount(), 1);
  EXPECT_EQ(r.f.Midi->OpenOutputCount(), 1);
  // The lists are the service's as they are now.
  ASSERT_EQ(r.w->lbxInputDevices->count(), 2);
  ASSERT_EQ(r.w->lbxOutputDevices->count(), 2);
  EXPECT_EQ(r.w->lbxInputDevices->ItemText(0), "Keyboard");
  EXPECT_EQ(r.w->lbxOutputDevices->ItemText(1), "vellox");
  EXPECT_FALSE(r.w->lbxInputDevices->Checked(0));
  EXPECT_TRUE(r.w->lbxInputDevices->Checked(1));
  EXPECT_TRUE(r.w->lbxOutputDevices->Checked(1));
  EXPECT_EQ(r.w->DevicePort, 1);
  EXPECT_EQ(r.w->DiscoveryMode, 1);
  EXPECT_EQ(r.w->LbUSBNum->text(), "1");
  EXPECT_EQ(r.f.Midi->Sent(out).at(0), IdentityRequest);
  EXPECT_TRUE(r.w->Timer3->isActive());

  ASSERT_TRUE(r.f.Midi->Inject(in, IdentityReply(2, 10)));
  ASSERT_TRUE(PumpUntil([&] { return r.w->LbConnect->text() == "Connect"; }));
  EXPECT_EQ(r.w->LbConnect->FontColor(), Green);
  EXPECT_EQ(r.w->LbVersions->text(), "FW: V2.10");
  EXPECT_TRUE(r.w->TimerCheckUSB->isActive());
  EXPECT_FALSE(r.w->TimerReplug->isActive());
  EXPECT_EQ(r.w->Midi().LastProbeResult, MidiNoError);

  // Unplugged again: the probe takes it offline once more, and the exit
  // sequence finds nothing left open.
  r.f.Midi->RemoveInput(in);
  r.f.Midi->RemoveOutput(out);
  r.f.Midi->RemoveInput("kbd-in");
  ASSERT_TRUE(PumpUntil([&] { return r.w->DeviceOffline == 1; }, 3000));
  EXPECT_EQ(r.w->LbVersions->text(), "");
  EXPECT_EQ(r.f.Midi->OpenInputCount() + r.f.Midi->OpenOutputCount(), 0);
  r.f.Form.reset();
  EXPECT_TRUE(r.f.Dialogs->Errors.empty());
}

// Offline from start-up (no input port, or not on USB): the controller is
// found once it is there and on USB; the fallback names count as well.
TEST(Replug, AWindowThatStartedOfflineFindsTheControllerWhenItComes) {
  struct Case {
    const char* name;  // the controller's port name
    bool usbAtFirst;   // the USB check answers yes from the start
    int mode;
  };
  for (const Case c : {Case{"vellox", true, 1}, Case{"vellox", false, 1}, Case{"USB MIDI", true, 2}}) {
    SCOPED_TRACE(std::string(c.name) + (c.usbAtFirst ? ", on USB" : ", USB later"));
    Rig r({}, {});
    r.f.UsbPresent = c.usbAtFirst;
    r.Make();
    ASSERT_EQ(r.w->DeviceOffline, 1);
    const std::string in = r.f.Midi->AddInput(c.name);
    const std::string out = r.f.Midi->AddOutput(c.name);
    if (!c.usbAtFirst) {
      Pump(1300);  // its ports are there, its USB id is not
      EXPECT_EQ(r.w->DeviceOffline, 1);
      EXPECT_EQ(r.f.Midi->OpenInputCount() + r.f.Midi->OpenOutputCount(), 0);
      r.f.UsbPresent = true;
    }
    ASSERT_TRUE(PumpUntil([&] { return r.f.Midi->IsInputOpen(in) && r.f.Midi->IsOutputOpen(out); }, 10000));
    EXPECT_EQ(r.w->DiscoveryMode, c.mode);
    ASSERT_TRUE(r.f.Midi->Inject(in, IdentityReply(1, 7)));
    ASSERT_TRUE(PumpUntil([&] { return r.w->LbConnect->text() == "Connect"; }));
    EXPECT_EQ(r.w->LbVersions->text(), "FW: V1.07");
    EXPECT_EQ(r.w->DeviceOffline, 0);
    EXPECT_TRUE(r.f.Dialogs->Errors.empty());
  }
}

// The controller goes again between the watcher seeing it and its port
// being opened: no error box, still offline, and the next look finds it.
TEST(Replug, APortThatCannotBeOpenedIsTriedAgainQuietly) {
  Rig r({}, {});
  r.Make();
  const std::string in = r.f.Midi->AddInput("vellox");
  const std::string out = r.f.Midi->AddOutput("vellox");
  r.f.Midi->FailOpen(out, "The MIDI output port \"vellox\" is no longer available.");
  Pump(1300);
  EXPECT_EQ(r.w->DeviceOffline, 1);
  EXPECT_EQ(r.w->LbConnect->text(), "Disconnect");
  EXPECT_TRUE(r.f.Dialogs->Errors.empty());
  EXPECT_EQ(r.f.Midi->OpenInputCount() + r.f.Midi->OpenOutputCount(), 0);
  EXPECT_TRUE(r.w->TimerReplug->isActive());

  r.f.Midi->FailOpen(out, "");
  ASSERT_TRUE(PumpUntil([&] { return r.f.Midi->IsInputOpen(in) && r.f.Midi->IsOutputOpen(out); }, 10000));
  EXPECT_EQ(r.w->DeviceOffline, 0);
  EXPECT_TRUE(r.f.Dialogs->Errors.empty());
}

// The connection state's tool tip names what stands between the window and
// the controller; the state itself looks as it always did.
TEST(Discovery, TheConnectionStatesToolTipNamesWhatIsMissing) {
  struct Case {
    const char* what;
    std::vector<std::string> inputs, outputs;
    bool usb, service;
    const char* tip;
  };
  const Case cases[] = {
      {"no MIDI service", {}, {}, true, false,
       "No MIDI service: the ALSA sequencer cannot be opened and no JACK server is running."},
      {"no input port", {}, {"Synth"}, true, true, "No MIDI input port at all: is the controller plugged in?"},
      {"ports but no USB device", {"vellox", "Keyboard"}, {"vellox"}, false, true,
       "MIDI ports are there, but no USB device 2F1B:0A07: is the controller plugged in?"},
      {"the USB device but no port of its name", {"Keyboard", "usb in"}, {"Synth", "vellox2"}, true, true,
       "The USB device 2F1B:0A07 is there, but no MIDI port named \"vellox\"."},
      {"only inputs beginning with USB", {"USB MIDI"}, {"Synth"}, true, true,
       "The USB device 2F1B:0A07 is there, but no MIDI port named \"vellox\"."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Rig r(c.inputs, c.outputs);
    r.f.UsbPresent = c.usb;
    r.f.Midi->SetReachable(c.service);
    TForm1& w = r.Make();
    EXPECT_EQ(w.LbConnect->text(), "Disconnect");
    EXPECT_EQ(w.LbConnect->FontColor(), Red);
    EXPECT_EQ(w.LbConnect->toolTip(), c.tip);
  }

  // The controller's ports, and no answer to the identity request.
  Rig silent({"vellox"}, {"vellox"});
  TForm1& w = silent.Make();
  EXPECT_EQ(w.LbConnect->toolTip(), "Asking the controller for its identity.");
  ASSERT_TRUE(PumpUntil([&] { return !w.Timer3->isActive(); }, 10000));
  EXPECT_EQ(w.LbConnect->text(), "Disconnect");
  EXPECT_EQ(w.LbConnect->toolTip(), "The controller's ports are open, but it did not answer the identity request.");
}

TEST(Replug, TheWatcherKeepsTheToolTipUpToDate) {
  Rig r({}, {});
  r.f.Midi->SetReachable(false);
  r.f.UsbPresent = false;
  TForm1& w = r.Make();
  ASSERT_EQ(w.DeviceOffline, 1);
  EXPECT_TRUE(w.LbConnect->toolTip().startsWith("No MIDI service"));
  const auto tipBecomes = [&](const QString& start) {
    return PumpUntil([&] { return w.LbConnect->toolTip().startsWith(start); }, 10000);
  };

  r.f.Midi->SetReachable(true);
  EXPECT_TRUE(tipBecomes("No MIDI input port"));
  r.f.Midi->AddInput("Keyboard");
  r.f.Midi->AddOutput("Synth");
  EXPECT_TRUE(tipBecomes("MIDI ports are there, but no USB device"));
  r.f.UsbPresent = true;
  EXPECT_TRUE(tipBecomes("The USB device 2F1B:0A07 is there, but no MIDI port"));
  r.f.UsbPresent = false;
  const std::string in = r.f.Midi->AddInput("vellox");
  r.f.Midi->AddOutput("vellox");
  EXPECT_TRUE(tipBecomes("MIDI ports are there, but no USB device"));
  EXPECT_EQ(w.DeviceOffline, 1);
  r.f.UsbPresent = true;
  EXPECT_TRUE(tipBecomes("Asking the controller"));
  ASSERT_TRUE(r.f.Midi->Inject(in, IdentityReply(1, 5)));
  ASSERT_TRUE(PumpUntil([&] { return w.LbConnect->text() == "Connect"; }));
  EXPECT_EQ(w.LbConnect->toolTip(), "The controller answers.");
  EXPECT_EQ(w.LbConnect->FontColor(), Green);

  // Every input gone: the presence probe takes the window offline.
  while (!r.f.Midi->Inputs().empty()) r.f.Midi->RemoveInput(r.f.Midi->Inputs().front().Key);
  ASSERT_TRUE(PumpUntil([&] { return w.DeviceOffline == 1; }, 3000));
  EXPECT_EQ(w.LbConnect->text(), "Disconnect");
  EXPECT_TRUE(w.LbConnect->toolTip().startsWith("No MIDI input port")) << w.LbConnect->toolTip().toStdString();
}
