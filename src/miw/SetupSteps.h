// What the setup window does, decided without a screen: which of the setup object's fields a
// page shows, and how the window answers each report of the setup manager (show the page, show
// a correctable refusal and keep the user's input, or end with a closing box).
#pragma once

#include "api/wire/Message.h"

#include <string>
#include <vector>

namespace kestel {

class CType;
class Slot;

inline constexpr const char* kSetupDoneText = "Setup has completed successfully";

// The fields of `type` shown on a page: those whose members the router's page message carries.
// A page that carries none of them (the first page, which the router has not sent yet) shows
// the fields before the type's first "separator", or every field when it has none. Only slots
// that hold a value are fields.
std::vector<const Slot*> setupPageSlots(const CType& type, const nv::message& page);

enum class SetupAnswer {
  ShowPage, // a new step: show its page and description, buttons usable again
  Refused,  // the router refused the page but it may be corrected: box, page and input kept
  Finished, // the wizard ended: box with the text, then the window closes
};

struct SetupReaction {
  SetupAnswer answer = SetupAnswer::ShowPage;
  std::string boxText; // empty: no box
};

// Whether a report answers the page the window sent and left the wizard on that page: the
// manager reports a refusal that may be corrected that way, while every move to another step
// (the router's next page, the history, a reset) comes with the new step's description.
enum class StepMoved { No, Yes };

// The window's answer to a report with the end flag `end` and `text`; an end without text is
// reported as kSetupDoneText.
SetupReaction setupReaction(bool end, const std::string& text, StepMoved moved);

} // namespace kestel
