#include "gen/ModelContext.h"

#include "gen/CType.h"
#include "gen/Service.h"
#include "gen/Skin.h"
#include "util/Assert.h"

namespace kestel {

namespace {

ModelContext& processContext() {
  static ModelContext context;
  return context;
}

ModelContext* gCurrent = nullptr; // null: the process's default context

} // namespace

ModelContext::ModelContext() : skin(std::make_unique<Skin>()) {}

ModelContext::~ModelContext() {
  // Slots leave the custom views as they go, so they go while `views` is still whole.
  services.clear();
  pendingTypes.clear();
  pendingSlots.clear();
}

ModelContext::ModelContext(ModelContext&&) noexcept = default;
ModelContext& ModelContext::operator=(ModelContext&&) noexcept = default;

ModelContext& modelContext() { return gCurrent ? *gCurrent : processContext(); }

ModelScope::ModelScope(ModelContext& context) : context_(&context), previous_(gCurrent) {
  gCurrent = context_;
}

ModelScope::~ModelScope() {
  KESTEL_ASSERT(gCurrent == context_, "gen/model-context"); // ended out of order
  gCurrent = previous_;
}

uint32_t userPolicy() { return modelContext().userPolicy; }
void setUserPolicy(uint32_t policy) { modelContext().userPolicy = policy; }

void resetModel() {
  ModelContext fresh;
  std::swap(modelContext(), fresh);
  // `fresh` now holds the old state and frees it here, after the current context is empty.
}

} // namespace kestel
