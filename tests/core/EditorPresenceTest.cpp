// Seeing the editor's window in another program's port listing.
#include <gtest/gtest.h>

#include "session/EditorPresence.h"

using namespace vlx;

TEST(EditorPresence, TheEditorsClientsAreToldFromOthers) {
  const auto port = [](const char* client) { return MidiPortId{client, std::string(client) + ":port"}; };
  struct Case {
    const char* what;
    std::vector<MidiPortId> inputs, outputs;
    bool connected;
  };
  const Case cases[] = {
      {"nothing listed", {}, {}, false},
      {"the controller only", {port("vellox")}, {port("vellox")}, false},
      {"the editor's ports on ALSA", {port("vellox"), port("VLX210")}, {port("VLX210"), port("vellox")}, true},
      {"the editor's input only (listed as an output)", {port("vellox")}, {port("VLX210")}, true},
      {"the editor's ports on JACK", {port("VLX210-02")}, {port("VLX210-01")}, true},
      {"names that only begin like the editor's",
       {port("VLX2100"), port("VLX210-"), port("VLX210-1a"), port("vlx210")},
       {port("VLX21"), port("XVLX210")},
       false},
  };
  for (const Case& c : cases) EXPECT_EQ(EditorIsConnected(c.inputs, c.outputs), c.connected) << c.what;
}
