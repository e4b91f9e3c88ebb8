// The session parameters and the program's command line. The parameters are one message that
// travels from the command line to the loader, from the loader to the session start, and through
// the hand-off pipe to a child process; the keys below are all of its fields. The command line is
// parsed into them:
//
//   --                       every later argument is a document to load (1006); parsing ends
//   -                        the parameters come from standard input (the hand-off pipe) and
//                            replace what was parsed so far
//   --help, -?, -h           usage, exit code 0
//   --nosecure               1001 false
//   --hoplink <address>      1014 = a message with 1000 = <address>
//   positional 1             an existing file: the address book (1007, full path; takes no
//                            position); else the address (1000)
//   positional 2, 3, 4       login (1), password (3), session (1012)
//   positional 5             "unknown argument - <it>", exit code 1
//
// Before that, the raw forms "\c <path>" (finish an upgrade) and "\d <path>" (delete the old
// executable, then start with an empty command line) are recognised on the arguments joined by
// blanks; what they do belongs to the self-upgrade code.
#pragma once

#include "api/wire/Message.h"

#include <functional>
#include <optional>
#include <span>
#include <string>

namespace kestel {

namespace param {
inline constexpr nv::string_id kAddress{1000};
inline constexpr nv::string_id kLogin{1};
inline constexpr nv::string_id kPassword{3};
inline constexpr nv::string_id kCommandLineSession{1012};
inline constexpr nv::string_id kChosenSession{1002};
inline constexpr nv::bool_id kSecure{1001}; // absent means true
inline constexpr nv::message_id kConnectionState{1003};
inline constexpr nv::raw_id kIndexBytes{1004};
inline constexpr nv::bool_id kDisconnected{1005};
inline constexpr nv::string_array_id kDocuments{1006};
inline constexpr nv::string_id kAddressBook{1007};
inline constexpr nv::string_id kMasterPassword{1008};
inline constexpr nv::u32_id kOffsetX{1009};
inline constexpr nv::u32_id kOffsetY{1010};
inline constexpr nv::bool_id kNewProcess{1013};
inline constexpr nv::message_id kHoplink{1014}; // holds its own kAddress
inline constexpr nv::message_id kLooperState{1018};
inline constexpr nv::bool_id kNoAutoConnect{1019};
inline constexpr nv::bool_id kLegacyLogin{1020};
inline constexpr nv::bool_id kAutoReconnect{1021};
inline constexpr nv::raw_id kSkinBytes{1022};
} // namespace param

inline constexpr const char* kUsageText =
    "usage: kestel [--hoplink <hoplink>] [<connect-to> [<login> [<password> [<session>]]]]";

// The raw forms of the upgrade hand-off.
struct RawForm {
  enum class Kind { None, FinishUpgrade, DeleteFile };
  Kind kind = Kind::None;
  std::string path;
};
// Looks at the arguments after the program joined by single blanks.
RawForm parseRawForm(std::span<char* const> args);

struct CommandLine {
  nv::message parameters;
  std::optional<int> exitCode; // set when the program ends here (usage, bad argument)
};

// Reads the parameters from standard input for "-"; an empty message on any failure.
using ParameterSource = std::function<nv::message()>;

// Parses args (args[0] is the program). A password argument is overwritten in place once it is
// read, so that other local users do not see it in the process's argument list. The usage and
// the "unknown argument - " line are logged.
CommandLine parseCommandLine(std::span<char*> args, const ParameterSource& readStandardInput);

} // namespace kestel
