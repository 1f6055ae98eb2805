// The editor's window on the real MIDI service (RtMidi over the test JACK
// server), started before any controller: the controller program
// (vellox-sim) appears, vanishes (its ports go, on SIGUSR1; or the program
// ends) and comes back, and a second controller program with another
// firmware takes its place.
//
// The waits are bounded, not timed: the delays from a controller appearing
// or vanishing to the window showing it are printed for the record.
#include <gtest/gtest.h>
#include <signal.h>

#include <QElapsedTimer>
#include <QLocale>
#include <QProcess>
#include <iostream>

#include "VirtualController.h"
#include "midi/RtMidiService.h"
#include "support/FormFixture.h"
#include "tools/jackpeer/JackPeer.h"

using namespace vlx;

namespace {

const QString SyncPcDoneText = "      Device data successfully synchronized to the Editor software.     ";

// One run of the controller program, as a JACK client "vellox".
class Sim {
 public:
  explicit Sim(const QStringList& args) {
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(VLX_SIM_BINARY, args);
  }
  ~Sim() { Stop(); }

  // Waits for its start-up line: its client and ports exist from then on.
  bool Started() { return NextLine().startsWith("vellox-sim: JACK client \"vellox\""); }
  // SIGUSR1: its ports go, or come back; true once it says it is done.
  bool Unplug() { return Toggle("vellox-sim: unplugged"); }
  bool Plug() { return Toggle("vellox-sim: plugged in"); }
  // SIGTERM: it closes its client, and its ports leave the JACK graph.
  void Stop() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.terminate();
    if (!process_.waitForFinished(10000)) {
      process_.kill();
      process_.waitForFinished(10000);
    }
  }

 private:
  QByteArray NextLine() {
    QElapsedTimer t;
    t.start();
    while (!process_.canReadLine()) {
      if (process_.state() == QProcess::NotRunning || t.elapsed() > 10000) return {};
      process_.waitForReadyRead(100);
    }
    return process_.readLine().trimmed();
  }
  bool Toggle(const QByteArray& said) {
    if (::kill(static_cast<pid_t>(process_.processId()), SIGUSR1) != 0) return false;
    return NextLine() == said;
  }

  QProcess process_;
};

struct ReplugOverJack : ::testing::Test {
  FormFixture f;
  TForm1* w = nullptr;
  QElapsedTimer clock;

  void SetUp() override {
    QLocale::setDefault(QLocale::c());
    w = &f.Make(CreateRtMidiService(MidiApiChoice::Jack));
  }
  void TearDown() override { f.Form.reset(); }

  bool Connected() const { return w->LbConnect->text() == "Connect" && w->DeviceOffline == 0; }

  // The controller program has appeared; waits for the window to connect.
  void ExpectFound(const QString& version) {
    clock.start();
    ASSERT_TRUE(PumpUntil([&] { return Connected(); }, 6000)) << "the window never connected";
    std::cout << "controller appeared: \"Connect\" after " << clock.elapsed() << " ms\n";
    EXPECT_EQ(w->LbConnect->FontColor(), QColor(0, 255, 0));
    EXPECT_EQ(w->LbVersions->text(), version);
    EXPECT_TRUE(w->TimerCheckUSB->isActive());
    EXPECT_EQ(w->lbxOutputDevices->ItemText(w->DevicePort), "vellox");
    EXPECT_TRUE(w->lbxOutputDevices->Checked(w->DevicePort));
  }

  // The controller program has vanished; waits for the window to see it.
  void ExpectLost() {
    clock.start();
    ASSERT_TRUE(PumpUntil([&] { return w->DeviceOffline == 1; }, 6000)) << "the window never noticed";
    std::cout << "controller vanished: \"Disconnect\" after " << clock.elapsed() << " ms\n";
    EXPECT_EQ(w->LbConnect->text(), "Disconnect");
    EXPECT_EQ(w->LbConnect->FontColor(), QColor(255, 0, 0));
    EXPECT_TRUE(w->LbVersions->text().isEmpty());
    for (int i = 0; i < w->InputPorts().Count(); ++i) EXPECT_FALSE(w->InputPorts().IsOpen(i)) << "input " << i;
    for (int i = 0; i < w->OutputPorts().Count(); ++i) EXPECT_FALSE(w->OutputPorts().IsOpen(i)) << "output " << i;
  }
};

TEST_F(ReplugOverJack, TheWindowFollowsTheControllerProgramInAndOut) {
  ASSERT_EQ(w->LbConnect->text(), "Disconnect");
  ASSERT_EQ(w->DeviceOffline, 1) << "no controller at start-up";
  Pump(1200);  // the watcher looks at least once and finds nothing
  EXPECT_EQ(w->LbConnect->text(), "Disconnect");

  {
    Sim first({"--fw", "1.05"});
    ASSERT_TRUE(first.Started());
    ExpectFound("FW: V1.05");

    // SYNC TO PC reads the controller's (factory) profile.
    w->EdtValue->setText("12");
    f.Dialogs->Answers = {true};
    Click(w->BtnSyncPc);
    ASSERT_TRUE(PumpUntil([&] { return !f.Dialogs->Notices.empty(); }, 3000)) << "no dump seen";
    EXPECT_EQ(f.Dialogs->Notices, std::vector<QString>{SyncPcDoneText});
    EXPECT_EQ(w->EdtValue->text(), "7") << "the slider's factory value";
    f.Dialogs->Notices.clear();

    // Its ports go and come back (the client stays).
    ASSERT_TRUE(first.Unplug());
    ExpectLost();
    ASSERT_TRUE(first.Plug());
    ExpectFound("FW: V1.05");
    // The program ends.
    first.Stop();
    ExpectLost();
  }

  // Another client has taken the first place in the lists meanwhile.
  JackPeer::Options other;
  other.ClientName = "vlxother";
  JackPeer keyboard(other);
  Sim second({"--fw", "2.10"});
  ASSERT_TRUE(second.Started());
  ExpectFound("FW: V2.10");
  EXPECT_EQ(w->DevicePort, 1) << "the controller came back at another index";

  // SYNC TO FW reaches the second controller: its acknowledgement is shown.
  f.Dialogs->Answers = {true};
  Click(w->BtnSyncFw);
  ASSERT_TRUE(PumpUntil([&] { return !f.Dialogs->Notices.empty(); }, 3000)) << "no acknowledgement seen";
  EXPECT_TRUE(f.Dialogs->Errors.empty());
}

}  // namespace
