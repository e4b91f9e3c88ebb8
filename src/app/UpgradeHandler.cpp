#include "app/UpgradeHandler.h"

#include "api/wire/Vocabulary.h"
#include "app/UpgradeHandOff.h"
#include "crypto/Signature.h"
#include "miw/Settings.h"
#include "miw/Version.h"
#include "util/Ascii.h"
#include "util/Log.h"

#include <kestel/UpgradeKey.h>
#include <kestel/Version.h>

#include <cstdio>
#include <string_view>

namespace kestel {
namespace {

constexpr const char* kServerPath = "/nimbalux/kestel/";

} // namespace

bool isUpgradeServerName(std::string_view server) {
  if (server.empty())
    return false;
  for (char c : server)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
          c == '-' || c == '_' || c == ':' || c == '[' || c == ']'))
      return false;
  return true;
}

std::string upgradeServerSetting(SettingsRegistry& settings) {
  std::string server;
  if (const StringMap* loader = settings.getSettings(0, nullptr, kMainWindowSettingsFlags))
    (void)unpackData(loader->get(kUpgradeServerSetting), server);
  return server;
}

bool setUpgradeServerSetting(SettingsRegistry& settings, const std::string& server) {
  StringMap* loader = settings.getSettings(0, nullptr, kMainWindowSettingsFlags);
  if (!loader)
    return false;
  if (server.empty())
    loader->remove(kUpgradeServerSetting);
  else
    loader->set(kUpgradeServerSetting, packData(server));
  return true;
}

std::string upgradeProgramName() {
#if defined(__x86_64__)
  return "kestel-linux-x86_64";
#elif defined(__aarch64__)
  return "kestel-linux-aarch64";
#elif defined(__i386__)
  return "kestel-linux-i386";
#elif defined(__arm__)
  return "kestel-linux-arm";
#else
  return "kestel-linux-other";
#endif
}

std::optional<std::string> latestVersionText(ByteSpan reply) {
  std::string_view text(reinterpret_cast<const char*>(reply.data()), reply.size());
  text = text.substr(0, text.find_first_of("\r\n"));
  if (parseVersion(text) == 0)
    return std::nullopt;
  return std::string(text);
}

Bytes builtInUpgradeKey() {
  std::string_view hex = kUpgradePublicKeyHex;
  Bytes key;
  if (hex.size() != 2 * kSignaturePublicKeySize)
    return key;
  for (size_t i = 0; i < hex.size(); i += 2) {
    int high = hexDigitValue(static_cast<unsigned char>(hex[i])),
        low = hexDigitValue(static_cast<unsigned char>(hex[i + 1]));
    if (high < 0 || low < 0)
      return {};
    key.push_back(uint8_t(high << 4 | low));
  }
  return key;
}

UpgradeHandler::UpgradeHandler(UpgradeSetup setup)
    : setup_(std::move(setup)), handler_(createHandler(this, kUpgradeHandlerId)) {
  if (setup_.runningVersion.empty())
    setup_.runningVersion = kKestelVersion;
  if (!setup_.start)
    setup_.start = startUpgradedProgram;
  object_.set(STD_ID, kUpgradeObjectId);
  object_.set(upgrade_key::kStatus, std::string());
  object_.set(upgrade_key::kChangeLog, std::string());
  object_.set(upgrade_key::kNewer, false);
}

UpgradeHandler::~UpgradeHandler() {
  cancel();
  handler_->detach();
}

void UpgradeHandler::onRequest(IHandler* handler, const nv::message& request) {
  uint32_t command = request.get(SYS_CMD);
  bool lookUp = command == CMD_SUBSCRIBE && subscribed(); // before the subscriber gets the object
  if (subscribers_.handle(handler, request, [this] { return std::vector<nv::message>{object_}; })) {
    if (lookUp)
      fetch(Fetch::Latest, std::string(kServerPath) + "LATEST.3");
    if (command == CMD_UNSUBSCRIBE)
      unsubscribed();
    return;
  }
  switch (command) {
  case CMD_GETALL: {
    nv::message reply;
    reply.set(nv::u32_id(STD_OBJ_COUNT), 1u);
    reply.set(STD_OBJS, std::vector<nv::message>{object_});
    handler->reply(request, std::move(reply));
    return;
  }
  case kCommandUpgrade:
    if (std::string refused = upgradeCommand(); !refused.empty())
      handler->replyError(request, ERROR_FAILED, refused);
    else
      handler->reply(request, {});
    return;
  default:
    handler->replyError(request, ERROR_NOTIMP, {});
  }
}

