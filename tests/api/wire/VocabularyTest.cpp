#include "api/wire/Vocabulary.h"

#include "util/Log.h"

#include <gtest/gtest.h>
#include <kestel/Version.h>

namespace kestel {
namespace {

TEST(Vocabulary, KeyNames) {
  const std::vector<std::pair<uint32_t, std::string>> cases = {
      {0x08FF0001, "SYS_TO"},   {0x88FF0001, "SYS_TO"}, {0xFF0013, "SYS_RADDR6"},
      {0xFF000C, "sys::12"},    {0xFF000E, "sys::14"},  {0xFF0014, "sys::20"},
      {0xFF001C, "sys::28"},    {0xFE0001, "STD_ID"},   {0xFE001B, "STD_SNMP_QUERY"},
      {0xFE001C, "std::28"},    {0xFE0000, "std::0"},   {0x2C0005, "route::5"},
      {0x120003, "1179648::3"}, {0x000007, "7"},        {0xFD0001, "local::1"},
      {0x110002, "console::2"}, {0xFF0000, "sys::0"},   {0x20FE0015, "STD_GETALL_COOKIE"}};
  for (const auto& [id, name] : cases)
    EXPECT_EQ(keyName(id), name) << std::hex << id;
}

TEST(Vocabulary, ValueNames) {
  struct Case {
    uint32_t key, value;
    std::string name;
  };
  const std::vector<Case> cases = {{0xFF0007, 0xFE0004, "CMD_GETALL"},
                                   {0xFF0008, 0xFE0004, "ERROR_UNKNOWNID"},
                                   {0xFF0007, 0xFE0009, "ERROR_NOTALLOWED"},
                                   {0xFF0007, 0, "ERROR_OK"},
                                   {0xFF0005, 5, "5 0x5 5.0.0.0"},
                                   {0xFF0003, 1, "TYPE_REQUEST"},
                                   {0xFF0003, 2, "TYPE_REPLY"},
                                   {0xFF0004, 1, "STATUS_OK"},
                                   {0xFF0004, 2, "STATUS_ERROR"},
                                   {0xFF0008, 1, "1 0x1 1.0.0.0"},
                                   {0xFF0004, 0xFE0016, "CMD_RESET"},
                                   {0xFF0008, 0xFE0016, "16646166 0xfe0016 22.0.254.0"},
                                   {0xFF0007, 0xFE0008, "CMD_SETFORM"},
                                   {0xFF0008, 0xFE0008, "16646152 0xfe0008 8.0.254.0"},
                                   {0x08FF0007, 0xFE000D, "CMD_GET"},
                                   {0xFE0001, 0xFE0004, "16646148 0xfe0004 4.0.254.0"},
                                   {0x10001, 0xFFFFFFFF, "-1 0xffffffff 255.255.255.255"},
                                   {0x10001, 0x0100007F, "16777343 0x100007f 127.0.0.1"}};
  for (const Case& c : cases)
    EXPECT_EQ(valueName(c.key, c.value), c.name) << std::hex << c.key << " " << c.value;
}

TEST(Vocabulary, IsErrorAndDescription) {
  nv::message ok;
  EXPECT_FALSE(isError(ok));
  ok.set(SYS_STATUS, STATUS_OK);
  EXPECT_FALSE(isError(ok));

  nv::message bare;
  bare.set(SYS_STATUS, STATUS_ERROR);
  unsigned int code = 99;
  std::string text = "x";
  EXPECT_TRUE(isError(bare, &code, &text));
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(text, "");
  EXPECT_EQ(getErrorDescription(code, text), "action failed");

  EXPECT_EQ(getErrorDescription(ERROR_NOTIMP, ""), "feature is not implemented");
  EXPECT_EQ(getErrorDescription(ERROR_EXISTS, ""), "object already exists");
  EXPECT_EQ(getErrorDescription(ERROR_TIMEOUT, ""), "timeout");
  EXPECT_EQ(getErrorDescription(0xFE0008, ""), "action failed");
  EXPECT_EQ(getErrorDescription(ERROR_BUSY, "router says no"), "router says no");
}

class RecordingBox final : public MessageBoxSink {
public:
  void showMessageBox(const std::string& title, const std::string& text) override {
    shown.push_back(title + "|" + text);
  }
  std::vector<std::string> shown;
};

TEST(Vocabulary, ShowErrorFormatsDescriptionAndCode) {
  RecordingBox box;
  nv::message reply;
  {
    MessageBoxScope scope(box);
    showError("Could not enable Safe Mode", reply); // not an error: nothing shown
    reply.set(SYS_STATUS, STATUS_ERROR);
    reply.set(SYS_ERRNO, ERROR_NOTALLOWED);
    showError("Could not enable Safe Mode", reply);
    reply.set(SYS_ERRSTR, "in use");
    showError("Couldn't change ether1", reply);
    showError(std::string(600, 'w'), reply);
  }
  ASSERT_EQ(box.shown.size(), 3u);
  EXPECT_EQ(box.shown[0], "Nimbalux Kestel Error|Could not enable Safe Mode - not permitted (9)");
  EXPECT_EQ(box.shown[1], "Nimbalux Kestel Error|Couldn't change ether1 - in use (9)");
  EXPECT_EQ(box.shown[2].size(), std::string("Nimbalux Kestel Error|").size() + 511);

  CaptureLogSink log;
  showError("Title", "plain text");
  EXPECT_TRUE(log.contains("Title: plain text"));
}

TEST(Vocabulary, DumpIsByteExact) {
  nv::message inner;
  inner.set(STD_ID, 1u);
  nv::message m;
  m.set(SYS_REPLYEXP, true);
  m.set(SYS_CMD, CMD_GETALL); // u32 slots: SYS_REQID 9, SYS_CMD 10
  m.set(SYS_REQID, 300u);
  m.set(STD_NAME, "ether1");
  m.set(STD_PAGE, inner);
  m.set(nv::raw_id(0x2C0005), {1, 2, 3});
  nv::addr6 addr{0x20, 0x01, 0x0d, 0xb8};
  addr[15] = 1;
  m.set(nv::addr6_id(0x10001), addr);
  m.set(SYS_TO, {2, 3});
  m.set(STD_OBJS, {inner});
  m.set(SYS_AGENT, {kKestelAgent});
  std::string text;
  m.dump(text, "x:");
  EXPECT_EQ(text, std::string("x:--- nv::message --------\n"
                              "x: bool [SYS_REPLYEXP]=true\n"
                              "x: u32 [SYS_REQID]=300 0x12c 44.1.0.0\n"
                              "x: u32 [SYS_CMD]=CMD_GETALL\n"
                              "x: addr6 [net::1]=2001:db8::1\n"
                              "x: raw [route::5]=#3\n"
                              "x: message [STD_PAGE]...\n"
                              "x:    --- nv::message --------\n"
                              "x:     u32 [STD_ID]=1 0x1 1.0.0.0\n"
                              "x: string [STD_NAME]=ether1\n"
                              "x: string[] [sys::28]=") +
                      kKestelAgent +
                      ", \n"
                      "x: message[] [STD_OBJS]..\n"
                      "x:    --- nv::message --------\n"
                      "x:     u32 [STD_ID]=1 0x1 1.0.0.0\n"
                      "x: u32[] [SYS_TO]=2, 3, \n");
  nv::message more;
  more.set(nv::u64_id(1), 18446744073709551615ull);
  more.set(nv::bool_array_id(2), {1, 0});
  more.set(nv::u64_array_id(3), {0, 5});
  more.set(nv::addr6_array_id(4), {nv::addr6{}});
  more.set(nv::raw_array_id(5), {{1, 2}, {}});
  text.clear();
  more.dump(text);
  EXPECT_EQ(text, "--- nv::message --------\n"
                  " u64 [1]=18446744073709551615\n"
                  " raw[] [5]=#2, #0, \n"
                  " addr6[] [4]=::, \n"
                  " u64[] [3]=0, 5, \n"
                  " bool[] [2]=true, false, \n");

  CaptureLogSink log;
  inner.dump("", 1);
  EXPECT_EQ(log.text(), "    --- nv::message --------\n"
                        "     u32 [STD_ID]=1 0x1 1.0.0.0\n");
}

} // namespace
} // namespace kestel
