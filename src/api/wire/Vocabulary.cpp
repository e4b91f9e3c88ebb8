#include "api/wire/Vocabulary.h"

#include "util/Assert.h"
#include "util/Log.h"

#include <cstdio>

namespace kestel {

namespace {

// System key names by number 1 to 0x13; null where the number has no name.
constexpr const char* kSysNames[] = {
    nullptr,        "SYS_TO",      "SYS_FROM",      "SYS_TYPE",       "SYS_STATUS",
    "SYS_REPLYEXP", "SYS_REQID",   "SYS_CMD",       "SYS_ERRNO",      "SYS_ERRSTR",
    "SYS_USER",     "SYS_POLICY",  nullptr,         "SYS_CTRL",       nullptr,
    "SYS_CTRL_ARG", "SYS_USER_ID", "SYS_NOTIFYCMD", "SYS_ORIGINATOR", "SYS_RADDR6"};

// Standard key names by number 1 to 0x1B.
constexpr const char* kStdNames[] = {nullptr,        "STD_ID",
                                     "STD_OBJS",     "STD_GETALLID",
                                     "STD_GETALLNO", "STD_NEXTID",
                                     "STD_UNDOID",   "STD_DYNAMIC",
                                     "STD_INACTIVE", "STD_DESCR",
                                     "STD_DISABLED", "STD_FINISHED",
                                     "STD_FILTER",   "STD_PRESET",
                                     "STD_PAGENO",   "STD_PAGE",
                                     "STD_NAME",     "STD_INTERVAL",
                                     "STD_VERSION",  "STD_DEAD",
                                     "STD_COUNT",    "STD_GETALL_COOKIE",
                                     "STD_QUERY",    "STD_QUERY_OP",
                                     "STD_MAXOBJS",  "STD_OBJ_COUNT",
                                     "STD_CLASS",    "STD_SNMP_QUERY"};

// Command names by value AND 0xFFFF, 0 to 0x16 (namespace 0xFE).
constexpr const char* kCmdNames[] = {"CMD_NOOP",      "CMD_GETPOLICIES", "CMD_GETOBJ",
                                     "CMD_SETOBJ",    "CMD_GETALL",      "CMD_ADDOBJ",
                                     "CMD_REMOVEOBJ", "CMD_MOVEOBJ",     "CMD_SETFORM",
                                     nullptr,         nullptr,           "CMD_NOTIFY",
                                     nullptr,         "CMD_GET",         "CMD_SET",
                                     "CMD_START",     "CMD_POLL",        "CMD_CANCEL",
                                     "CMD_SUBSCRIBE", "CMD_UNSUBSCRIBE", "CMD_DISCONNECTED",
                                     "CMD_GETCOUNT",  "CMD_RESET"};

struct ErrorEntry {
  const char* name;
  const char* description;
};
// Error codes by value AND 0xFFFF, 1 to 0x0E (namespace 0xFE).
constexpr ErrorEntry kErrors[] = {{nullptr, nullptr},
                                  {"ERROR_UNKNOWN", "action failed"},
                                  {"ERROR_BRKPATH", "feature is not implemented"},
                                  {"ERROR_NOTIMP", "feature is not implemented"},
                                  {"ERROR_UNKNOWNID", "object doesn't exist"},
                                  {"ERROR_MISSING", "action failed"},
                                  {"ERROR_FAILED", "action failed"},
                                  {"ERROR_EXISTS", "object already exists"},
                                  {nullptr, nullptr},
                                  {"ERROR_NOTALLOWED", "not permitted"},
                                  {"ERROR_TOOBIG", "action failed"},
                                  {"ERROR_UNKNOWNNEXTID", "object doesn't exist"},
                                  {"ERROR_BUSY", "busy"},
                                  {"ERROR_TIMEOUT", "timeout"},
                                  {"ERROR_TOOMUCH", "action failed"}};

struct NamespacePrefix {
  uint32_t ns;
  const char* prefix;
};
constexpr NamespacePrefix kPrefixes[] = {
    {0x00, ""},          {0x01, "net::"},     {0x02, "moduler::"}, {0x03, "sermgr::"},
    {0x04, "notify::"},  {0x05, "www::"},     {0x06, "system::"},  {0x07, "ping::"},
    {0x08, "undo::"},    {0x09, "log::"},     {0x0A, "mepty::"},   {0x0B, "pppman::"},
    {0x0C, "radius::"},  {0x0D, "hotplug::"}, {0x0E, "bridge::"},  {0x0F, "diskd::"},
    {0x10, "loomwww::"}, {0x11, "console::"}, {0x2C, "route::"},   {0xFD, "local::"},
    {0xFE, "std::"},     {0xFF, "sys::"}};

template <size_t N> const char* lookup(const char* const (&table)[N], uint32_t index) {
  return index < N ? table[index] : nullptr;
}

const char* commandName(uint32_t value) {
  return (value >> 16) == 0xFE ? lookup(kCmdNames, value & 0xFFFF) : nullptr;
}

const ErrorEntry* errorEntry(uint32_t value) {
  if ((value >> 16) != 0xFE || (value & 0xFFFF) >= std::size(kErrors))
    return nullptr;
  const ErrorEntry& e = kErrors[value & 0xFFFF];
  return e.name ? &e : nullptr;
}

class LogMessageBoxSink final : public MessageBoxSink {
public:
  void showMessageBox(const std::string& title, const std::string& text) override {
    logf(title, ": ", text);
  }
};

LogMessageBoxSink gLogSink;
MessageBoxSink* gSink = &gLogSink;

} // namespace

std::string keyName(uint32_t id) {
  const uint32_t key = id & nv::kKeyMask;
  const uint32_t ns = key >> 16;
  const uint32_t number = key & 0xFFFF;
  const char* name = nullptr;
  if (ns == 0xFF)
    name = lookup(kSysNames, number);
  else if (ns == 0xFE)
    name = lookup(kStdNames, number);
  if (name)
    return name;
  char buf[80];
  for (const NamespacePrefix& p : kPrefixes)
    if (p.ns == ns) {
      std::snprintf(buf, sizeof buf, "%s%d", p.prefix, int(number));
      return buf;
    }
  std::snprintf(buf, sizeof buf, "%d::%d", int(ns << 16), int(number));
  return buf;
}

std::string valueName(uint32_t key, uint32_t value) {
  const uint32_t k = key & nv::kKeyMask;
  const bool typeKey = k == SYS_TYPE.key;
  const bool statusKey = k == SYS_STATUS.key;
  if (typeKey && (value == TYPE_REQUEST || value == TYPE_REPLY))
    return value == TYPE_REQUEST ? "TYPE_REQUEST" : "TYPE_REPLY";
  if (statusKey && (value == STATUS_OK || value == STATUS_ERROR))
    return value == STATUS_OK ? "STATUS_OK" : "STATUS_ERROR";
  const bool named = typeKey || statusKey || k == SYS_CMD.key || k == SYS_ERRNO.key;
  if (named && k != SYS_ERRNO.key)
    if (const char* cmd = commandName(value))
      return cmd;
  if (named && value == ERROR_OK)
    return "ERROR_OK";
  if (named)
    if (const ErrorEntry* e = errorEntry(value))
      return e->name;
  char buf[80];
  std::snprintf(buf, sizeof buf, "%d 0x%x %u.%u.%u.%u", int(value), value, value & 0xFF,
                (value >> 8) & 0xFF, (value >> 16) & 0xFF, value >> 24);
  return buf;
}

bool isError(const nv::message& reply, unsigned int* code, std::string* text) {
  if (reply.get(SYS_STATUS, STATUS_OK) == STATUS_OK)
    return false;
  if (code)
    *code = reply.get(SYS_ERRNO, ERROR_OK);
  if (text)
    *text = reply.get(SYS_ERRSTR);
  return true;
}

std::string getErrorDescription(unsigned int code, const std::string& text) {
  if (!text.empty())
    return text;
  const ErrorEntry* e = errorEntry(code);
  return e ? e->description : "action failed";
}

MessageBoxScope::MessageBoxScope(MessageBoxSink& sink) : sink_(&sink), previous_(gSink) {
  gSink = sink_;
}

MessageBoxScope::~MessageBoxScope() {
  KESTEL_ASSERT(gSink == sink_, "api/wire/message-box"); // scopes ended out of order
  gSink = previous_;
}

void showError(const std::string& what, const nv::message& reply) {
  unsigned int code = 0;
  std::string text;
  if (!isError(reply, &code, &text))
    return;
  std::string line =
      what + " - " + getErrorDescription(code, text) + " (" + std::to_string(code & 0xFFF) + ")";
  if (line.size() > 511)
    line.resize(511);
  showError(kErrorBoxTitle, line);
}

void showError(const std::string& title, const std::string& text) {
  gSink->showMessageBox(title, text);
}

} // namespace kestel
