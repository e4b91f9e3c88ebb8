// The core's reactor over Qt's loop: timers (one-shot gone before its callback, repeating until
// removed from inside), socket readiness with the exact bits (read, write, hang-up), unwatching
// from inside a callback, posts from another thread, and the toolkit's timer service running on
// it. Timers here are 1 ms real timers waited for by Qt's loop.
#include "GuiTest.h"

#include "api/net/ReactorScope.h"
#include "gui/QtReactor.h"

#include <QTest>
#include <QThread>

#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace kestel::gui {

class QtReactorTest : public QObject {
  Q_OBJECT
private slots:
  void timersFireAndOneShotsAreGoneFirst() {
    QtReactor reactor;
    bool fired = false;
    size_t liveDuringCallback = 99;
    reactor.addTimer(
        1, [&] { fired = true, liveDuringCallback = reactor.timerCount(); }, false);
    int repeats = 0;
    Reactor::TimerId repeating = 0;
    repeating = reactor.addTimer(
        1,
        [&] {
          if (++repeats == 3)
            reactor.removeTimer(repeating);
        },
        true);
    Reactor::TimerId removed = reactor.addTimer(
        1, [] { QFAIL("removed timer fired"); }, false);
    reactor.removeTimer(removed);
    QTRY_VERIFY(fired && repeats >= 3);
    QCOMPARE(liveDuringCallback, size_t(1)); // only the repeating one
    QTest::qWait(20);
    QCOMPARE(repeats, 3);
    QCOMPARE(reactor.timerCount(), size_t(0));
    QVERIFY(reactor.now() >= 0);
  }

  void socketReadinessCarriesTheExactBits() {
    int fds[2];
    QCOMPARE(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    QtReactor reactor;
    std::vector<unsigned> seen;
    std::string got;
    reactor.watch(fds[0], IoRead, [&](unsigned events) {
      seen.push_back(events);
      char buf[64];
      ssize_t n = ::read(fds[0], buf, sizeof buf);
      if (n > 0)
        got.append(buf, size_t(n));
      else
        reactor.unwatch(fds[0]); // from inside its own callback
    });
    QCOMPARE(::write(fds[1], "ping", 4), ssize_t(4));
    QTRY_COMPARE(got, std::string("ping"));
    QCOMPARE(seen.front(), unsigned(IoRead));
    ::close(fds[1]);
    QTRY_COMPARE(reactor.watchCount(), size_t(0));
    QVERIFY(seen.back() & IoHangUp);

    // Write readiness is asked for only while there is output; rewatching replaces the first.
    int pair[2];
    QCOMPARE(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    unsigned writeEvents = 0;
    reactor.watch(pair[0], IoRead, [&](unsigned) { QFAIL("nothing to read"); });
    reactor.watch(pair[0], IoRead | IoWrite, [&](unsigned e) {
      writeEvents = e;
      reactor.watch(pair[0], IoRead, [](unsigned) {});
    });
    QTRY_COMPARE(writeEvents, unsigned(IoWrite));
    reactor.unwatch(pair[0]);
    ::close(fds[0]);
    ::close(pair[0]);
    ::close(pair[1]);
  }

  void postsFromAnotherThreadRunOnTheLoop() {
    QtReactor reactor;
    QThread* ranOn = nullptr;
    std::thread worker([&] { reactor.post([&] { ranOn = QThread::currentThread(); }); });
    worker.join();
    QTRY_VERIFY(ranOn != nullptr);
    QCOMPARE(ranOn, QThread::currentThread());
  }

  void theToolkitTimerServiceRunsOnIt() {
    QtReactor reactor;
    ReactorScope scope(reactor);
    struct Listener final : EventListener {
      void* context = nullptr;
      int events = 0;
      void onEvent(Event& e) override {
        if (auto* t = static_cast<ITimerEvent*>(e.cast(kTimerEventInterface))) {
          context = t->context();
          ++events;
        }
      }
    };
    Reference<Listener> listener(new Listener);
    int context = 0;
    unsigned id = addTimer(1, listener.get(), &context, false);
    QVERIFY(id != 0xFFFFFFFF);
    QVERIFY(hasTimer(listener.get(), &context));
    QTRY_COMPARE(listener->events, 1);
    QCOMPARE(listener->context, static_cast<void*>(&context));
    QVERIFY(!hasTimer(listener.get(), &context));
  }
};

KESTEL_GUI_TEST(QtReactorTest)

} // namespace kestel::gui

#include "QtReactorTest.moc"
