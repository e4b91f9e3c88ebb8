// Convertors turn one field value into the text shown in tables and editors, read typed text
// back into a value, and say in words what input they accept. Parsing decides acceptance: check
// is parse without the value, so a text that passes check always parses into an in-range value.
// This header holds the interface, the editor's input-error texts and the convertors that wrap
// others (enumeration, alternatives, tristate, postfix); the kinds live in ConvertorNumber.h,
// ConvertorTime.h and ConvertorAddress.h.
#pragma once

#include "gen/Enum.h"
#include "miw/ConvertorValue.h"
#include "util/Base.h"
#include "util/Expected.h"

#include <string>
#include <string_view>
#include <vector>

namespace kestel {

class IConvertor : public IBase {
public:
  // The text shown for `value`; a value of a kind the convertor does not show gives "".
  virtual std::string format(const FieldValue& value) const = 0;
  // The value of `text`; an error whose text is describe() when the text is not acceptable.
  [[nodiscard]] virtual Expected<FieldValue> parse(std::string_view text) const = 0;
  // Whether parse accepts `text`.
  bool check(std::string_view text) const { return parse(text).ok(); }
  // The accepted input in words, for "Error in <field> - <words> expected!".
  virtual std::string describe() const = 0;
  // Width class of a value: 10, 100, 1000, 10000, or 0xFFFFFFFF for larger and non-numbers.
  virtual uint32_t magnitude(const FieldValue& value) const;
  // The class in decimal, or "more than 10000".
  virtual std::string magnitudeLabel(uint32_t magnitudeClass) const;
  // Orders two values for sorting: negative, 0 or positive; values of different kinds order by
  // kind.
  virtual int compare(const FieldValue& a, const FieldValue& b) const;
};

// The width class of a plain number (shared by the number kinds).
uint32_t numberMagnitude(int64_t value);

// Editor texts for a field whose text fails the check.
std::string inputErrorTitle(std::string_view field);                             // "Wrong <field>"
std::string inputErrorText(std::string_view field, const IConvertor& convertor); // "Error in ..."
std::string addressErrorText(std::string_view field);   // "... - ip address expected!"
std::string emptyListErrorText(std::string_view field); // "Erron in ... at least one entry ..."

// Looks a display name up in `values`; false (out untouched) when no entry has that name.
bool string2enum(const std::string& name, IEnum* values, unsigned* out);

// Wrappers keep a reference to the enumerations and convertors they are given.
// Enumeration over a u32 value: shows the entry's name, or the number in `radix` when the value
// has none; reads a name, or (unless `strict`) a number in `radix`.
Reference<IConvertor> enumConvertor(IEnum* values, unsigned int radix, bool strict);
// Tries the alternatives in order: format uses the first that shows the value as a non-empty
// text, parse the first that accepts the text. Described by the alternatives joined with " or ".
Reference<IConvertor> altConvertor(std::vector<Reference<IConvertor>> alternatives);
// Index of the first alternative of an alt convertor made with the same list that accepts `text`
// (for slots that bind each alternative to its own member); -1 when none does.
int altChoice(const std::vector<Reference<IConvertor>>& alternatives, std::string_view text);
// Adds the unset state (monostate, shown and typed as the empty text) to `inner`.
Reference<IConvertor> tristateConvertor(IConvertor* inner);
// Appends `postfix` to the inner text; reading drops it (and the blanks before it) when present.
Reference<IConvertor> postfixConvertor(IConvertor* inner, const std::string& postfix);
// "true" and "false".
Reference<IConvertor> boolConvertor();
// Text with a length range in characters (UTF-8 code points); max 0xFFFFFFFF means none.
Reference<IConvertor> textConvertor(uint32_t minLength, uint32_t maxLength);
// The router's version text, ordered by its packed value; accepts what routerVersion packs.
Reference<IConvertor> versionConvertor();

// Reads and writes one element of an array value (u32 or text arrays); indexes from 65535 up
// are never stored.
class IAccessor : public IBase {
public:
  // The element, or monostate when the array is shorter or not an array.
  virtual FieldValue get(const FieldValue& array) const = 0;
  // Stores the element, growing the array with zero/empty elements; false when the kinds differ.
  [[nodiscard]] virtual bool set(FieldValue& array, const FieldValue& element) const = 0;
};
Reference<IAccessor> arrayAccessor(unsigned int index);

} // namespace kestel
