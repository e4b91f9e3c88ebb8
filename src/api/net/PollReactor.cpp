#include "api/net/PollReactor.h"

#include "util/Assert.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace kestel {

namespace {

unsigned int toPollEvents(unsigned int events) {
  unsigned int out = 0;
  if (events & IoRead)
    out |= POLLIN;
  if (events & IoWrite)
    out |= POLLOUT;
  return out;
}

unsigned int fromPollEvents(short revents) {
  unsigned int out = 0;
  if (revents & (POLLIN | POLLPRI))
    out |= IoRead;
  if (revents & POLLOUT)
    out |= IoWrite;
  if (revents & (POLLERR | POLLNVAL))
    out |= IoError;
  if (revents & POLLHUP)
    out |= IoHangUp;
  return out;
}

} // namespace

PollReactor::PollReactor(Clock clock) : clock_(clock) {
  int fds[2];
  KESTEL_ASSERT(::pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0, "api/net/reactor");
  wakeRead_ = fds[0];
  wakeWrite_ = fds[1];
}

PollReactor::~PollReactor() {
  ::close(wakeRead_);
  ::close(wakeWrite_);
}

void PollReactor::watch(int fd, unsigned int events, IoCallback callback) {
  watches_[fd] = Watch{events, nextSerial_++, std::make_shared<IoCallback>(std::move(callback))};
}

void PollReactor::unwatch(int fd) { watches_.erase(fd); }

Reactor::TimerId PollReactor::addTimer(uint32_t ms, Task callback, bool repeat) {
  TimerId id = nextTimer_++;
  int64_t due = now() + ms;
  timers_.emplace(TimerKey{due, id},
                  Timer{ms, repeat, std::make_shared<Task>(std::move(callback))});
  timerDue_.emplace(id, due);
  return id;
}

void PollReactor::removeTimer(TimerId id) {
  auto it = timerDue_.find(id);
  if (it == timerDue_.end())
    return;
  timers_.erase(TimerKey{it->second, id});
  timerDue_.erase(it);
}

void PollReactor::post(Task task) {
  {
    std::lock_guard<std::mutex> lock(postedMutex_);
    posted_.push_back(std::move(task));
  }
  char byte = 1;
  // A full pipe already guarantees a wake-up, so a failed write loses nothing.
  [[maybe_unused]] ssize_t n = ::write(wakeWrite_, &byte, 1);
}

int64_t PollReactor::now() const {
  if (clock_ == Clock::Manual)
    return manualNow_;
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void PollReactor::advance(int64_t ms) {
  KESTEL_ASSERT(clock_ == Clock::Manual && ms >= 0, "api/net/reactor");
  int64_t target = manualNow_ + ms;
  runDueTimers(target);
  manualNow_ = target;
}

void PollReactor::runPosted() {
  std::vector<Task> tasks;
  {
    std::lock_guard<std::mutex> lock(postedMutex_);
    tasks.swap(posted_);
  }
  for (auto& task : tasks)
    task();
}

void PollReactor::runDueTimers(int64_t until) {
  while (!timers_.empty() && timers_.begin()->first.first <= until) {
    auto it = timers_.begin();
    if (clock_ == Clock::Manual && it->first.first > manualNow_)
      manualNow_ = it->first.first;
    fireTimer(it);
  }
}

void PollReactor::fireTimer(std::map<TimerKey, Timer>::iterator it) {
  TimerId id = it->first.second;
  Timer timer = std::move(it->second);
  timers_.erase(it);
  timerDue_.erase(id);
  if (timer.repeat) {
    // Rescheduled before the callback runs, so the callback may remove it. A zero period would
    // spin: it is stretched to one millisecond.
    int64_t due = now() + (timer.ms ? timer.ms : 1);
    timers_.emplace(TimerKey{due, id}, timer);
    timerDue_.emplace(id, due);
  }
  (*timer.callback)();
}

int PollReactor::pollTimeout(int waitMs) const {
  if (clock_ == Clock::Manual || timers_.empty())
    return waitMs;
  int64_t untilTimer = timers_.begin()->first.first - now();
  if (untilTimer < 0)
    untilTimer = 0;
  if (waitMs < 0 || untilTimer < waitMs)
    return static_cast<int>(untilTimer);
  return waitMs;
}

bool PollReactor::runOnce(int waitMs) {
  runPosted();
  if (clock_ == Clock::System)
    runDueTimers(now());

  std::vector<pollfd> fds;
  std::vector<uint64_t> serials;
  fds.push_back(pollfd{wakeRead_, POLLIN, 0});
  serials.push_back(0);
  for (auto& [fd, w] : watches_) {
    fds.push_back(pollfd{fd, static_cast<short>(toPollEvents(w.events)), 0});
    serials.push_back(w.serial);
  }
  int timeout = pollTimeout(waitMs);
  int n = ::poll(fds.data(), fds.size(), timeout);
  if (n < 0 && errno != EINTR)
    return false;
  if (n > 0)
    dispatch(fds, serials);
  runPosted();
  if (clock_ == Clock::System)
    runDueTimers(now());
  return true;
}

void PollReactor::dispatch(const std::vector<pollfd>& fds, const std::vector<uint64_t>& serials) {
  if (fds[0].revents)
    drainWakePipe();
  for (size_t i = 1; i < fds.size(); ++i) {
    if (!fds[i].revents)
      continue;
    // The watch may have been dropped or replaced by an earlier callback of this turn.
    auto it = watches_.find(fds[i].fd);
    if (it == watches_.end() || it->second.serial != serials[i])
      continue;
    unsigned int events = fromPollEvents(fds[i].revents);
    events &= it->second.events | IoError | IoHangUp;
    if (!events)
      continue;
    auto callback = it->second.callback; // keeps the callback alive if it unwatches itself
    (*callback)(events);
  }
}

void PollReactor::drainWakePipe() {
  char buf[64];
  while (::read(wakeRead_, buf, sizeof buf) > 0) {
  }
}

void PollReactor::run() {
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(postedMutex_);
      if (stopRequested_) {
        stopRequested_ = false;
        return;
      }
    }
    runOnce(-1);
  }
}

void PollReactor::stop() {
  post([this] {
    std::lock_guard<std::mutex> lock(postedMutex_);
    stopRequested_ = true;
  });
}

} // namespace kestel
