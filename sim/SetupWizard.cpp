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

} // namespace

std::optional<nv::message> SetupWizard::handle(const RouterRequest& request) {
  const nv::message& m = request.message;
  if (m.get(SYS_CMD) != CMD_SETFORM)
    return errorReply(ERROR_NOTIMP);
  if (!permits(request.user, 0x80))
    return errorReply(ERROR_NOTALLOWED);
  return nextPage(m.get(STD_PAGENO, 1), m.get(STD_PAGE));
}

nv::message SetupWizard::nextPage(uint32_t page, const nv::message& form) {
  switch (page) {
  case 1: {
    uint32_t mode = form.get(kMode);
    if (mode != RouterMode && mode != BridgeMode)
      return errorReply(kStayOnPage, "choose the router or the bridge mode");
    nv::message next = form;
    if (mode == RouterMode) {
      if (!next.has(kWanAddress))
        next.set(kWanAddress, sample::ipv4(192, 0, 2, 2));
      return pageReply(2, "Internet address", next);
    }
    if (!next.has(kSsid))
      next.set(kSsid, "nimbalux");
    return pageReply(3, "Local network and wireless", next);
  }
  case 2: {
    if (form.get(kWanAddress) == 0)
      return errorReply(kStayOnPage, "the internet address is missing");
    nv::message next = form;
    if (!next.has(kSsid))
      next.set(kSsid, "nimbalux");
    return pageReply(3, "Local network and wireless", next);
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
