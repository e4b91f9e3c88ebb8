#include "api/object/Object.h"

#include "api/object/Packer.h"
#include "api/object/PackerElements.h"

#include <gtest/gtest.h>

namespace kestel {
namespace {

struct Rec {
  uint32_t subtype = 0;
  std::string comment;
};

class Owner final : public IObjectOwner {
public:
  std::string getType() const override { return "interface"; }
};

class Named final : public RecordObject<Rec> {
public:
  using RecordObject::RecordObject;
  std::string toString() const override { return "ether1"; }
  bool canClone() const override { return false; }
};

// Name and removability follow the overrides, the type comes from the owner, and NO_ID (all
// ones) is the only id that means none.
TEST(ObjectTest, BaseAnswersFromOverridesOwnerAndId) {
  Named named;
  EXPECT_EQ(named.getName(), "ether1");
  EXPECT_FALSE(named.canRemove());
  Owner owner;
  RecordObject<Rec> plain;
  plain.setOwner(&owner);
  EXPECT_EQ(plain.getName(), "unknown");
  EXPECT_TRUE(plain.canRemove());
  EXPECT_EQ(plain.getType(), "interface");
  EXPECT_EQ(plain.cast(IID_OBJECT), &plain);
  EXPECT_EQ(plain.cast(IID_OBJECT + 1), nullptr);
  EXPECT_FALSE(plain.hasID());
  plain.setID(0);
  EXPECT_TRUE(plain.hasID());
  EXPECT_EQ(plain.getKeyID(), 0u);
  plain.setID(NO_ID);
  EXPECT_FALSE(plain.hasID());
}

TEST(ObjectDeathTest, TypeWithoutOwnerStops) {
  RecordObject<Rec> o;
  EXPECT_DEATH(o.getType(), "ASSERT in api/object:");
}

TEST(ObjectTest, SubtypeIsTheU32UnderKeyFiveAsLittleEndianBytes) {
  auto packer = createPacker();
  packer->add(createNumber(memberOf(&Rec::subtype), nv::u32_id(0x10005)), KEY_SUBTYPE);
  RecordObject<Rec> o(packer);
  o.rec().subtype = 0x00434241;
  EXPECT_EQ(o.getSubtype(), std::string("ABC\0", 4));

  RecordObject<Rec> noPacker;
  EXPECT_EQ(noPacker.getSubtype(), "");

  // A text field under key 5 is not read as a number.
  auto textual = createPacker();
  textual->add(createText(memberOf(&Rec::comment), nv::string_id(1)), KEY_SUBTYPE);
  RecordObject<Rec> t(textual);
  t.rec().comment = "long text that must not be read as four bytes";
  EXPECT_EQ(t.getSubtype(), "");
}

} // namespace
} // namespace kestel
