// Start-up of the desktop program: `kestel --quit-when-shown` started off screen until its first
// window has been painted and it has quit, against the floor every Qt Widgets program pays: this
// program started again as a minimal Qt program that shows one main window with a label and quits
// after the same first paint. Both sides are whole process starts (exec, dynamic loading, Qt's
// platform plugin, fonts, the first paint, exit), measured in wall time; kestel also runs the
// loader's start-up (cache pruning, address book, settings), builds the loader window and opens
// its log in a private folder.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QMainWindow>
#include <QTimer>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

class FirstPaint final : public QObject {
public:
  using QObject::QObject;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint)
      QTimer::singleShot(0, qApp, [] { QApplication::quit(); });
    return false;
  }
};

// The peer: the least a Qt Widgets program does to show a window.
int peerWindow(int argc, char** argv) {
  QApplication app(argc, argv);
  QMainWindow window;
  window.setCentralWidget(new QLabel("Kestel"));
  window.resize(1000, 700);
  window.show();
  window.installEventFilter(new FirstPaint(&window));
  return QApplication::exec();
}

// Runs `argv` to its end with the off-screen platform and a private home; false unless it exits 0.
bool runToEnd(const std::vector<std::string>& args, const std::string& home) {
  std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen", "HOME=" + home,
                                  "KESTEL_HOME=" + home, "XDG_RUNTIME_DIR=" + home,
                                  "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent"};
  for (char** e = environ; *e; ++e)
    if (std::strncmp(*e, "PATH=", 5) == 0 || std::strncmp(*e, "LD_LIBRARY_PATH=", 16) == 0)
      env.emplace_back(*e);
  std::vector<char*> argp, envp;
  for (const std::string& a : args)
    argp.push_back(const_cast<char*>(a.c_str()));
  argp.push_back(nullptr);
  for (const std::string& e : env)
    envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, argp[0], nullptr, nullptr, argp.data(), envp.data()) != 0)
    return false;
  int status = 0;
  return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string privateHome() {
  static std::string home = [] {
    char pattern[] = "/tmp/kestel-bench-startup-XXXXXX";
    const char* made = mkdtemp(pattern);
    return std::string(made ? made : "/tmp");
  }();
  return home;
}

void Kestel(benchmark::State& state) {
  for (auto _ : state)
    if (!runToEnd({KESTEL_EXE, "--quit-when-shown"}, privateHome()))
      state.SkipWithError("kestel did not start and quit cleanly");
}

void QtFloor(benchmark::State& state) {
  for (auto _ : state)
    if (!runToEnd({"/proc/self/exe", "--peer-window"}, privateHome()))
      state.SkipWithError("the peer window did not start and quit cleanly");
}

BENCHMARK(Kestel)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);
BENCHMARK(QtFloor)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

} // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--peer-window") == 0)
    return peerWindow(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
