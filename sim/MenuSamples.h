// The demo router's menus: for every table and settings page of the sample descriptors, its
// handler path, what it allows (from the descriptor's flags) and its member rules, with a small
// plausible set of objects; and a generator of rows for the tables that can be filled large.
#pragma once

#include "sim/ItemHandler.h"
#include "sim/MenuStore.h"

#include <functional>
#include <string>
#include <vector>

namespace kestel::sim {

struct MenuDefinition {
  std::string name; // how switches and tests name the menu ("firewall", "log" ...)
  MenuShape shape;
  std::function<void(MenuStore&)> seed; // the sample objects
  // The n-th generated object of a large table (--rows) and of the churn; null: none.
  nv::message (*row)(uint32_t n) = nullptr;
};

struct ItemDefinition {
  std::string name;
  ItemShape shape;
  nv::message object;
  std::function<void(nv::message&)> live; // refreshes changing members before a read
};

std::vector<MenuDefinition> sampleMenus();
// `uptimeSeconds` tells how long the router has been up; `cpuLoad` (when given) its CPU load in
// percent, else the load follows the uptime.
std::vector<ItemDefinition> sampleItems(std::function<uint32_t()> uptimeSeconds,
                                        std::function<uint32_t()> cpuLoad = {});

} // namespace kestel::sim
