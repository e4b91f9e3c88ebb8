#include "sim/SetupWizard.h"

#include "api/wire/Vocabulary.h"
#include "sim/MenuHandler.h"
#include "sim/SampleAddresses.h"

namespace kestel::sim {
namespace {

nv::message pageReply(uint32_t number, const char* description, nv::message page) {
  nv::message reply;
  reply.set(STD_PAGE, page);
  reply.set(STD_PAGENO, number);
  reply.set(STD_DESCR, description);
  return reply;
}

// A value the client sent, or `fallback` when it sent none or left it empty.
uint32_t sentOr(const nv::message& form, nv::u32_id id, uint32_t fallback) {
  uint32_t v = form.get(id);
  return v ? v : fallback;
}
std::string sentOr(const nv::message& form, nv::string_id id, const char* fallback) {
  std::string v = form.get(id);
  return v.empty() ? fallback : v;
}

// The page that asks for the internet address.
nv::message internetPage(const nv::message& form) {
  nv::message page;
  page.set(SetupWizard::kWanAddress,
           sentOr(form, SetupWizard::kWanAddress, sample::ipv4(192, 0, 2, 2)));
  return page;
}

// The page that asks for the local network and the wireless settings.
nv::message localPage(const nv::message& form) {
  nv::message page;
  page.set(SetupWizard::kLan, sentOr(form, SetupWizard::kLan, sample::ipv4(192, 0, 2, 1)));
  page.set(SetupWizard::kLanMask, sentOr(form, SetupWizard::kLanMask, 0x00FFFFFFu));
  page.set(SetupWizard::kSsid, sentOr(form, SetupWizard::kSsid, "nimbalux"));
  page.set(SetupWizard::kWpaKey, form.get(SetupWizard::kWpaKey));
  return page;
}

} // namespace

std::optional<nv::message> SetupWizard::handle(const RouterRequest& request) {
  const nv::message& m = request.message;
  if (m.get(SYS_CMD) != CMD_SETFORM)
    return errorReply(ERROR_NOTIMP);
  if (!permits(request.user, 0x80))
    return errorReply(ERROR_NOTALLOWED);
  const nv::message form = m.get(STD_PAGE);
  // Asked to go back to the factory settings: done at once, with nothing to sum up.
  if (form.get(kReset)) {
    applied_ = nv::message();
    nv::message reply;
    reply.set(kFinished, true);
    return reply;
  }
  return nextPage(m.get(STD_PAGENO, 1), form);
}

nv::message SetupWizard::nextPage(uint32_t page, const nv::message& form) {
  switch (page) {
  case 1: {
    uint32_t mode = form.get(kMode);
    if (mode != RouterMode && mode != BridgeMode)
      return errorReply(kStayOnPage, "choose the router or the bridge mode");
    if (mode == RouterMode)
      return pageReply(2, "Internet address", internetPage(form));
    return pageReply(3, "Local network and wireless", localPage(form));
  }
  case 2: {
    if (form.get(kWanAddress) == 0)
      return errorReply(kStayOnPage, "the internet address is missing");
    return pageReply(3, "Local network and wireless", localPage(form));
  }
  case 3: {
    size_t ssid = form.get(kSsid).size(), key = form.get(kWpaKey).size();
    if (ssid < 1 || ssid > 32)
      return errorReply(kStayOnPage, "the network name must have 1 to 32 characters");
    if (key < 8 || key > 63)
      return errorReply(kStayOnPage, "the WPA key must have 8 to 63 characters");
    applied_ = form;
    nv::message reply;
    reply.set(kFinished, true);
    reply.set(STD_DESCR, std::string(form.get(kMode) == RouterMode ? "Router" : "Bridge") +
                             " mode set up; wireless network \"" + form.get(kSsid) + "\"");
    return reply;
  }
  default:
    return errorReply(ERROR_FAILED, "no such setup page");
  }
}

} // namespace kestel::sim
