// Services: the launcher entries of the session window. Each service owns its types, in order;
// every service is appended to the model context's list in load order. Services come from
// descriptor documents (buildService, plugged into the document loader) or from code; both give the
// same objects. After all documents are loaded, completeAllTypes() completes every type.
#pragma once

#include "gen/CType.h"
#include "gen/JSNode.h"
#include "gen/ModelContext.h"
#include "gen/Predicate.h"
#include "util/Expected.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kestel {

// Services exist only in the model's list: the constructors are private, and makeService()
// (code) and buildService() (descriptors) are the only ways in. A service made anywhere else
// would be invisible to the launcher, the "srvc" provider and completeAllTypes(), and its types
// would never be completed.
class CService {
public:
  CService(const CService&) = delete;
  CService& operator=(const CService&) = delete;

  // Chained setters.
  CService& add(CType& type);
  CService& nonpublic();
  CService& selector();
  CService& icon(unsigned index);
  CService& groupIcon(unsigned index);
  CService& on(PredicatePtr pred);
  // The underlying service object.
  CService& service() { return *this; }

  // Takes a type built from a descriptor.
  void addOwned(std::unique_ptr<CType> type);

  std::string name, group, title;
  unsigned groupIconIndex = 0, iconIndex = 0, prio = 500;
  bool isNonPublic = false, isSelector = false, disabled = false;
  PredicatePtr pred;
  // Lower-cased first 10 characters of the title, blanks as "-".
  std::string shortId() const;
  const std::vector<std::unique_ptr<CType>>& types() const { return types_; }
  // Whether the launcher offers it now (not disabled, predicate holds).
  bool offered() const { return !disabled && holds(pred.get()); }

private:
  friend CService& makeService(const char* group, const char* name, const char* title,
                               unsigned prio);
  friend Expected<void> buildService(const JSNode& element);
  CService() = default;
  CService(const char* group, const char* name, const char* title, unsigned prio);

  std::vector<std::unique_ptr<CType>> types_;
};

// Makes a service in code and appends it to the list (a null group: no group).
CService& makeService(const char* group, const char* name, const char* title, unsigned prio);
// The services in load order.
const std::vector<std::unique_ptr<CService>>& services();
// The first service whose group and name match; a null group matches only services without
// group. Null when absent.
CService* getService(const char* group, const char* name);
// Disables that service when found; false when absent.
bool disableService(const char* group, const char* name);

// Builds one service from a document element and appends it to the list. A descriptor error
// (logged) rejects the element: nothing of it stays in the model.
[[nodiscard]] Expected<void> buildService(const JSNode& element);
// Loads a document through buildService; services before an error stay.
[[nodiscard]] Expected<void> loadDescriptors(const std::string& path);
// Completes every type of every service in load order. A type that fails disables its service
// (the error is logged); the first error is returned.
[[nodiscard]] Expected<void> completeAllTypes();
// Calls `f` for every type of every service, nested reply, result and status types included.
void forEachType(const std::function<void(CType&, CService&)>& f);

// Object providers by name (the window manager turns type, subtype and id into windows).
class IObjectProvider {
public:
  virtual ~IObjectProvider() = default;
  // The type a (type, subtype) pair names; null when this provider has none.
  virtual CType* lookupType(std::string_view type, std::string_view subtype) = 0;
};
void registerProvider(const std::string& name, IObjectProvider* provider);
void unregisterProvider(const std::string& name);
IObjectProvider* findProvider(std::string_view name);

// Registered launcher aliases (calias types with both "open" and "tab").
std::vector<CAlias*> registeredAliases();

} // namespace kestel
