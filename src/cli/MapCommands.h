// The router commands on tables (object maps) and settings pages (holders): ls, get, set, add,
// rm, mv and watch. Each runs over an open live session and returns the exit code.
#pragma once

#include "CommandSupport.h"
#include "app/MenuCatalog.h"

#include <optional>
#include <string>
#include <vector>

namespace kestel::cli {

enum class ListFormat { Text, Json, Csv };

struct MapArguments {
  MenuRef menu;
  std::optional<uint32_t> id;     // get, set, rm, mv
  std::optional<uint32_t> before; // mv: the object to stand before (none: the end)
  std::vector<Assignment> values; // set, add; ls: the --where terms
  ListFormat format = ListFormat::Text;
  size_t count = 0; // watch: stop after this many changes (0: never)
};

int listObjects(CommandContext& context, const MapArguments& a);
int getObject(CommandContext& context, const MapArguments& a);
int setObject(CommandContext& context, const MapArguments& a);
int addObject(CommandContext& context, const MapArguments& a);
int removeObject(CommandContext& context, const MapArguments& a);
int moveObject(CommandContext& context, const MapArguments& a);
int watchObjects(CommandContext& context, const MapArguments& a);

} // namespace kestel::cli
