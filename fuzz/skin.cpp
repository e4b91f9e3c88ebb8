// Loads arbitrary bytes as a skin and walks the tree with lookups and redirects.
#include "gen/Skin.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kestel::Skin skin;
  skin.load(std::string_view(reinterpret_cast<const char*>(data), size));
  for (const auto& [name, child] : skin.root().children) {
    kestel::SkinEntry& top = skin.lookupTop(name);
    for (const auto& [inner, grandchild] : child->children) {
      skin.select(top, inner);
      (void)kestel::Skin::nameOr(skin.lookup(top, "x"), inner);
    }
    skin.clearRedirect(top);
  }
  return 0;
}
