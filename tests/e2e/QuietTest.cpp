// The editor's program on a machine without any MIDI service: it says so in
// one line at start-up and then stays quiet, however long it runs.
//
// JACK is made unreachable by naming a server that does not exist
// (JACK_DEFAULT_SERVER). The ALSA sequencer is unreachable where
// /dev/snd/seq does not exist (containers, CI); where it does, the program
// runs in a mount namespace of its own with an empty /dev/snd over the real
// one (unshare), and the test is skipped when that cannot be made.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QProcess>
#include <QTemporaryDir>

#include "midi/RtMidiService.h"

namespace {

TEST(NoMidiService, OneLineAtStartUpAndNothingMoreOverTenSeconds) {
  QTemporaryDir home;
  ASSERT_TRUE(home.isValid());
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("JACK_DEFAULT_SERVER", "vlx-no-server-" + QString::number(getpid()));
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("HOME", home.path());
  env.insert("XDG_CONFIG_HOME", home.path() + "/config");
  env.insert("XDG_RUNTIME_DIR", home.path());  // Qt warns when it is not set
  QFile::setPermissions(home.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

  QString program = VLX_EDITOR_BINARY;
  QStringList args;
  if (access("/dev/snd/seq", F_OK) == 0) {
    QProcess probe;
    probe.start("unshare", {"-rm", "sh", "-c", "mount -t tmpfs none /dev/snd && test ! -e /dev/snd/seq"});
    if (!probe.waitForFinished(10000) || probe.exitCode() != 0)
      GTEST_SKIP() << "this machine has an ALSA sequencer, and no mount namespace can hide it";
    args = {"-rm", "sh", "-c", "mount -t tmpfs none /dev/snd && exec \"$0\"", program};
    program = "unshare";
  }

  QProcess editor;
  editor.setProcessEnvironment(env);
  editor.setWorkingDirectory(home.path());
  editor.start(program, args);
  ASSERT_TRUE(editor.waitForStarted(10000)) << editor.errorString().toStdString();
  EXPECT_FALSE(editor.waitForFinished(10000)) << "the editor ended: " << editor.exitCode();
  const QByteArray err = editor.readAllStandardError();
  editor.kill();
  editor.waitForFinished(10000);

  EXPECT_EQ(err.toStdString(), vlx::NoMidiServiceLine("VLX210") + "\n");
}

}  // namespace
