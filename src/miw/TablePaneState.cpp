#include "miw/TablePaneState.h"

#include "miw/TablePaneActions.h"

#include <algorithm>

namespace kestel {
namespace {

constexpr size_t kStatusLimit = 80;

} // namespace

PaneStatusTexts paneStatusTexts(const PaneStatusFacts& f) {
  PaneStatusTexts t;
  t.items = itemCount(f.shown);
  if (f.total != f.shown)
    t.items += " out of " + std::to_string(f.total);
  if (f.selected != 0)
    t.items += " (" + std::to_string(f.selected) + " selected)";
  if (t.items.size() > kStatusLimit)
    t.items.resize(kStatusLimit);
  if (f.frozen)
    t.state = "Frozen";
  else if (f.fetch == FetchState::Running || f.fetch == FetchState::Paging)
    t.state = "Loading...";
  t.operation = f.operation;
  return t;
}

void saveWindowState(const TableWindowState& state, StringMap& settings) {
  std::string panes;
  for (uint32_t id : state.panes)
    panes += packData(id);
  settings.set("panes", panes);
  if (state.active == kNoId)
    settings.remove("active");
  else
    settings.set("active", packData(state.active));
}

TableWindowState loadWindowState(const StringMap& settings) {
  TableWindowState state;
  auto panes = settings.get("panes");
  if (panes && panes->size() % 4 == 0)
    for (size_t at = 0; at < panes->size(); at += 4) {
      uint32_t id = 0;
      unpackData(panes->substr(at, 4), id);
      if (id != kNoId && std::find(state.panes.begin(), state.panes.end(), id) == state.panes.end())
        state.panes.push_back(id);
    }
  uint32_t active = kNoId;
  unpackData(settings.get("active"), active);
  if (std::find(state.panes.begin(), state.panes.end(), active) != state.panes.end())
    state.active = active;
  else if (!state.panes.empty())
    state.active = state.panes.front();
  return state;
}

void saveSelection(uint32_t id, StringMap& settings) {
  if (id == kNoId)
    settings.remove("sel");
  else
    settings.set("sel", packData(id));
}

uint32_t loadSelection(const StringMap& settings) {
  uint32_t id = kNoId;
  unpackData(settings.get("sel"), id);
  return id;
}

} // namespace kestel
