// The sample router's descriptor model in a context of the test's own: the documents the
// simulator serves, loaded and completed, with the slot convertors installed.
#pragma once

#include "app/MenuCatalog.h"
#include "gen/CType.h"
#include "gen/ModelContext.h"
#include "gen/Service.h"
#include "miw/SlotConvertors.h"

#include <string>

namespace kestel::test {

struct SampleModel {
  SampleModel() {
    installSlotConvertors();
    for (const char* name : {"nimblux.jg", "ipv6.jg", "tools.jg"})
      ok = ok && loadDescriptors(std::string(KESTEL_SOURCE_DIR) + "/sim/sample/" + name).ok();
    ok = ok && completeAllTypes().ok();
  }
  // The map type of the menu of that name ("IP/Firewall"); null when there is none.
  CMap* menu(const char* name) {
    Expected<MenuRef> found = findMenu(name);
    return found ? static_cast<CMap*>(found->type) : nullptr;
  }
  ModelContext context;
  ModelScope scope{context};
  bool ok = true;
};

} // namespace kestel::test
