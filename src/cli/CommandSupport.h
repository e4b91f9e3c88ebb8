// What the router commands of kestel-cli share: the reactor they turn until an answer is there,
// the router's refusal texts (message boxes printed on stderr and kept for the exit code),
// "field=value" arguments typed into an object, and the exit codes.
#pragma once

#include "api/net/PollReactor.h"
#include "api/object/Object.h"
#include "api/wire/Vocabulary.h"
#include "gen/CType.h"

#include <functional>
#include <string>
#include <vector>

namespace kestel::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitRefused = 1; // the router refused or could not be reached
inline constexpr int kExitUsage = 2;

// Prints every message box on stderr and remembers that one was shown.
class StderrBoxes final : public MessageBoxSink {
public:
  void showMessageBox(const std::string& title, const std::string& text) override;
  bool shown = false;
};

// A command's running state: the reactor and the wait for answers.
struct CommandContext {
  PollReactor& reactor;
  // Turns the reactor until `done` holds; false (after saying so on stderr) when the router
  // did not answer within the time limit or the connection closed.
  bool waitFor(const std::function<bool()>& done);
  uint32_t timeoutMs = 30000;
};

// One "field=value" argument.
struct Assignment {
  std::string field, value;
};
// Splits "field=value" arguments; false (after printing a usage line) for one without "=".
bool parseAssignments(const std::vector<std::string>& args, std::vector<Assignment>& out);
// Types every assignment into `object` through its type's slots and convertors; false (after
// printing the convertor's error text or "unknown field") on the first bad one.
bool applyAssignments(IObject& object, const CType& type, const std::vector<Assignment>& values);

// "name=value" pairs of every value slot not hidden, joined with blanks (values quoted when they
// hold a blank or are empty).
std::string objectLine(const IObject& object, const CType& type);
// Parses an object id ("12" or "*c"); false for anything else.
bool parseObjectId(const std::string& text, uint32_t& id);

} // namespace kestel::cli
