// Enumerations: maps from 32-bit values to display names. Static tables come from descriptor
// documents or code; computed kinds derive their entries from router objects, slots or queries.
// Convertors parse and print through this interface.
#pragma once

#include "util/Base.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace kestel {

// One pair of a static table; a table ends with an entry whose name is null.
struct ObjectView;

struct MapEntry {
  uint32_t value;
  const char* name;
};

class IEnum : public IBase {
public:
  // Number of entries currently offered, in display order.
  virtual size_t count() const = 0;
  virtual uint32_t valueAt(size_t index) const = 0;
  virtual std::string nameAt(size_t index) const = 0;

  // Finds the name of a value; false (name untouched) when the value has none.
  virtual bool nameOf(uint32_t value, std::string& name) const = 0;
  // Finds the value of a display name; false (value untouched) when no entry has that name.
  virtual bool valueOf(std::string_view name, uint32_t& value) const = 0;

  // Enumerations computed from router objects start taking their entries from the model's
  // enumeration source; wrappers (pair, default, filter) pass it on. Static tables ignore it.
  virtual void startSources() {}
  // Enumerations computed from the object at hand take their entries from `object`; wrappers
  // pass it on. Static tables ignore it.
  virtual void bindObject(const ObjectView& object) { (void)object; }
};

} // namespace kestel