bool UpgradeHandler::subscribed() {
  logLine("subscribed");
  cancel();
  phase_ = Phase::LookingUp;
  upgradeRequested_ = false;
  lookup_ = Lookup::Stopped;
  std::string server = setup_.server ? setup_.server() : std::string();
  if (server.empty() || !setup_.web) {
    setStatus(kNoUpgradeServer);
    return false;
  }
  if (!isUpgradeServerName(server)) {
    setStatus(std::string(kWebFailed) + "bad server name " + server);
    return false;
  }
  lookup_ = Lookup::Running;
  setStatus("looking up latest version...");
  return true;
}

void UpgradeHandler::unsubscribed() {
  logLine("unsubscribed");
  if (subscribers_.size() == 0)
    cancel();
}

std::string UpgradeHandler::upgradeCommand() {
  logLine("UPGRADE!!!");
  switch (lookup_) {
  case Lookup::Running:
    upgradeRequested_ = true; // the download starts when the change log is here
    return {};
  case Lookup::Stopped:
    return kNoNewVersion;
  case Lookup::Finished:
    break;
  }
  if (latestVersion_ <= parseVersion(setup_.runningVersion))
    return kNoNewVersion;
  return startDownload();
}

std::string UpgradeHandler::startDownload() {
  cancel();
  if (setup_.program.empty()) {
    setStatus("ERROR: could get path to myself");
    return "could get path to myself";
  }
  std::string refused;
  if (!canReplaceProgram(setup_.program, setup_.packageList, refused)) {
    logf("ERROR: ", refused);
    setStatus(refused);
    return refused;
  }
  bool readOnly = false;
  Expected<DownloadFile> file = DownloadFile::create(setup_.program, &readOnly);
  if (!file) {
    logf("ERROR: ", file.error().text);
    std::string text = readOnly ? refused : std::string(kCannotWriteVersion);
    setStatus(text);
    return text;
  }
  file_ = std::move(*file);
  phase_ = Phase::Downloading;
  count_ = 0;
  length_.reset();
  setStatus("Downloading...");
  fetch(Fetch::Program, kServerPath + latest_ + "/" + upgradeProgramName());
  return {};
}

std::string UpgradeHandler::baseUrl() const {
  return "http://" + (setup_.server ? setup_.server() : std::string());
}

void UpgradeHandler::fetch(Fetch what, const std::string& path) {
  request_.reset();
  body_.clear();
  fetch_ = what;
  request_ = setup_.web->get(baseUrl() + path, *this);
}

void UpgradeHandler::cancel() {
  request_.reset();
  fetch_ = Fetch::None;
  file_.remove();
}

void UpgradeHandler::setStatus(const std::string& text) {
  object_.set(upgrade_key::kStatus, text);
  publish();
}

void UpgradeHandler::publish() { subscribers_.notify(handler_.get(), {object_}, 1); }

void UpgradeHandler::webStatus(std::string_view text) {
  bool lookingUp = fetch_ == Fetch::Latest || fetch_ == Fetch::ChangeLog;
  if (lookingUp || (fetch_ == Fetch::Program && text == kWebConnecting))
    setStatus(std::string(text));
}

void UpgradeHandler::webLength(uint64_t length) {
  if (fetch_ == Fetch::Program)
    length_ = length;
}

bool UpgradeHandler::webData(ByteSpan block) {
  switch (fetch_) {
  case Fetch::None:
    return false;
  case Fetch::Program:
    if ((length_ && *length_ > kMaxProgramSize) || count_ + block.size() > kMaxProgramSize) {
      downloadFailed("the program is larger than allowed", kUpgradeCorrupted);
      return false;
    }
    if (!file_.write(block)) {
      downloadFailed("cannot write " + file_.path(), "failed: couldn't write file to disk");
      return false;
    }
    count_ += block.size();
    showProgress();
    return true;
  case Fetch::Signature:
    if (body_.size() + block.size() > kSignatureSize) {
      downloadFailed("the signature is longer than a signature", kUpgradeCorrupted);
      return false;
    }
    break;
  case Fetch::Latest:
  case Fetch::ChangeLog:
    if (body_.size() + block.size() >
        (fetch_ == Fetch::Latest ? kMaxLatestSize : kMaxChangeLogSize)) {
      logLine("upgrade lookup: reply too large");
      request_.reset();
      fetch_ = Fetch::None;
      lookup_ = Lookup::Stopped;
      setStatus(std::string(kWebFailed) + "reply too large");
      return false;
    }
    break;
  }
  body_.insert(body_.end(), block.begin(), block.end());
  return true;
}

