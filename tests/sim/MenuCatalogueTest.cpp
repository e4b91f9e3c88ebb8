// The demo router serves what its descriptors describe: every menu, settings page and tool sits
// at a handler path of the sample documents, and every member of every object it holds or makes
// is a field those documents bind for that path (read with the descriptor parser itself).
#include "sim/MenuCatalogue.h"
#include "gen/JSParser.h"
#include "sim/MenuSamples.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace kestel {
namespace {

using Path = std::vector<uint32_t>;
using Fields = std::map<Path, std::set<uint32_t>>;

// The field id a descriptor "id" such as "s1" or "U40" names; 0 when it names none.
uint32_t fieldOf(const char* text) {
  static const std::map<char, uint32_t> tags = {{'s', nv::kTagString},
                                                {'u', nv::kTagU32},
                                                {'b', nv::kTagBool},
                                                {'U', nv::kTagArray | nv::kTagU32},
                                                {'r', nv::kTagRaw},
                                                {'R', nv::kTagArray | nv::kTagRaw},
                                                {'a', nv::kTagAddr6},
                                                {'A', nv::kTagArray | nv::kTagAddr6},
                                                {'m', nv::kTagMessage},
                                                {'q', nv::kTagU64},
                                                {'Q', nv::kTagArray | nv::kTagU64},
                                                {'S', nv::kTagArray | nv::kTagString}};
  auto tag = tags.find(text[0]);
  char* end = nullptr;
  unsigned long key = std::strtoul(text + 1, &end, 16);
  if (tag == tags.end() || !end || *end || end == text + 1)
    return 0;
  return uint32_t(key) | tag->second;
}

Path pathOf(const JSNode& node) {
  Path p = node.find("path")->idArray();
  p.pop_back(); // the terminator
  return p;
}

// Every field a slot list binds ("id" and the second fields "maskid", "optid" ...), not going
// into nodes that talk to a path of their own.
void collectFields(const JSNode* list, std::set<uint32_t>& out) {
  for (const JSNode& slot : children(list)) {
    if (slot.kind != JSNodeKind::Object || slot.find("path"))
      continue;
    for (const JSNode& member : children(&slot)) {
      std::string_view key = member.key ? member.key : "";
      if (member.text() && key.size() >= 2 && key.substr(key.size() - 2) == "id")
        if (uint32_t field = fieldOf(member.text()))
          out.insert(field);
    }
    collectFields(slot.find("c"), out);
  }
}

Fields descriptorFields() {
  Fields fields;
  std::map<std::string, Path> generics;
  for (const char* name : {"nimblux.jg", "ipv6.jg", "tools.jg"}) {
    std::ifstream in(std::string(KESTEL_SOURCE_DIR) + "/sim/sample/" + name);
    std::ostringstream text;
    text << in.rdbuf();
    JSParser parser;
    parser.feed(text.str());
    const JSNode* root = parser.finish();
    EXPECT_NE(root, nullptr) << name;
    for (const JSNode& service : children(root)) {
      for (const JSNode& type : children(service.find("c"))) {
        Path path;
        if (type.find("path"))
          path = pathOf(type);
        else if (const JSNode* inherit = type.find("inherit"))
          path = generics[inherit->text()];
        if (path.empty())
          continue;
        if (const JSNode* generic = type.find("generic"))
          generics[generic->text()] = path;
        std::set<uint32_t>& set = fields[path];
        for (const char* list : {"c", "request", "status"})
          collectFields(type.find(list), set);
      }
    }
  }
  return fields;
}

void expectDescribed(const Fields& fields, const Path& path, const nv::message& object,
                     const std::string& what) {
  auto it = fields.find(path);
  ASSERT_NE(it, fields.end()) << what << ": no descriptor for its path";
  for (uint32_t field : object.keys()) {
    if (((field >> 16) & 0xFF) >= 0xFE)
      continue; // STD_ID and friends
    EXPECT_EQ(1u, it->second.count(field)) << what << ": field 0x" << std::hex << field;
  }
}

TEST(MenuCatalogue, ServesOnlyWhatTheDescriptorsDescribe) {
  Fields fields = descriptorFields();
  for (const sim::MenuDefinition& menu : sim::sampleMenus()) {
    sim::MenuStore store(menu.shape);
    menu.seed(store);
    ASSERT_GT(store.size(), 0u) << menu.name;
    for (size_t i = 0; i < store.size(); ++i)
      expectDescribed(fields, menu.shape.path, store.get(store.idAt(i)), menu.name);
    expectDescribed(fields, menu.shape.path, menu.shape.defaults, menu.name + " defaults");
    for (uint32_t n = 0; menu.row && n < 4; ++n)
      expectDescribed(fields, menu.shape.path, menu.row(n), menu.name + " generated");
    for (const sim::MemberRule& rule : menu.shape.rules)
      EXPECT_EQ(1u, fields[menu.shape.path].count(rule.fieldId)) << menu.name;
  }
  for (sim::ItemDefinition& item : sim::sampleItems([] { return 1u; })) {
    if (item.live)
      item.live(item.object);
    expectDescribed(fields, item.shape.path, item.object, item.name);
  }
  using sim::PingAction;
  using sim::SetupWizard;
  using sim::TrafficQuery;
  std::pair<Path, uint32_t> tools[] = {
      {{23, 1}, PingAction::kTo.id()},           {{23, 1}, PingAction::kCount.id()},
      {{23, 1}, PingAction::kSize.id()},         {{23, 1}, PingAction::kRtt.id()},
      {{23, 1}, PingAction::kStatus.id()},       {{23, 2}, TrafficQuery::kFilter.id()},
      {{23, 2}, TrafficQuery::kFilterMask.id()}, {{23, 2}, TrafficQuery::kTx.id()},
      {{23, 3}, SetupWizard::kMode.id()},        {{23, 3}, SetupWizard::kWanAddress.id()},
      {{23, 3}, SetupWizard::kSsid.id()},        {{23, 3}, SetupWizard::kWpaKey.id()},
  };
  for (const auto& [path, field] : tools)
    EXPECT_EQ(1u, fields[path].count(field)) << std::hex << field;
}

} // namespace
} // namespace kestel
