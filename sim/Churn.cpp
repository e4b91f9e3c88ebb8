#include "sim/Churn.h"

#include "api/wire/Vocabulary.h"

namespace kestel::sim {

Churn::Churn(Reactor& reactor, MenuStore& table, nv::message (*row)(uint32_t), double perSecond)
    : reactor_(reactor), table_(table), row_(row), perTick_(perSecond * kTickMs / 1000.0),
      nextRow_(static_cast<uint32_t>(table.size())) {
  if (perSecond > 0)
    timer_ = reactor_.addTimer(
        kTickMs, [this] { tick(); }, true);
}

Churn::~Churn() { reactor_.removeTimer(timer_); }

void Churn::tick() {
  owed_ += perTick_;
  while (owed_ >= 1) {
    owed_ -= 1;
    changeOne();
  }
}

// Eight in ten change an object to another generated one; one adds, one removes.
void Churn::changeOne() {
  uint32_t dice = random_() % 10;
  size_t size = table_.size();
  if (size == 0 || dice == 8) {
    table_.add(row_(nextRow_++));
  } else if (dice == 9) {
    table_.remove(table_.idAt(random_() % size));
  } else {
    table_.change(table_.idAt(random_() % size), row_(static_cast<uint32_t>(random_())));
  }
}

} // namespace kestel::sim
