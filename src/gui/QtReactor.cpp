#include "gui/QtReactor.h"

#include <QMetaObject>
#include <QSocketNotifier>
#include <QTimer>

#include <poll.h>

namespace kestel::gui {
namespace {

// Takes a notifier out of service from anywhere, including its own activation.
void retire(QSocketNotifier* notifier) {
  if (!notifier)
    return;
  notifier->setEnabled(false);
  QObject::disconnect(notifier, nullptr, nullptr, nullptr);
  notifier->deleteLater();
}

} // namespace

QtReactor::QtReactor(QObject* parent) : QObject(parent) { clock_.start(); }

QtReactor::~QtReactor() {
  for (auto& [fd, w] : watches_) {
    retire(w.read);
    retire(w.write);
  }
  for (auto& [id, timer] : timers_)
    delete timer;
}

void QtReactor::watch(int fd, unsigned int events, IoCallback callback) {
  Watch& w = watches_[fd];
  w.events = events;
  w.callback = std::make_shared<IoCallback>(std::move(callback));
  // Hang-up and error are reported whether asked for or not; they wake the read notifier.
  if (!w.read) {
    w.read = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(w.read, &QSocketNotifier::activated, this, [this, fd] { activated(fd); });
  }
  w.read->setEnabled(true);
  if ((events & IoWrite) && !w.write) {
    w.write = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    connect(w.write, &QSocketNotifier::activated, this, [this, fd] { activated(fd); });
  }
  if (w.write)
    w.write->setEnabled((events & IoWrite) != 0);
}

void QtReactor::unwatch(int fd) {
  auto it = watches_.find(fd);
  if (it == watches_.end())
    return;
  retire(it->second.read);
  retire(it->second.write);
  watches_.erase(it);
}

void QtReactor::activated(int fd) {
  auto it = watches_.find(fd);
  if (it == watches_.end())
    return;
  pollfd p{fd, POLLIN, 0};
  if (it->second.events & IoWrite)
    p.events |= POLLOUT;
  if (::poll(&p, 1, 0) <= 0)
    return; // the readiness went away meanwhile (another reader took the data)
  unsigned int ready = 0;
  if ((p.revents & POLLIN) && (it->second.events & IoRead))
    ready |= IoRead;
  if ((p.revents & POLLOUT) && (it->second.events & IoWrite))
    ready |= IoWrite;
  if (p.revents & (POLLERR | POLLNVAL))
    ready |= IoError;
  if (p.revents & POLLHUP)
    ready |= IoHangUp;
  if (ready == 0)
    return;
  // The callback may unwatch or rewatch the descriptor: keep it alive for the call.
  std::shared_ptr<IoCallback> callback = it->second.callback;
  (*callback)(ready);
}

Reactor::TimerId QtReactor::addTimer(uint32_t ms, Task callback, bool repeat) {
  TimerId id = nextTimer_++;
  auto* timer = new QTimer(this);
  timer->setTimerType(Qt::PreciseTimer);
  timer->setSingleShot(!repeat);
  timer->setInterval(static_cast<int>(std::min<uint32_t>(ms, INT32_MAX)));
  auto task = std::make_shared<Task>(std::move(callback));
  connect(timer, &QTimer::timeout, this, [this, id, task] {
    fired(id);
    (*task)();
  });
  timers_[id] = timer;
  timer->start();
  return id;
}

void QtReactor::fired(TimerId id) {
  auto it = timers_.find(id);
  if (it == timers_.end() || !it->second->isSingleShot())
    return;
  // A one-shot timer is gone before its callback runs.
  it->second->deleteLater();
  timers_.erase(it);
}

void QtReactor::removeTimer(TimerId id) {
  auto it = timers_.find(id);
  if (it == timers_.end())
    return;
  it->second->stop();
  it->second->disconnect();
  it->second->deleteLater();
  timers_.erase(it);
}

void QtReactor::post(Task task) {
  QMetaObject::invokeMethod(
      this, [task = std::move(task)] { task(); }, Qt::QueuedConnection);
}

int64_t QtReactor::now() const { return clock_.elapsed(); }

} // namespace kestel::gui
