// Rows copied for Paste: the packed fields come back without the objects' ids, a copy too large
// for one message carries no rows (its text still goes), and bytes that are not copied rows are
// refused.
#include "miw/CopiedRows.h"
#include "api/object/PackerElements.h"
#include "api/wire/Vocabulary.h"

#include <gtest/gtest.h>

namespace kestel {
namespace {

constexpr nv::string_id kName{0x100001};
constexpr nv::u32_id kPort{0x100002};

struct Rule {
  std::string name;
  uint32_t port = 0;
};

class RuleObject final : public RecordObject<Rule> {
public:
  explicit RuleObject(Reference<IPacker> packer) : RecordObject(std::move(packer)) {}
};

Reference<IPacker> rulePacker() {
  static Reference<IPacker> packer = [] {
    auto p = createPacker();
    p->add(createText(memberOf(&Rule::name), kName), 1);
    p->add(createNumber(memberOf(&Rule::port), kPort), 2);
    p->add(createNumber(memberOf(&Rule::port), STD_ID), 3); // a packer that writes an id too
    return p;
  }();
  return packer;
}

Reference<IObject> rule(uint32_t id, std::string name, uint32_t port) {
  auto o = makeRef<RuleObject>(rulePacker());
  o->setID(id);
  o->rec().name = std::move(name);
  o->rec().port = port;
  return o;
}

TEST(CopiedRows, FieldsComeBackWithoutIds) {
  Reference<IObject> a = rule(7, "ssh", 22), b = rule(9, "web\tsite", 80);
  std::vector<IObject*> objects{a.get(), b.get()};
  std::vector<uint8_t> bytes = writeCopiedRows("Filter Rules", objects);
  ASSERT_FALSE(bytes.empty());
  Expected<CopiedRows> rows = readCopiedRows(bytes);
  ASSERT_TRUE(rows);
  EXPECT_EQ(rows->kind, "Filter Rules");
  ASSERT_EQ(rows->objects.size(), 2u);
  EXPECT_EQ(rows->objects[0].get(kName), "ssh");
  EXPECT_EQ(rows->objects[1].get(kName), "web\tsite");
  EXPECT_EQ(rows->objects[1].get(kPort), 80u);
  for (const nv::message& m : rows->objects)
    EXPECT_FALSE(m.has(STD_ID));
}

TEST(CopiedRows, LimitsAndDamagedBytes) {
  Reference<IObject> one = rule(1, "x", 1);
  std::vector<IObject*> many(65536, one.get());
  EXPECT_TRUE(writeCopiedRows("t", many).empty());
  many.pop_back();
  EXPECT_FALSE(writeCopiedRows("t", many).empty());

  std::vector<IObject*> objects{one.get()};
  std::vector<uint8_t> bytes = writeCopiedRows("t", objects);
  const std::vector<std::vector<uint8_t>> damaged = {
      {},
      {0x01, 0x02, 0x03},
      std::vector<uint8_t>(bytes.begin(), bytes.begin() + std::ptrdiff_t(bytes.size() / 2)),
  };
  for (const auto& d : damaged)
    EXPECT_FALSE(readCopiedRows(d)) << d.size() << " bytes";
  nv::message other; // a message, but not of copied rows
  other.set(kName, "no rows");
  std::vector<uint8_t> otherBytes;
  ASSERT_TRUE(other.flatten(otherBytes));
  EXPECT_FALSE(readCopiedRows(otherBytes));
}

} // namespace
} // namespace kestel
