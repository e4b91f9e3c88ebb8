// The descriptor model's state in one object: services, object providers, types and slots made
// in code and not yet taken, generic maps, traced fields, what the session tells the model (the
// logged-in user, the router clock, the router's facts), convertor makers, the view factory and
// custom views, the object directory of "object" predicates, the source of the computed
// enumerations and the active skin. The model's free
// functions (services(), cmap(), sstring(), setLoggedInUser(), activeSkin(), …) work on the
// current context: the process's default one, or the one the innermost ModelScope installed.
// Used from the interface thread only; what stays process-wide is listed in docs/process-state.md.
#pragma once

#include "gen/RouterFacts.h"
#include "gen/Slot.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace kestel {

class CService;
class CType;
class CMap;
class IObjectProvider;
class IObjectDirectory;
class IEnumSource;
class Skin;

struct ModelContext {
  ModelContext();
  // Frees the services and the pending types and slots before the registries that refer to them.
  ~ModelContext();
  ModelContext(ModelContext&&) noexcept;
  ModelContext& operator=(ModelContext&&) noexcept;

  std::vector<std::unique_ptr<CService>> services; // in load order
  std::map<std::string, IObjectProvider*, std::less<>> providers;
  std::vector<std::unique_ptr<CType>> pendingTypes;       // made in code, no service yet
  std::vector<std::unique_ptr<Slot>> pendingSlots;        // made in code, no type yet
  std::vector<std::pair<std::string, CMap*>> genericMaps; // in registration order
  std::vector<uint32_t> tracedFields;
  std::string loggedInUser;
  uint32_t userPolicy = 0; // the policy bits of the login reply
  uint32_t routerTime = 0; // seconds since 1970 from the router's clock
  RouterFacts routerFacts;
  std::map<std::string, ConvertorMaker, std::less<>> convertorMakers; // by slot kind
  ViewFactory viewFactory;
  std::map<const Slot*, IView*> views; // custom views; the caller keeps each view
  IObjectDirectory* objectDirectory = nullptr;
  IEnumSource* enumSource = nullptr; // fills the computed enumerations over router objects
  std::unique_ptr<Skin> skin;        // never null
};

// The current context.
ModelContext& modelContext();

// Installs `context` as the current one for the scope's lifetime; scopes nest and must end in
// reverse order (asserted). The caller keeps the context alive while the scope lasts.
class ModelScope {
public:
  explicit ModelScope(ModelContext& context);
  ~ModelScope();
  ModelScope(const ModelScope&) = delete;
  ModelScope& operator=(const ModelScope&) = delete;

private:
  ModelContext* context_;
  ModelContext* previous_;
};

// The logged-in user's policy bits (0 before the login); the login records them.
uint32_t userPolicy();
void setUserPolicy(uint32_t policy);

// Replaces the current context's contents with a fresh context's: every registry above is
// emptied, the session facts are cleared and the skin is a new empty one.
void resetModel();

} // namespace kestel
