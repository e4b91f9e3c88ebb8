#include "gui/QtWebClient.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QUrl>

namespace kestel::gui {
namespace {

// One GET. The listener may destroy this object from inside any of its calls: every slot calls
// the listener last and touches nothing afterwards.
class QtWebRequest final : public WebRequest {
public:
  QtWebRequest(QNetworkReply* reply, WebListener& listener) : reply_(reply) {
    listener.webStatus(kWebConnecting); // only recorded: the listener hears it after get()
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, &listener] {
      QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
      if (length.isValid())
        listener.webLength(length.toULongLong());
    });
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, &listener] {
      listener.webStatus(kWebReceiving);
      QPointer<QNetworkReply> alive(reply);
      while (alive && reply->isRunning() && reply->bytesAvailable() > 0) {
        QByteArray block = reply->read(65536);
        if (!listener.webData(ByteSpan(reinterpret_cast<const uint8_t*>(block.constData()),
                                       size_t(block.size()))))
          return; // the listener cancelled (and may have destroyed this request)
      }
    });
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, &listener] {
      if (reply->error() != QNetworkReply::NoError) {
        listener.webFailed(failureText(reply));
        return;
      }
      QByteArray rest = reply->readAll();
      if (!rest.isEmpty() &&
          !listener.webData(
              ByteSpan(reinterpret_cast<const uint8_t*>(rest.constData()), size_t(rest.size()))))
        return;
      listener.webStatus(kWebDone);
      listener.webDone();
    });
  }
  ~QtWebRequest() override {
    if (!reply_)
      return; // the manager went first and took its replies along
    QObject::disconnect(reply_, nullptr, nullptr, nullptr);
    reply_->abort();
    reply_->deleteLater();
  }

  static std::string failureText(QNetworkReply* reply) {
    switch (reply->error()) {
    case QNetworkReply::HostNotFoundError:
      return kWebNoServer;
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::TimeoutError:
      return kWebNoConnection;
    default:
      return kWebFailed + reply->errorString().toStdString();
    }
  }

private:
  QPointer<QNetworkReply> reply_;
};

} // namespace

QtWebClient::QtWebClient() {
  manager_.setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
}

std::unique_ptr<WebRequest> QtWebClient::get(const std::string& url, WebListener& listener) {
  QNetworkRequest request(QUrl(QString::fromStdString(url)));
  request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Kestel"));
  request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
  request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
  request.setRawHeader("Cache-Control", "no-cache");
  request.setMaximumRedirectsAllowed(kMaxRedirects);
  return std::make_unique<QtWebRequest>(manager_.get(request), listener);
}

} // namespace kestel::gui
