#include "miw/Convertor.h"
#include "gen/Enumerations.h"

#include "miw/ConvertorNumber.h"

#include <gtest/gtest.h>

#include <random>

namespace kestel {
namespace {

const MapEntry kModes[] = {{0, "disabled"}, {1, "enabled"}, {9, "auto"}, {0, nullptr}};

TEST(Convertor, InputErrorTexts) {
  auto c = integerConvertor(1, 0x7FFFFFFF, 0);
  EXPECT_EQ(inputErrorTitle("MTU"), "Wrong MTU");
  EXPECT_EQ(inputErrorText("MTU", *c), "Error in MTU - integer greater than 0 expected!");
  EXPECT_EQ(addressErrorText("Gateway"), "Error in Gateway - ip address expected!");
  EXPECT_EQ(emptyListErrorText("Ports"), "Erron in Ports - at least one entry expected!");
}

TEST(Convertor, Enumerations) {
  Reference<IEnum> modes = createEnum(kModes);
  unsigned value = 77;
  EXPECT_TRUE(string2enum("auto", modes.get(), &value));
  EXPECT_EQ(value, 9u);
  EXPECT_FALSE(string2enum("Auto", modes.get(), &value));
  EXPECT_EQ(value, 9u);
  EXPECT_FALSE(string2enum("auto", nullptr, &value));

  auto loose = enumConvertor(modes.get(), 10, false);
  EXPECT_EQ(loose->format(1u), "enabled");
  EXPECT_EQ(loose->format(5u), "5");
  EXPECT_EQ(std::get<uint32_t>(*loose->parse("auto")), 9u);
  EXPECT_EQ(std::get<uint32_t>(*loose->parse("5")), 5u);
  EXPECT_EQ(loose->describe(), "one of disabled, enabled, auto or a number");
  auto strict = enumConvertor(modes.get(), 16, true);
  EXPECT_FALSE(strict->check("5"));
  EXPECT_TRUE(strict->check("disabled"));
  EXPECT_EQ(strict->format(5u), "");
}

TEST(Convertor, AlternativesTryInOrder) {
  Reference<IEnum> modes = createEnum(kModes);
  const std::vector<Reference<IConvertor>> parts = {
      enumConvertor(modes.get(), 10, true), numberConvertor({10, 0, 100, 0}, RadixWords::Plain)};
  auto alt = altConvertor(parts);
  EXPECT_EQ(alt->format(9u), "auto");
  EXPECT_EQ(alt->format(50u), "50");
  EXPECT_EQ(std::get<uint32_t>(*alt->parse("enabled")), 1u);
  EXPECT_EQ(std::get<uint32_t>(*alt->parse("42")), 42u);
  EXPECT_FALSE(alt->check("101"));
  EXPECT_EQ(altChoice(parts, "auto"), 0);
  EXPECT_EQ(altChoice(parts, "7"), 1);
  EXPECT_EQ(altChoice(parts, "x"), -1);
  EXPECT_EQ(alt->describe(), "one of disabled, enabled, auto or number in range [0;100]");
}

TEST(Convertor, TristateAndPostfixWrapTheInner) {
  auto number = numberConvertor({10, 1, 10, 1}, RadixWords::Plain);
  auto tri = tristateConvertor(number.get());
  EXPECT_EQ(tri->format(FieldValue()), "");
  EXPECT_TRUE(std::holds_alternative<std::monostate>(*tri->parse("")));
  EXPECT_EQ(std::get<uint32_t>(*tri->parse("3")), 3u);
  EXPECT_FALSE(tri->check("11"));

  auto ms = postfixConvertor(number.get(), " ms");
  EXPECT_EQ(ms->format(5u), "5 ms");
  for (const char* ok : {"5 ms", "5ms", "5"})
    EXPECT_EQ(std::get<uint32_t>(*ms->parse(ok)), 5u) << ok;
  EXPECT_FALSE(ms->check("5 s"));
  EXPECT_EQ(ms->describe(), number->describe());
}

TEST(Convertor, TextBoolAndVersion) {
  const struct {
    uint32_t min, max;
    const char* words;
  } texts[] = {{0, 0xFFFFFFFF, "text"},
               {0, 8, "text with maximum 8 symbols"},
               {2, 0xFFFFFFFF, "text with at least 2 symbols"},
               {2, 8, "text with at least 2 and maximum 8 symbols"}};
  for (const auto& t : texts)
    EXPECT_EQ(textConvertor(t.min, t.max)->describe(), t.words);
  auto text = textConvertor(2, 3);
  EXPECT_TRUE(text->check("äöü")); // three symbols, six bytes
  EXPECT_FALSE(text->check("äöüß"));
  EXPECT_FALSE(text->check("a"));

  auto flag = boolConvertor();
  EXPECT_EQ(flag->format(true), "true");
  EXPECT_EQ(flag->format(false), "false");
  EXPECT_EQ(std::get<bool>(*flag->parse("false")), false);
  EXPECT_FALSE(flag->check("yes"));

  auto version = versionConvertor();
  EXPECT_TRUE(version->check("7.1 (stable)"));
  EXPECT_FALSE(version->check("7.x"));
  EXPECT_LT(version->compare(std::string("7.1beta4"), std::string("7.1")), 0);
  EXPECT_LT(version->compare(std::string("6.48.1"), std::string("7.1rc1")), 0);
}

TEST(Convertor, ArrayAccessor) {
  FieldValue numbers = std::vector<uint32_t>{4, 5};
  auto second = arrayAccessor(1);
  EXPECT_EQ(std::get<uint32_t>(second->get(numbers)), 5u);
  auto fourth = arrayAccessor(3);
  EXPECT_TRUE(std::holds_alternative<std::monostate>(fourth->get(numbers)));
  ASSERT_TRUE(fourth->set(numbers, 8u));
  EXPECT_EQ(std::get<std::vector<uint32_t>>(numbers), (std::vector<uint32_t>{4, 5, 0, 8}));
  EXPECT_FALSE(fourth->set(numbers, std::string("x")));
  EXPECT_FALSE(arrayAccessor(0xFFFFFFFF)->set(numbers, 1u)); // never a 4-billion-element array
  FieldValue names = std::vector<std::string>{"a"};
  ASSERT_TRUE(second->set(names, std::string("b")));
  EXPECT_EQ(std::get<std::string>(second->get(names)), "b");
}

} // namespace
} // namespace kestel