void UpgradeHandler::webDone() {
  Fetch done = fetch_;
  fetch_ = Fetch::None;
  request_.reset(); // finished: the web client touches it no more
  switch (done) {
  case Fetch::Latest:
    latestArrived();
    break;
  case Fetch::ChangeLog:
    changeLogArrived();
    break;
  case Fetch::Program:
    programArrived();
    break;
  case Fetch::Signature:
    signatureArrived();
    break;
  case Fetch::None:
    logf("onCompletion in wrong state=", int(phase_));
    break;
  }
}

void UpgradeHandler::webFailed(const std::string& text) {
  Fetch failed = fetch_;
  fetch_ = Fetch::None;
  request_.reset();
  logf("upgrade request failed: ", text);
  if (failed == Fetch::Program || failed == Fetch::Signature) {
    downloadFailed(text, kUpgradeCorrupted);
    return;
  }
  if (failed != Fetch::None) {
    lookup_ = Lookup::Stopped;
    setStatus(text);
  }
}

void UpgradeHandler::latestArrived() {
  std::optional<std::string> latest = latestVersionText(body_);
  if (!latest) { // an error page or the like: the check ends without a word
    lookup_ = Lookup::Stopped;
    return;
  }
  latest_ = *latest;
  latestVersion_ = parseVersion(latest_);
  phase_ = Phase::FetchingChangeLog;
  setStatus("fetching changelog...");
  fetch(Fetch::ChangeLog, kServerPath + latest_ + "/CHANGELOG");
}

void UpgradeHandler::changeLogArrived() {
  object_.set(upgrade_key::kChangeLog, std::string(body_.begin(), body_.end()));
  body_.clear();
  lookup_ = Lookup::Finished;
  if (latestVersion_ <= parseVersion(setup_.runningVersion)) {
    setStatus("There are no new versions");
    return;
  }
  object_.set(upgrade_key::kNewer, true);
  setStatus("There is a new version - " + latest_);
  if (upgradeRequested_) {
    upgradeRequested_ = false;
    (void)startDownload(); // a refusal is the status text
  }
}

void UpgradeHandler::showProgress() {
  char size[32];
  std::snprintf(size, sizeof size, "%ukiB", unsigned((count_ + 512) >> 10));
  char text[96];
  if (length_ && *length_ > 0)
    std::snprintf(text, sizeof text, "Downloaded %u%% (%s)", unsigned(count_ * 100 / *length_),
                  size);
  else
    std::snprintf(text, sizeof text, "Downloaded %s", size);
  setStatus(text);
}

void UpgradeHandler::programArrived() {
  setStatus("Downloaded");
  if (length_ && count_ != *length_) {
    downloadFailed("got " + std::to_string(count_) + " of " + std::to_string(*length_) + " bytes",
                   kUpgradeCorrupted);
    return;
  }
  if (!file_.finish()) {
    downloadFailed("cannot flush " + file_.path(), "failed: couldn't write file to disk");
    return;
  }
  fetch(Fetch::Signature, kServerPath + latest_ + "/" + upgradeProgramName() + ".sig");
}

void UpgradeHandler::signatureArrived() {
  if (setup_.publicKey.size() != kSignaturePublicKeySize) {
    downloadFailed("this program was built without an upgrade key", kUpgradeCorrupted);
    return;
  }
  if (body_.size() != kSignatureSize || !file_.verify(body_, setup_.publicKey)) {
    downloadFailed("the signature does not match", kUpgradeCorrupted);
    return;
  }
  std::string downloaded = file_.keep();
  logf("upgrade: starting ", downloaded);
  if (Expected<void> started = setup_.start(downloaded, setup_.program); !started) {
    deleteDownloadedProgram(downloaded);
    setStatus("ERROR: failed to start updated version");
    return;
  }
  if (setup_.quit)
    setup_.quit();
}

void UpgradeHandler::downloadFailed(const std::string& why, const std::string& status) {
  logf("upgrade download failed: ", why);
  request_.reset();
  fetch_ = Fetch::None;
  file_.remove();
  setStatus(status);
}

} // namespace kestel
