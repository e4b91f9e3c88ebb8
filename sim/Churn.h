// Random changes to one menu at a steady rate, as a busy router makes them: mostly changed
// objects, some added and some removed (so the table keeps its size), pushed to subscribers like
// any other edit. Driven by a reactor timer ten times a second.
#pragma once

#include "api/net/Reactor.h"
#include "sim/MenuStore.h"

#include <random>

namespace kestel::sim {

class Churn {
public:
  static constexpr uint32_t kTickMs = 100;

  // `row` makes the n-th object of the table (see MenuDefinition).
  Churn(Reactor& reactor, MenuStore& table, nv::message (*row)(uint32_t), double perSecond);
  ~Churn();
  Churn(const Churn&) = delete;
  Churn& operator=(const Churn&) = delete;

  // One tick's worth of changes (the timer calls it).
  void tick();

private:
  void changeOne();

  Reactor& reactor_;
  MenuStore& table_;
  nv::message (*row_)(uint32_t);
  double perTick_;
  double owed_ = 0;
  uint32_t nextRow_;
  std::mt19937 random_{1};
  Reactor::TimerId timer_ = 0;
};

} // namespace kestel::sim
