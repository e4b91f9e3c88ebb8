#include "gen/JSParser.h"

#include "gen/TreeDump.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <memory>
#include <random>
#include <string>
#include <thread>

namespace kestel {
namespace {

// Parses in one feed (plus finish); "ERR" on failure, else the dumped tree.
std::string parseOnce(std::string_view text) {
  JSParser p;
  const JSNode* n = parseDocument(p, text);
  return n ? dumpTree(n) : "ERR";
}

std::string parseSplit(std::string_view text, std::vector<size_t> cuts) {
  JSParser p;
  size_t at = 0;
  cuts.push_back(text.size());
  for (size_t cut : cuts) {
    int32_t used = p.feed(text.data() + at, cut - at);
    if (used < 0)
      return "ERR";
    if (p.complete()) {
      at += static_cast<size_t>(used);
      break;
    }
    at = cut;
  }
  if (text.substr(at).find_first_not_of(" \t\r\n\v\f") != std::string_view::npos)
    return "ERR";
  const JSNode* n = p.finish();
  return n ? dumpTree(n) : "ERR";
}

struct Case {
  const char* text;
  const char* tree; // "ERR" for a syntax error
};

const Case kCases[] = {
    {"{a:1,b:'x',c:[1,2],d:{}}", "{a:1,b:'x',c:[1,2],d:{}}"},
    {"0x1F", "31"},
    {"0X1f", "31"},
    {"010", "8"},
    {"0", "0"},
    {"00", "0"},
    {"08", "ERR"},
    {"09", "ERR"},
    {"0x", "ERR"},
    {"0xg", "ERR"},
    {"-1", "ERR"},
    {"1.5", "ERR"},
    {"null", "ERR"},
    {"1e3", "ERR"},
    {"+1", "ERR"},
    {"18446744073709551615", "18446744073709551615"},
    {"18446744073709551616", "18446744073709551615"},
    {"99999999999999999999999", "18446744073709551615"},
    {"0xFFFFFFFFFFFFFFFFF", "18446744073709551615"},
    {"01777777777777777777777", "18446744073709551615"},
    {"02000000000000000000000", "18446744073709551615"},
    {"[true,false]", "[1,0]"},
    {"truex", "ERR"},
    {"tru", "ERR"},
    {"falsey", "ERR"},
    {"True", "ERR"},
    {"{a :1}", "ERR"},
    {"{'':1}", "ERR"},
    {"{\"\":1}", "ERR"},
    {"{a_b:1}", "ERR"},
    {"{a-b:1}", "ERR"},
    {"[1,]", "ERR"},
    {"{a:1,}", "ERR"},
    {"[,1]", "ERR"},
    {"{,}", "ERR"},
    {"[1 2]", "ERR"},
    {"{a:1 b:2}", "ERR"},
    {"{a:1]", "ERR"},
    {"[1}", "ERR"},
    {"'a\\qb'", "'aqb'"},
    {"'a\\nb\\tc\\rd'", "'a\nb\tc\rd'"},
    {"'it\\'s'", "'it's'"},
    {"\"say \\\"hi\\\"\"", "'say \"hi\"'"},
    {"'a\"b'", "'a\"b'"},
    {"\"a'b\"", "'a'b'"},
    {"'back\\\\slash'", "'back\\slash'"},
    {"''", "''"},
    {" \t\r\n\v\f[ 1 , { \"k\": 2 } ]  ", "[1,{k:2}]"},
    {"{ \"k\" : 2 }", "ERR"},
    {"[1.5]", "ERR"},
    {"[-1]", "ERR"},
    {"[null]", "ERR"},
    {"[1e3]", "ERR"},
    {"{a:1} \n", "{a:1}"},
    {"{'quoted key':1,\"other\":'v'}", "{quoted key:1,other:'v'}"},
    {"{Ab9:1}", "{Ab9:1}"},
    {"[[],{},[[]]]", "[[],{},[[]]]"},
    {"{x:1,x:2}", "{x:1,x:2}"},
    {"", "ERR"},
    {"[", "ERR"},
    {"{a:", "ERR"},
    {"'open", "ERR"},
    {"]", "ERR"},
    {"{a:1}x", "ERR"}, // a whole text must hold one document
    {"{a:{b:{c:'deep'}}}", "{a:{b:{c:'deep'}}}"},
};

TEST(JSParser, CasesInOneFeed) {
  for (const Case& c : kCases)
    EXPECT_EQ(parseOnce(c.text), c.tree) << c.text;
}

// Every document read in two chunks cut at every byte gives the same tree as in one feed,
// including quoted keys cut between their quotes or before their colon.
TEST(JSParser, EverySplitPointGivesTheSameTree) {
  for (const Case& c : kCases) {
    std::string_view text = c.text;
    std::string whole = parseOnce(text);
    for (size_t i = 0; i <= text.size(); ++i)
      EXPECT_EQ(parseSplit(text, {i}), whole) << text << " cut at " << i;
  }
}

TEST(JSParser, CompletesOnlyAfterFinishForTrailingNumeral) {
  JSParser p;
  EXPECT_EQ(p.feed("42"), 2);
  EXPECT_FALSE(p.complete());
  EXPECT_EQ(p.result(), nullptr);
  const JSNode* n = p.finish();
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(n->u64Value(0), 42u);
}

TEST(JSParser, FeedReportsConsumedCountAtCompletion) {
  JSParser p;
  EXPECT_EQ(p.feed("[1] [2]"), 3);
  EXPECT_EQ(p.feed("more"), 0); // already complete
  JSParser q;
  EXPECT_EQ(q.feed("[1,"), 3);
  EXPECT_EQ(q.feed("x"), -1);
  EXPECT_EQ(q.feed("2]"), -1); // the error state is sticky
}

TEST(JSParser, CompletionDepthTwoStopsAfterEachElement) {
  JSParser p;
  p.setCompletionDepth(2);
  std::string_view doc = "[{a:1}, 7 ,'s']";
  EXPECT_EQ(p.feed(doc), 6);
  ASSERT_TRUE(p.complete());
  EXPECT_EQ(dumpTree(p.result()), "[{a:1}]");
}

TEST(JSParser, NestingBeyondTheLimitIsAnError) {
  std::string ok(JSParser::kMaxDepth - 1, '[');
  ok += std::string(JSParser::kMaxDepth - 1, ']');
  EXPECT_NE(parseOnce(ok), "ERR");
  std::string deep(JSParser::kMaxDepth, '[');
  deep += std::string(JSParser::kMaxDepth, ']');
  EXPECT_EQ(parseOnce(deep), "ERR");
}

TEST(JSParser, ArenaLimitEndsTheParse) {
  const size_t limit = 8 * JSParser::kBlockBytes;
  std::string longText = "'" + std::string(limit, 'a') + "'";
  std::string manyNodes = "[";
  for (size_t i = 0; i < limit / 16; ++i)
    manyNodes += "[],";
  manyNodes += "[]]";
  for (const std::string& doc : {longText, manyNodes}) {
    JSParser p;
    p.setArenaLimit(limit);
    EXPECT_EQ(parseDocument(p, doc), nullptr);
    EXPECT_TRUE(p.failed());
    EXPECT_LE(p.arenaBytes(), limit);
    JSParser q; // the default bound is far larger
    EXPECT_NE(parseDocument(q, doc), nullptr);
  }
}

// Blocks kept for reuse go with their thread (the leak checker watches this).
TEST(JSParser, ReusedBlocksAreReleasedWithTheirThread) {
  std::thread worker([] {
    for (int i = 0; i < 3; ++i) {
      JSParser p;
      std::string doc = "['" + std::string(3 * JSParser::kBlockBytes, 'b') + "']";
      EXPECT_NE(parseDocument(p, doc), nullptr);
    }
  });
  worker.join();
}

// A large document leaves at most a few blocks behind, however many it needed.
TEST(JSParser, ReusedBlocksAreBounded) {
  std::thread worker([] {
    std::string doc = "[";
    for (size_t i = 0; i < JSParser::kBlockBytes / 2; ++i)
      doc += "[],";
    doc += "[]]";
    std::vector<std::unique_ptr<JSParser>> parsers;
    for (int i = 0; i < 3; ++i) {
      parsers.push_back(std::make_unique<JSParser>());
      EXPECT_NE(parseDocument(*parsers.back(), doc), nullptr);
      EXPECT_GT(parsers.back()->arenaBytes(), 8 * JSParser::kBlockBytes);
    }
    parsers.clear();
    EXPECT_EQ(JSParser::cachedBlocks(), JSParser::kCachedBlocks);
    JSParser reuse; // takes one of them
    EXPECT_EQ(JSParser::cachedBlocks(), JSParser::kCachedBlocks - 1);
  });
  worker.join();
}

TEST(JSParser, LongTokensStayContiguousAcrossBlocks) {
  std::string big(3 * JSParser::kBlockBytes + 17, 'z');
  std::string doc =
      "['" + big + "',{" + std::string(JSParser::kBlockBytes, 'k') + ":'" + big + "'}]";
  std::string expect =
      "['" + big + "',{" + std::string(JSParser::kBlockBytes, 'k') + ":'" + big + "'}]";
  EXPECT_EQ(parseOnce(doc), expect);
  std::mt19937 rng(7);
  for (int round = 0; round < 20; ++round) {
    std::vector<size_t> cuts;
    for (size_t at = 0; at < doc.size(); at += 1 + rng() % 3000)
      cuts.push_back(at);
    EXPECT_EQ(parseSplit(doc, cuts), expect);
  }
}

TEST(JSParser, NodeAccessors) {
  JSParser p;
  const JSNode* n = parseDocument(p, "{type:'x',n:0xFFFFFFFF,s:'str',t:true,a:[1,'a',{},7],"
                                     "m:{'0x10':1,'010':2,'12':3,'9z':3},x:1,x:2}");
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(n->childCount(), 8u);
  EXPECT_TRUE(n->typeName()->is("x"));
  EXPECT_EQ(n->find("n")->intValue(5), -1);
  EXPECT_EQ(n->find("s")->intValue(5), 5);
  EXPECT_EQ(*n->find("s")->dupString(), "str");
  EXPECT_FALSE(n->find("t")->dupString());
  EXPECT_FALSE(n->find("t")->is("true"));
  EXPECT_EQ(n->find("x")->u64Value(0), 1u);
  EXPECT_EQ(n->find("missing"), nullptr);
  EXPECT_EQ(n->find("a")->idArray(), (std::vector<uint32_t>{1, 0, 0, 7, 0xFFFFFFFF}));
  NumberMap m = n->find("m")->numberMap();
  ASSERT_EQ(m.size(), 4u);
  EXPECT_EQ(m[0].key, 16u);
  EXPECT_EQ(m[1].key, 8u);
  EXPECT_EQ(m[2].key, 12u);
  EXPECT_EQ(m[3].key, 9u);
  EXPECT_EQ(m[1].value, 2);
  JSParser q;
  EXPECT_EQ(parseDocument(q, "{type:3}")->typeName(), nullptr);
}

// Generated documents in the subset both dialects share, written by the oracle, must read back
// as the oracle's own tree.
using Ordered = nlohmann::ordered_json;

// Keys have no escapes, so they draw from characters the writer never escapes.
std::string randomText(std::mt19937& rng, bool key = false) {
  static const char kChars[] = "abcXYZ09 _-'{}[]:,\"\\\n\t\r";
  size_t range = sizeof(kChars) - 1 - (key ? 5 : 0);
  std::string s;
  for (size_t n = rng() % 12; n > 0; --n)
    s += kChars[rng() % range];
  return s;
}

Ordered randomValue(std::mt19937& rng, int depth) {
  switch (depth > 5 ? rng() % 3 : rng() % 5) {
  case 0: {
    uint64_t v = rng() % 2 ? rng() % 1000 : (uint64_t{rng()} << 32 | rng());
    return v;
  }
  case 1:
    return randomText(rng);
  case 2:
    return rng() % 2 == 0;
  case 3: {
    Ordered a = Ordered::array();
    for (size_t n = rng() % 5; n > 0; --n)
      a.push_back(randomValue(rng, depth + 1));
    return a;
  }
  default: {
    Ordered o = Ordered::object();
    for (size_t n = rng() % 5; n > 0; --n)
      o["k" + std::to_string(o.size()) + randomText(rng, true)] = randomValue(rng, depth + 1);
    return o;
  }
  }
}

std::string dumpOracle(const Ordered& v) {
  if (v.is_boolean())
    return v.get<bool>() ? "1" : "0";
  if (v.is_number_unsigned())
    return std::to_string(v.get<uint64_t>());
  if (v.is_string())
    return "'" + v.get<std::string>() + "'";
  std::string out = v.is_array() ? "[" : "{";
  bool first = true;
  for (auto it = v.begin(); it != v.end(); ++it) {
    out += first ? "" : ",";
    first = false;
    if (v.is_object())
      out += it.key() + ":";
    out += dumpOracle(*it);
  }
  return out + (v.is_array() ? "]" : "}");
}

TEST(JSParser, AgreesWithIndependentReaderOnGeneratedDocuments) {
  std::mt19937 rng(20261206);
  for (int i = 0; i < 400; ++i) {
    Ordered doc = randomValue(rng, 0);
    std::string text = doc.dump(rng() % 2 ? -1 : 2);
    ASSERT_EQ(Ordered::parse(text), doc);
    EXPECT_EQ(parseOnce(text), dumpOracle(doc)) << text;
    std::vector<size_t> cuts;
    for (size_t at = 0; at < text.size(); at += 1 + rng() % 7)
      cuts.push_back(at);
    EXPECT_EQ(parseSplit(text, cuts), dumpOracle(doc)) << text;
  }
}

} // namespace
} // namespace kestel
