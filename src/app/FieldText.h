// One field of a router object as text, both ways, through the convertor its slot kind installs
// (the forms the editors show and accept): fieldText reads the slot's storage in the object's
// record, setFieldText parses a typed text and stores it. Slot kinds without a convertor, and
// values a convertor does not show, fall back to a plain form (decimal numbers, texts, lists
// joined with ",", raw bytes in hex) that setFieldText does not accept.
#pragma once

#include "api/object/Object.h"
#include "gen/Slot.h"
#include "util/Expected.h"

#include <string>
#include <string_view>

namespace kestel {

// The slot's value in `object` as text; "" when the object has no record for the slot.
std::string fieldText(const IObject& object, const Slot& slot);

// Parses `text` with the slot's convertor and stores the value in `object`. On bad input the
// error is the editor's text: "Error in <field> - <accepted input> expected!". Fails also for a
// slot without convertor or whose value the convertor does not fit ("<field> cannot be set").
[[nodiscard]] Expected<void> setFieldText(IObject& object, const Slot& slot, std::string_view text);

} // namespace kestel