namespace kestel {
namespace {

// parse(format(v)) == v for the wrapping kinds, over seeded values and the range ends.
TEST(Convertor, WrappersRoundTrip) {
  Reference<IEnum> modes = createEnum(kModes);
  auto number = numberConvertor({10, 0, 0xFFFFFFFF, 0}, RadixWords::Plain);
  const Reference<IConvertor> kinds[] = {
      enumConvertor(modes.get(), 16, false),
      altConvertor({enumConvertor(modes.get(), 10, true), number}),
      tristateConvertor(number.get()),
      postfixConvertor(number.get(), " s"),
  };
  std::mt19937 random(13);
  for (const auto& c : kinds) {
    for (int i = 0; i < 2000; ++i) {
      const uint32_t v = i < 4 ? (i < 2 ? uint32_t(i) : 0xFFFFFFFF - (i - 2))
                               : random() % (i % 2 ? 12 : 0xFFFFFFFF);
      auto back = c->parse(c->format(v));
      ASSERT_TRUE(back.ok()) << c->format(v);
      EXPECT_EQ(std::get<uint32_t>(*back), v) << c->format(v);
    }
  }
  auto tri = tristateConvertor(number.get());
  EXPECT_TRUE(std::holds_alternative<std::monostate>(*tri->parse(tri->format(FieldValue()))));
  auto text = textConvertor(0, 0xFFFFFFFF);
  for (const char* t : {"", "a b", "ünï", "1.2.3.4"})
    EXPECT_EQ(std::get<std::string>(*text->parse(text->format(std::string(t)))), t);
  auto flag = boolConvertor();
  for (bool b : {false, true})
    EXPECT_EQ(std::get<bool>(*flag->parse(flag->format(b))), b);
}

} // namespace
} // namespace kestel
