// The quick-setup wizard as a router form: each CMD_SETFORM carries the page just filled in
// (STD_PAGE) and its number (STD_PAGENO); the answer is the next page with its number and
// description, a refusal that keeps the page open (code 0xFE0008, with the reason), or the end
// (STD_FINISHED with a summary in STD_DESCR). Pages: 1 mode, 2 internet address (router mode
// only), 3 local network and wireless. A form with the reset flag set ends the wizard at once
// (back to the factory settings) without a closing text. A page carries the members it asks for,
// with the values sent so far or their defaults; the client shows those fields on it.
#pragma once

#include "sim/RouterLogin.h"

#include <optional>

namespace kestel::sim {

class SetupWizard {
public:
  static constexpr nv::u32_id kMode{0x1}, kWanAddress{0x2}, kLan{0x3}, kLanMask{0x4};
  static constexpr nv::string_id kSsid{0x5}, kWpaKey{0x6};
  static constexpr nv::bool_id kReset{0x7};
  // The error that keeps the current page open.
  static constexpr uint32_t kStayOnPage = 0xFE0008;
  enum Mode : uint32_t { RouterMode = 0, BridgeMode = 1 };

  std::optional<nv::message> handle(const RouterRequest& request);
  // The settings of the last finished run; empty before.
  const nv::message& applied() const { return applied_; }

private:
  nv::message nextPage(uint32_t page, const nv::message& form);

  nv::message applied_;
};

} // namespace kestel::sim
