// The live monitor: the last short message from the controller's inputs, in
// decimal or hexadecimal.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/FormFixture.h"

using namespace vlx;

namespace {

using Bytes = std::vector<uint8_t>;

enum Base { Dec = 0, Hex = 1 };

struct Monitor : ::testing::Test {
  FormFixture f;
  std::string in1, in2;
  TForm1* w = nullptr;

  void SetUp() override {
    in1 = f.Midi->AddInput("vellox", "in1");
    in2 = f.Midi->AddInput("vellox", "in2");
    f.Midi->AddOutput("vellox", "out");
    w = &f.Make();
    ASSERT_TRUE(w->InputPorts().IsOpen(0) && w->InputPorts().IsOpen(1));
  }

  // The user picks an entry of the number-base list.
  void Pick(Base base) {
    w->CmbDataDis->setCurrentIndex(base);
    emit w->CmbDataDis->activated(base);
  }
  // One message on the service's delivery thread, then the window's events.
  void Play(const std::string& key, const Bytes& message) {
    f.Midi->InjectAsync(key, message);
    f.Midi->WaitIdle();
    Pump();
  }
  QStringList Shown() const { return {w->LbStatus->text(), w->LbData1->text(), w->LbData2->text()}; }
};

}  // namespace

TEST_F(Monitor, ShowsEachMessageInTheChosenBase) {
  struct Case {
    const char* what;
    Bytes message;
    QStringList dec, hex;
  };
  const Case cases[] = {
      {"Note On", {144, 60, 100}, {"144", "60", "100"}, {"90", "3C", "64"}},
      {"Program Change", {192, 5}, {"192", "5", "0"}, {"C0", "05", "00"}},
      {"Timing Clock", {248}, {"248", "0", "0"}, {"F8", "00", "00"}},
      {"Pitch Bend, top", {0xEF, 0x7F, 0x7F}, {"239", "127", "127"}, {"EF", "7F", "7F"}},
      {"Note Off", {0x80, 0, 0}, {"128", "0", "0"}, {"80", "00", "00"}},
      {"Stop", {252}, {"252", "0", "0"}, {"FC", "00", "00"}},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // Every other message arrives while HEX is shown.
    const bool hexFirst = n++ % 2 == 1;
    Pick(hexFirst ? Hex : Dec);
    Play(in1, c.message);
    EXPECT_EQ(Shown(), hexFirst ? c.hex : c.dec);
    // Switching re-shows the stored message without waiting for another.
    Pick(hexFirst ? Dec : Hex);
    EXPECT_EQ(Shown(), hexFirst ? c.dec : c.hex);
    Pick(hexFirst ? Hex : Dec);
    EXPECT_EQ(Shown(), hexFirst ? c.hex : c.dec);
  }
}

TEST_F(Monitor, ActiveSensingIsNeitherShownNorStored) {
  Play(in1, {144, 60, 100});
  ASSERT_EQ(Shown(), QStringList({"144", "60", "100"}));
  ASSERT_TRUE(f.Midi->Inject(in2, {254}));
  Pump(20);
  EXPECT_EQ(Shown(), QStringList({"144", "60", "100"}));
  Pick(Hex);
  EXPECT_EQ(Shown(), QStringList({"90", "3C", "64"})) << "the stored message is still the Note On";
}

TEST_F(Monitor, BeforeAnyMessageTheDisplayIsEmptyUntilAnEntryIsPicked) {
  EXPECT_EQ(Shown(), QStringList({"", "", ""}));
  ASSERT_TRUE(f.Midi->Inject(in1, {254}));
  Pump(20);
  EXPECT_EQ(Shown(), QStringList({"", "", ""}));
  Pick(Dec);
  EXPECT_EQ(Shown(), QStringList({"0", "0", "0"}));
  Pick(Hex);
  EXPECT_EQ(Shown(), QStringList({"00", "00", "00"}));
}

TEST_F(Monitor, MessagesFromBothInputsReplaceEachOther) {
  const std::pair<std::string*, Bytes> plays[] = {
      {&in1, {144, 60, 100}}, {&in2, {176, 7, 99}}, {&in1, {128, 60, 0}}, {&in2, {208, 42}}};
  for (const auto& [key, message] : plays) {
    Play(*key, message);
    EXPECT_EQ(Shown(), QStringList({QString::number(message[0]), QString::number(message.size() > 1 ? message[1] : 0),
                                    QString::number(message.size() > 2 ? message[2] : 0)}))
        << *key;
  }
}

// A flood from the service's side: the display never shows one message's
// status with another's data, and ends on the last message.
TEST_F(Monitor, AFloodEndsOnTheLastMessage) {
  constexpr int Count = 50000;
  std::atomic<bool> done{false};
  std::thread player([&] {
    for (int i = 0; i < Count; ++i) {
      const uint8_t k = static_cast<uint8_t>(i % 16);
      f.Midi->Inject(i % 2 ? in1 : in2, {static_cast<uint8_t>(0x90 | k), static_cast<uint8_t>(8 * k),
                                         static_cast<uint8_t>(8 * k + 1)});
    }
    f.Midi->Inject(in1, {0xB0, 1, 2});
    done = true;
  });
  int checks = 0;
  QString torn;  // the first display that mixed two messages
  for (int i = 0; !done && torn.isEmpty(); ++i) {
    Pick(i % 2 ? Hex : Dec);
    const int base = i % 2 ? 16 : 10;
    bool ok[3];
    const int s = w->LbStatus->text().toInt(&ok[0], base);
    const int d1 = w->LbData1->text().toInt(&ok[1], base);
    const int d2 = w->LbData2->text().toInt(&ok[2], base);
    const int k = s & 0x0F;
    if (!(ok[0] && ok[1] && ok[2]))
      torn = Shown().join(' ');
    else if (s != 0xB0 && s != 0 && ((s & 0xF0) != 0x90 || d1 != 8 * k || d2 != 8 * k + 1))
      torn = Shown().join(' ');
    ++checks;
    Pump();
  }
  player.join();
  EXPECT_EQ(torn, "") << "status and data of different messages";
  EXPECT_TRUE(PumpUntil([&] { return Shown() == QStringList({"B0", "01", "02"}) || Shown() == QStringList({"176", "1", "2"}); }, 2000))
      << Shown().join(' ').toStdString();
  Pick(Dec);
  EXPECT_EQ(Shown(), QStringList({"176", "1", "2"}));
  RecordProperty("consistency_checks", checks);
}
