// The main of a benchmark program that draws windows: off screen unless QT_QPA_PLATFORM says
// otherwise, one QApplication around the runs; `after` (when given) releases what the runs kept
// while the application still exists.
#pragma once

#include <QApplication>
#include <benchmark/benchmark.h>

#include <functional>

namespace kestel::bench {

inline int runQtBenchmarks(int argc, char** argv, const std::function<void()>& after = {}) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (after)
    after();
  return 0;
}

} // namespace kestel::bench
