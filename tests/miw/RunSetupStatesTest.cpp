// The headless decisions of the action, query and setup windows: buttons, title, focus and
// closing for every state an operation reports; the setup window's answer to each report; and
// which fields a setup page shows, from a setup type loaded from a descriptor document.
#include "gen/CType.h"
#include "gen/ModelTestUtil.h"
#include "miw/RunWindowState.h"
#include "miw/SetupSteps.h"

#include <gtest/gtest.h>

namespace kestel {
namespace {

TEST(RunWindowStateTest, ButtonsTitleFocusAndClosing) {
  struct Case {
    bool running, stopping, ended;
    CloseWhenDone closeWhenDone;
    bool start, stop;
    const char* title;
    RunFocus focus;
    bool close;
  } cases[] = {
      // Opened on an idle action: nothing has ended, even for a window that closes when done.
      {false, false, false, CloseWhenDone::Yes, true, false, "Ping", RunFocus::Start, false},
      {true, false, false, CloseWhenDone::No, false, true, "Ping (Running)", RunFocus::Stop, false},
      // A stop waiting for the router's answer cannot be asked for again.
      {true, true, false, CloseWhenDone::No, false, false, "Ping (Running)", RunFocus::Stop, false},
      {false, false, true, CloseWhenDone::No, true, false, "Ping", RunFocus::Start, false},
      {false, false, true, CloseWhenDone::Yes, true, false, "Ping", RunFocus::Start, true},
  };
  for (const Case& c : cases) {
    RunWindowState s = runWindowState("Ping", c.running, c.stopping, c.ended, c.closeWhenDone);
    EXPECT_EQ(c.start, s.startEnabled) << c.title;
    EXPECT_EQ(c.stop, s.stopEnabled) << c.title;
    EXPECT_EQ(c.title, s.title);
    EXPECT_EQ(c.focus, s.focus) << c.title;
    EXPECT_EQ(c.close, s.close) << c.title;
  }
}

TEST(SetupStepsTest, AnswersToReports) {
  struct Case {
    bool end;
    const char* text;
    StepMoved moved;
    SetupAnswer answer;
    const char* box;
  } cases[] = {
      {true, "", StepMoved::No, SetupAnswer::Finished, kSetupDoneText},
      {true, "", StepMoved::Yes, SetupAnswer::Finished, kSetupDoneText},
      {true, "Router mode set up", StepMoved::Yes, SetupAnswer::Finished, "Router mode set up"},
      {true, "failed", StepMoved::No, SetupAnswer::Finished, "failed"},
      {false, "the WPA key is short", StepMoved::No, SetupAnswer::Refused, "the WPA key is short"},
      // A new step comes with its description, which goes to the description line, not a box.
      {false, "Internet address", StepMoved::Yes, SetupAnswer::ShowPage, ""},
      {false, "", StepMoved::Yes, SetupAnswer::ShowPage, ""},
      {false, "", StepMoved::No, SetupAnswer::ShowPage, ""},
  };
  for (const Case& c : cases) {
    SetupReaction r = setupReaction(c.end, c.text, c.moved);
    EXPECT_EQ(c.answer, r.answer) << c.text;
    EXPECT_EQ(c.box, r.boxText) << c.text;
  }
}

constexpr const char* kWizard = R"([{"name": "Setup", "title": "Setup", "c": [
  {"type": "setup", "title": "Setup", "path": [23, 3], "c": [
    {"type": "enm", "name": "mode", "id": "u1", "title": "Mode",
     "values": {"type": "static", "map": ["a", "b"]}},
    {"type": "string", "name": "note", "id": "s9", "title": "Note"},
    {"type": "separator", "name": "sep1"},
    {"type": "ipaddr", "name": "wan", "id": "u2", "title": "WAN"},
    {"type": "network", "name": "lan", "id": "u3", "maskid": "u4", "title": "LAN"},
    {"type": "string", "name": "ssid", "id": "s5", "title": "SSID"},
    {"type": "buttonsep", "name": "bs"}]}]}])";

class SetupPagesTest : public ModelTest {};

TEST_F(SetupPagesTest, PageShowsTheFieldsItCarries) {
  ASSERT_EQ("", loadAndComplete(kWizard));
  const CType& type = lastType();
  auto names = [&](const nv::message& page) {
    std::string out;
    for (const Slot* s : setupPageSlots(type, page))
      out += (out.empty() ? "" : ",") + s->name();
    return out;
  };
  nv::message first, internet, local, mask, foreign;
  internet.set(nv::u32_id(2), 0u);
  local.set(nv::string_id(5), "x");
  local.set(nv::u32_id(3), 1u);
  mask.set(nv::u32_id(4), 24u); // the second field alone brings its slot
  foreign.set(nv::u32_id(77), 1u);
  EXPECT_EQ("mode,note", names(first)); // before the first separator
  EXPECT_EQ("wan", names(internet));
  EXPECT_EQ("lan,ssid", names(local)); // in the type's order
  EXPECT_EQ("lan", names(mask));
  EXPECT_EQ("mode,note", names(foreign)); // nothing of ours: the opening page
}

} // namespace
} // namespace kestel
