// The self-upgrade's web client over Qt Network: plain HTTP GETs with the agent name "Kestel",
// past every cache, following at most kMaxRedirects redirections (never from http to anything
// less safe). Replies come on the GUI thread through Qt's event loop.
#pragma once

#include "app/WebClient.h"

#include <QNetworkAccessManager>

namespace kestel::gui {

class QtWebClient final : public WebClient {
public:
  static constexpr int kMaxRedirects = 5;

  QtWebClient();
  std::unique_ptr<WebRequest> get(const std::string& url, WebListener& listener) override;

private:
  QNetworkAccessManager manager_;
};

} // namespace kestel::gui
