#include "gen/DescriptorLoader.h"

#include "gen/TreeDump.h"
#include "util/Log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace kestel {
namespace {

struct Loaded {
  bool ok = false;
  std::string error;
  std::vector<std::string> services;
};

Loaded load(const std::string& text, const char* failOn = nullptr) {
  Loaded out;
  std::istringstream in(text);
  Expected<void> r = loadDescriptorStream(in, [&](const JSNode& e) -> Expected<void> {
    std::string d = dumpTree(&e);
    if (failOn && d.find(failOn) != std::string::npos)
      return makeError("unknown pred type bad");
    out.services.push_back(d);
    return {};
  });
  out.ok = r.ok();
  if (!r)
    out.error = r.error().text;
  return out;
}

using List = std::vector<std::string>;

struct DocCase {
  const char* text;
  bool ok;
  List services;
};

const DocCase kDocs[] = {
    {"[]", true, {}},
    {" [ ] \n", true, {}},
    {"[{a:1}]", true, {"{a:1}"}},
    {"[1,'s',{name:'a'},[{}],{name:'b'},true]", true, {"{name:'a'}", "{name:'b'}"}},
    {"[7,{x:[1,2,{y:3}]}, 12 ,false]\n", true, {"{x:[1,2,{y:3}]}"}},
    {"{s1:{a:1},n:5,s2:{b:2}}", true, {"{a:1}", "{b:2}"}},
    {"[{a:1},{b:", false, {"{a:1}"}},      // truncated
    {"[{a:1}", false, {"{a:1}"}},          // never closed
    {"", false, {}},                       // empty file
    {"[{a:1}] [{b:2}]", false, {"{a:1}"}}, // a second document after the first
    {"[{a:1},-1]", false, {"{a:1}"}},
    {"[{a:1},,{b:2}]", false, {"{a:1}"}},
};

TEST(DescriptorLoader, Documents) {
  for (const DocCase& c : kDocs) {
    Loaded l = load(c.text);
    EXPECT_EQ(l.ok, c.ok) << c.text;
    EXPECT_EQ(l.services, c.services) << c.text;
  }
}

// The 2048-byte chunk boundary put at every byte of each document (by leading blanks) never
// changes what loads: a boundary right after a top-level numeral or word, inside a key, or
// right after an element's closer included.
TEST(DescriptorLoader, ChunkBoundaryAnywhere) {
  for (const DocCase& c : kDocs) {
    std::string doc = c.text;
    for (size_t k = 0; k <= doc.size(); ++k) {
      Loaded l = load(std::string(kDescriptorChunkBytes - k, ' ') + doc);
      EXPECT_EQ(l.ok, c.ok) << doc << " cut at " << k;
      EXPECT_EQ(l.services, c.services) << doc << " cut at " << k;
    }
  }
}

TEST(DescriptorLoader, ManyChunksOneElementAtATime) {
  std::string doc = "[";
  List expect;
  for (int i = 0; i < 500; ++i) {
    std::string e = "{name:'svc" + std::to_string(i) + "',n:" + std::to_string(i) + ",c:[1,2,3]}";
    doc += (i ? ", 0x10, true, " : "") + e;
    expect.push_back(e);
  }
  doc += "]";
  Loaded l = load(doc);
  EXPECT_TRUE(l.ok);
  EXPECT_EQ(l.services, expect);
}

TEST(DescriptorLoader, BuilderErrorRejectsTheRest) {
  Loaded l = load("[{a:1},{bad:1},{c:1}]", "bad");
  EXPECT_FALSE(l.ok);
  EXPECT_EQ(l.error, "unknown pred type bad");
  EXPECT_EQ(l.services, List{"{a:1}"});
}

TEST(DescriptorLoader, FileLogLines) {
  CaptureLogSink log;
  std::string path = ::testing::TempDir() + "descriptor-test.jg";
  {
    std::ofstream f(path);
    f << "[{a:1},5]";
  }
  int built = 0;
  auto count = [&](const JSNode&) -> Expected<void> {
    ++built;
    return {};
  };
  EXPECT_TRUE(loadDescriptorDocument(path, count).ok());
  EXPECT_EQ(built, 1);
  EXPECT_EQ(log.lines(), List{"loading " + path});
  std::remove(path.c_str());
  log.clear();
  Expected<void> r = loadDescriptorDocument(path, count);
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(log.lines(), (List{"loading " + path, "could not open " + path}));
  log.clear();
  EXPECT_FALSE(load("[{a:1},x]").ok);
  EXPECT_EQ(log.lines(), List{"parse error"});
}

} // namespace
} // namespace kestel
