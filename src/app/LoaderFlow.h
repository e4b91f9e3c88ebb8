// The loader's connect flow without its window: idle → connecting → logging in → downloading →
// session start, with the status texts the loader shows, the reconnect countdown after a failure
// the network may mend (5 s, "<failure>. Will retry in N seconds", then "Reconnecting...."), the
// disconnected panel of a session that lost its router ("Router X has been disconnected <elapsed>
// ago", refreshed every second, or the countdown with Auto Reconnect), "Connect To All" (one
// child process per selected entry), addresses starting "http://" (opened, then the program
// ends), and the session parameters built from the form and the address book's entries.
// Everything the window or the process does is a hook, so tests count children and catch the
// session start. Runs on the reactor's thread.
#pragma once

#include "api/net/Reactor.h"
#include "api/wire/Message.h"
#include "app/HandOff.h"
#include "app/ReadyStep.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kestel {

// What the loader's form holds.
struct LoaderForm {
  std::string address, login, password, session, note, group, agent;
  bool keepPassword = true;
  bool autosave = true;
  bool newWindow = false;
  bool autoReconnect = true;
  bool secure = true;
};

enum class LoaderPhase {
  Idle,         // the form
  Connecting,   // "Connecting to <address>..."
  LoggingIn,    // "Logging in..."
  Downloading,  // "Downloading descriptors..." and the progress line
  Starting,     // the session is being started (here or in a child)
  Countdown,    // "<failure>. Will retry in N seconds"
  Disconnected, // "Router X has been disconnected <elapsed> ago", Reconnect and Cancel
};

inline constexpr int kReconnectSeconds = 5;
inline constexpr const char* kAgentNotFound = "Hoplink Agent not found. Add it to Managed List";
inline constexpr const char* kNoHoplinkConnection = "could not start hoplink connection";

struct LoaderFlowHooks {
  // The panel to show and the status line's text.
  std::function<void(LoaderPhase)> phase;
  std::function<void(const std::string&)> status;
  // The session starts in this process with the finished step and its parameters.
  std::function<void(Reference<ReadyStep>, nv::message)> startSession;
  // "Open In New Window": hands the session to a child (openInNewWindow with this program).
  std::function<Expected<void>(const nv::message&, const HandOffSource&)> handOff;
  // "Connect To All": a child loader that connects with these parameters.
  std::function<Expected<void>(const nv::message&)> startChild;
  // A "http://" address: opened with the desktop's handler; then the program ends with `exit`.
  std::function<void(const std::string& url)> openUrl;
  std::function<void(int code)> exit;
  // The managed entry of a Hoplink agent's address; none when the book has no such entry.
  std::function<std::optional<nv::message>(const std::string& address)> findEntry;
};

class LoaderFlow {
public:
  LoaderFlow(Reactor& reactor, std::string appData, LoaderFlowHooks hooks);
  ~LoaderFlow();
  LoaderFlow(const LoaderFlow&) = delete;
  LoaderFlow& operator=(const LoaderFlow&) = delete;

  // The open address book (its path and master password go into every attempt's parameters).
  void setBook(std::string path, std::string masterPassword);
  // Documents to load instead of downloading (1006); empty: download.
  void setDocuments(std::vector<std::string> documents) { documents_ = std::move(documents); }
  // "Legacy Mode": the legacy login is allowed when the router refuses the secure one.
  void setLegacyMode(bool on) { legacyMode_ = on; }

  // The parameters of an attempt from the form.
  nv::message parametersFrom(const LoaderForm& form) const;
  // The parameters of a managed entry (address, login, password, session, secure, agent).
  nv::message parametersFrom(const nv::message& entry) const;
  // The address-book entry "Add/Set" stores for the form: the password only with Keep Password.
  static nv::message entryFrom(const LoaderForm& form);

  // "Connect", the auto-connect and "Reconnect": while a countdown runs this only stops it.
  void connect(const nv::message& parameters);
  // "Connect To All": a child for every entry whose address differs from the form's, then the
  // form's router here. Returns the children started.
  size_t connectToAll(const LoaderForm& form, const std::vector<nv::message>& entries);
  // "Cancel": timers stopped, status cleared, disconnected, back to the form.
  void cancel();
  // The loader shown again for a session that lost its router (parameters with 1005).
  void showDisconnected(const nv::message& parameters, bool autoReconnect);

  LoaderPhase phase() const { return phase_; }
  const std::string& status() const { return status_; }
  int countdown() const { return countdown_; }
  const nv::message& parameters() const { return parameters_; }

private:
  void run(const nv::message& parameters);
  void onUp();
  void onLoggedIn();
  void onProgress(const std::string& text);
  void onDone(const ReadyOutcome& outcome);
  void startHere();
  void startInChild();
  void fail(const std::string& text, bool retry);
  void startCountdown(const std::string& failure);
  void tick();
  void showElapsed();
  void disconnect();
  void setPhase(LoaderPhase phase);
  void setStatus(std::string text);

  class UpWatch;

  Reactor& reactor_;
  std::string appData_;
  LoaderFlowHooks hooks_;
  std::string bookPath_, masterPassword_;
  std::vector<std::string> documents_;
  bool legacyMode_ = false;

  LoaderPhase phase_ = LoaderPhase::Idle;
  std::string status_;
  nv::message parameters_; // the attempt's; kept for the countdown's retry
  Reference<ReadyStep> step_;
  Reference<UpWatch> watch_;
  std::string failure_;
  int countdown_ = 0;
  int64_t disconnectedAt_ = 0;
  std::string disconnectedAddress_;
  Reactor::TimerId timer_ = 0;
};

} // namespace kestel
