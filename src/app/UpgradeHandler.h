// The self-upgrade: local handler 4, whose single object (id 1) the loader's upgrade panel
// subscribes to. Subscribing looks up the newest version on the upgrade web server and fetches
// its change log; command 1 ("Upgrade", after the census of running instances) downloads the
// new program beside the running one, checks its Ed25519 signature against the key built into
// the program, and hands over to it (UpgradeHandOff.h). The server is plain HTTP:
//
//   latest version   http://<server>/nimbalux/kestel/LATEST.3
//   change log       http://<server>/nimbalux/kestel/<version>/CHANGELOG
//   program          http://<server>/nimbalux/kestel/<version>/kestel-linux-<machine>
//   its signature    the program's path + ".sig" (64 raw bytes)
//
// <server> is "host[:port]" from the loader's settings ("upgradeserver"); empty, the feature
// is off. Every failure ends in a status text on the object, the partial download removed and
// the running program untouched.
#pragma once

#include "api/net/Looper.h"
#include "app/LocalSubscribers.h"
#include "app/UpgradeFiles.h"
#include "app/WebClient.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kestel {

class SettingsRegistry;

inline constexpr uint32_t kUpgradeHandlerId = 4;
inline constexpr uint32_t kUpgradeObjectId = 1;
inline constexpr uint32_t kCommandUpgrade = 1;

namespace upgrade_key {
inline constexpr nv::string_id kStatus{5};
inline constexpr nv::string_id kChangeLog{3};
inline constexpr nv::bool_id kNewer{4};
} // namespace upgrade_key

inline constexpr const char* kUpgradeServerSetting = "upgradeserver";
inline constexpr const char* kUpgradeCorrupted = "ERROR: Upgrade file was corrupted";
inline constexpr const char* kNoNewVersion = "there is no new version to upgrade to";
inline constexpr const char* kCannotWriteVersion = "could not write new version on disk";
inline constexpr const char* kNoUpgradeServer = "no upgrade server is set";

// The largest replies taken: a version line, a change log, a signature, a program.
inline constexpr size_t kMaxLatestSize = 4096;
inline constexpr size_t kMaxChangeLogSize = 1 << 20;
inline constexpr uint64_t kMaxProgramSize = uint64_t(512) << 20;

// "host[:port]" with nothing that could change the path of a request.
bool isUpgradeServerName(std::string_view server);
// The saved upgrade server ("" when none) and its change.
std::string upgradeServerSetting(SettingsRegistry& settings);
bool setUpgradeServerSetting(SettingsRegistry& settings, const std::string& server);

// The program's file name on the server for this machine, "kestel-linux-x86_64" and the like.
std::string upgradeProgramName();
// The version a LATEST.3 reply names: its text up to the first line end, when that is a client
// version (parseVersion); else nullopt.
std::optional<std::string> latestVersionText(ByteSpan reply);
// The built-in public key (kestel/UpgradeKey.h); empty when the build has none.
Bytes builtInUpgradeKey();

struct UpgradeSetup {
  WebClient* web = nullptr;            // must outlive the handler
  std::function<std::string()> server; // read at each lookup
  std::string program;                 // the running program, which the upgrade replaces
  std::string packageList = kPackageFileList;
  Bytes publicKey;            // kSignaturePublicKeySize bytes
  std::string runningVersion; // the version compared against
  // Starts the checked download as the new program (startUpgradedProgram by default).
  std::function<Expected<void>(const std::string& downloaded, const std::string& program)> start;
  // The new program runs: close the main window, the program ends.
  std::function<void()> quit;
};

class UpgradeHandler final : public IHandlerHooks, private WebListener {
public:
  enum class Phase { LookingUp = 0, FetchingChangeLog = 1, Downloading = 2 };

  explicit UpgradeHandler(UpgradeSetup setup);
  ~UpgradeHandler() override;
  UpgradeHandler(const UpgradeHandler&) = delete;
  UpgradeHandler& operator=(const UpgradeHandler&) = delete;

  void onRequest(IHandler* handler, const nv::message& request) override;
  void onUnmatchedReply(IHandler*, const nv::message&, uint32_t) override {}

  const nv::message& object() const { return object_; }
  Phase phase() const { return phase_; }
  bool busy() const { return request_ != nullptr; }
  // The partial download's path while one is written.
  std::string downloadPath() const { return file_.path(); }

private:
  enum class Lookup { Running, Finished, Stopped };
  enum class Fetch { None, Latest, ChangeLog, Program, Signature };

  // Prepares the lookup; true when the latest version is to be requested.
  bool subscribed();
  void unsubscribed();
  // Reply to command 1: empty when accepted, else the error text.
  std::string upgradeCommand();
  std::string startDownload();
  void fetch(Fetch what, const std::string& path);
  void cancel();
  void setStatus(const std::string& text);
  void publish();
  std::string baseUrl() const;

  void webStatus(std::string_view text) override;
  void webLength(uint64_t length) override;
  bool webData(ByteSpan block) override;
  void webDone() override;
  void webFailed(const std::string& text) override;

  void latestArrived();
  void changeLogArrived();
  void programArrived();
  void signatureArrived();
  void downloadFailed(const std::string& why, const std::string& status);
  void showProgress();

  UpgradeSetup setup_;
  LocalSubscribers subscribers_;
  Reference<IHandler> handler_;
  nv::message object_;
  Phase phase_ = Phase::LookingUp;
  Lookup lookup_ = Lookup::Stopped;
  Fetch fetch_ = Fetch::None;
  bool upgradeRequested_ = false;
  std::string latest_;
  uint32_t latestVersion_ = 0;
  std::unique_ptr<WebRequest> request_;
  Bytes body_; // the reply of an in-memory request
  DownloadFile file_;
  uint64_t count_ = 0;
  std::optional<uint64_t> length_;
};

} // namespace kestel
