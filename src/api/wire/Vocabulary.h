// The protocol's fixed vocabulary: system keys (namespace 0xFF), standard keys (0xFE), commands,
// error codes, message types and statuses; their printable names; and the one way replies are
// tested for failure and reported to the user (through a replaceable message-box sink).
#pragma once

#include "api/wire/Message.h"

#include <cstdint>
#include <string>

namespace kestel {

// System keys, typed by the kind they are used with.
inline constexpr nv::u32_array_id SYS_TO{0xFF0001};
inline constexpr nv::u32_array_id SYS_FROM{0xFF0002};
inline constexpr nv::u32_id SYS_TYPE{0xFF0003};
inline constexpr nv::u32_id SYS_STATUS{0xFF0004};
inline constexpr nv::bool_id SYS_REPLYEXP{0xFF0005};
inline constexpr nv::u32_id SYS_REQID{0xFF0006};
inline constexpr nv::u32_id SYS_CMD{0xFF0007};
inline constexpr nv::u32_id SYS_ERRNO{0xFF0008};
inline constexpr nv::string_id SYS_ERRSTR{0xFF0009};
inline constexpr nv::u32_id SYS_NOTIFYCMD{0xFF0011};
inline constexpr nv::u32_id SYS_ORIGINATOR{0xFF0012};
inline constexpr nv::u32_array_id SYS_UNSET{0xFF0014};
inline constexpr nv::string_array_id SYS_AGENT{0xFF001C};
// System keys that are only printed by name.
inline constexpr uint32_t SYS_USER = 0xFF000A;
inline constexpr uint32_t SYS_POLICY = 0xFF000B;
inline constexpr uint32_t SYS_CTRL = 0xFF000D;
inline constexpr uint32_t SYS_CTRL_ARG = 0xFF000F;
inline constexpr uint32_t SYS_USER_ID = 0xFF0010;
inline constexpr uint32_t SYS_RADDR6 = 0xFF0013;

// Standard keys with the kind the object layer uses; the others arrive in descriptor-driven records
// with a kind the descriptors decide, so they are plain keys.
inline constexpr nv::u32_id STD_ID{0xFE0001};
inline constexpr nv::message_array_id STD_OBJS{0xFE0002};
inline constexpr nv::u32_id STD_GETALLID{0xFE0003};
inline constexpr uint32_t STD_GETALLNO = 0xFE0004;
inline constexpr nv::u32_id STD_NEXTID{0xFE0005};
inline constexpr uint32_t STD_UNDOID = 0xFE0006;
inline constexpr uint32_t STD_DYNAMIC = 0xFE0007;
inline constexpr uint32_t STD_INACTIVE = 0xFE0008;
inline constexpr nv::string_id STD_DESCR{0xFE0009};
inline constexpr uint32_t STD_DISABLED = 0xFE000A;
inline constexpr uint32_t STD_FINISHED = 0xFE000B;
inline constexpr nv::u32_id STD_FILTER{0xFE000C};
inline constexpr uint32_t STD_PRESET = 0xFE000D;
inline constexpr nv::u32_id STD_PAGENO{0xFE000E};
inline constexpr nv::message_id STD_PAGE{0xFE000F};
inline constexpr nv::string_id STD_NAME{0xFE0010};
inline constexpr uint32_t STD_INTERVAL = 0xFE0011;
inline constexpr uint32_t STD_VERSION = 0xFE0012;
inline constexpr uint32_t STD_DEAD = 0xFE0013;
inline constexpr uint32_t STD_COUNT = 0xFE0014;
inline constexpr uint32_t STD_GETALL_COOKIE = 0xFE0015;
inline constexpr nv::message_array_id STD_QUERY{0xFE0016};
inline constexpr uint32_t STD_QUERY_OP = 0xFE0017;
inline constexpr uint32_t STD_MAXOBJS = 0xFE0018;
inline constexpr uint32_t STD_OBJ_COUNT = 0xFE0019;
inline constexpr uint32_t STD_CLASS = 0xFE001A;
inline constexpr uint32_t STD_SNMP_QUERY = 0xFE001B;

// Values of SYS_TYPE and SYS_STATUS.
inline constexpr uint32_t TYPE_REQUEST = 1;
inline constexpr uint32_t TYPE_REPLY = 2;
inline constexpr uint32_t STATUS_OK = 1;
inline constexpr uint32_t STATUS_ERROR = 2;

// Commands (values of SYS_CMD).
inline constexpr uint32_t CMD_NOOP = 0xFE0000;
inline constexpr uint32_t CMD_GETPOLICIES = 0xFE0001;
inline constexpr uint32_t CMD_GETOBJ = 0xFE0002;
inline constexpr uint32_t CMD_SETOBJ = 0xFE0003;
inline constexpr uint32_t CMD_GETALL = 0xFE0004;
inline constexpr uint32_t CMD_ADDOBJ = 0xFE0005;
inline constexpr uint32_t CMD_REMOVEOBJ = 0xFE0006;
inline constexpr uint32_t CMD_MOVEOBJ = 0xFE0007;
inline constexpr uint32_t CMD_SETFORM = 0xFE0008;
inline constexpr uint32_t CMD_NOTIFY = 0xFE000B;
inline constexpr uint32_t CMD_GET = 0xFE000D;
inline constexpr uint32_t CMD_SET = 0xFE000E;
inline constexpr uint32_t CMD_START = 0xFE000F;
inline constexpr uint32_t CMD_POLL = 0xFE0010;
inline constexpr uint32_t CMD_CANCEL = 0xFE0011;
inline constexpr uint32_t CMD_SUBSCRIBE = 0xFE0012;
inline constexpr uint32_t CMD_UNSUBSCRIBE = 0xFE0013;
inline constexpr uint32_t CMD_DISCONNECTED = 0xFE0014;
inline constexpr uint32_t CMD_GETCOUNT = 0xFE0015;
inline constexpr uint32_t CMD_RESET = 0xFE0016;

// Error codes (values of SYS_ERRNO).
inline constexpr uint32_t ERROR_OK = 0;
inline constexpr uint32_t ERROR_UNKNOWN = 0xFE0001;
inline constexpr uint32_t ERROR_BRKPATH = 0xFE0002;
inline constexpr uint32_t ERROR_NOTIMP = 0xFE0003;
inline constexpr uint32_t ERROR_UNKNOWNID = 0xFE0004;
inline constexpr uint32_t ERROR_MISSING = 0xFE0005;
inline constexpr uint32_t ERROR_FAILED = 0xFE0006;
inline constexpr uint32_t ERROR_EXISTS = 0xFE0007;
inline constexpr uint32_t ERROR_NOTALLOWED = 0xFE0009;
inline constexpr uint32_t ERROR_TOOBIG = 0xFE000A;
inline constexpr uint32_t ERROR_UNKNOWNNEXTID = 0xFE000B;
inline constexpr uint32_t ERROR_BUSY = 0xFE000C;
inline constexpr uint32_t ERROR_TIMEOUT = 0xFE000D;
inline constexpr uint32_t ERROR_TOOMUCH = 0xFE000E;

// Handler namespaces (bits 16 to 23 of a key) that this client names.
inline constexpr uint32_t NS_LOCAL = 0xFD;
inline constexpr uint32_t NS_STD = 0xFE;
inline constexpr uint32_t NS_SYS = 0xFF;

// The printable name of a field id's key (kind bits ignored): "SYS_TO", "std::28", "route::5",
// "7" (namespace 0), or "1179648::3" for a namespace without a prefix. Never fails.
std::string keyName(uint32_t id);

// The printable form of a u32 value of the given key: a type, status, command or error name for the
// keys that have them, else "<decimal> 0x<hex> <dotted IPv4>". Never fails.
std::string valueName(uint32_t key, uint32_t value);

// True when the reply's SYS_STATUS (default 1) is not 1; then *code gets SYS_ERRNO (default 0) and
// *text SYS_ERRSTR (default empty) when the pointers are given.
bool isError(const nv::message& reply, unsigned int* code = nullptr, std::string* text = nullptr);

// text when not empty, else the user-visible description of the code ("action failed" for codes
// without one).
std::string getErrorDescription(unsigned int code, const std::string& text);

// Where message boxes go; the GUI installs one that shows a window, tests one that records.
class MessageBoxSink {
public:
  virtual ~MessageBoxSink() = default;
  virtual void showMessageBox(const std::string& title, const std::string& text) = 0;
};

// Sends message boxes to `sink` for the scope's lifetime (the caller keeps it alive), then to the
// enclosing scope's sink again; scopes must end in reverse order (asserted). Outside every scope
// boxes are written to the log stream.
class MessageBoxScope {
public:
  explicit MessageBoxScope(MessageBoxSink& sink);
  ~MessageBoxScope();
  MessageBoxScope(const MessageBoxScope&) = delete;
  MessageBoxScope& operator=(const MessageBoxScope&) = delete;

private:
  MessageBoxSink* sink_;
  MessageBoxSink* previous_;
};

// The title of every error box.
inline constexpr const char* kErrorBoxTitle = "Nimbalux Kestel Error";

// Does nothing unless isError(reply); else shows "<what> - <description> (<code AND 0xFFF>)"
// (at most 511 characters) under the title "Nimbalux Kestel Error".
void showError(const std::string& what, const nv::message& reply);
// Shows a plain message box.
void showError(const std::string& title, const std::string& text);

} // namespace kestel
