#include "gen/Service.h"

#include "gen/DescriptorLoader.h"
#include "gen/ModelContext.h"
#include "gen/TypeFactory.h"
#include "util/Log.h"

#include <cctype>
#include <map>

namespace kestel {

namespace {

std::vector<std::unique_ptr<CService>>& serviceList() { return modelContext().services; }

// The "srvc" provider: a service's short identifier and a type title name a type (of the
// current context; it holds nothing itself).
class ServiceProvider : public IObjectProvider {
public:
  CType* lookupType(std::string_view type, std::string_view subtype) override {
    for (const auto& s : serviceList()) {
      if (s->shortId() != type)
        continue;
      for (const auto& t : s->types())
        if (t->title() == subtype)
          return t.get();
    }
    return nullptr;
  }
};

ServiceProvider gServiceProvider;

void appendService(std::unique_ptr<CService> s) {
  if (serviceList().empty())
    registerProvider("srvc", &gServiceProvider);
  serviceList().push_back(std::move(s));
}

CService* appendNew(std::unique_ptr<CService> s) {
  CService* raw = s.get();
  appendService(std::move(s));
  return raw;
}

std::string str(const JSNode& n) { return n.text() ? n.text() : ""; }

Expected<void> readService(CService& s, const JSNode& e) {
  for (const JSNode& m : children(&e)) {
    if (!m.key)
      continue;
    std::string_view k = m.key;
    if (k == "name")
      s.name = str(m);
    else if (k == "group")
      s.group = str(m);
    else if (k == "groupIcon")
      s.groupIconIndex = static_cast<unsigned>(m.u64Value(0));
    else if (k == "title")
      s.title = str(m);
    else if (k == "prio")
      s.prio = static_cast<unsigned>(m.u64Value(500));
    else if (k == "nonpublic")
      s.isNonPublic = m.u64Value(0) != 0;
    else if (k == "icon")
      s.iconIndex = static_cast<unsigned>(m.u64Value(0));
    else if (k == "selector")
      s.isSelector = m.u64Value(0) != 0;
    else if (k == "pred") {
      Expected<PredicatePtr> p = createPredicate(m);
      if (!p)
        return p.error();
      s.pred = std::move(p.value());
    } else if (k == "c") {
      for (const JSNode& el : children(&m)) {
        Expected<std::unique_ptr<CType>> t = buildType(el);
        if (!t)
          return t.error();
        s.addOwned(std::move(t.value()));
      }
    }
  }
  return {};
}

} // namespace

CService::CService(const char* g, const char* n, const char* t, unsigned p)
    : name(n ? n : ""), group(g ? g : ""), title(t ? t : ""), prio(p) {}

CService& CService::add(CType& type) {
  std::unique_ptr<CType> owned = adoptPendingType(&type);
  if (owned)
    addOwned(std::move(owned));
  else
    logLine("type " + type.title() + " belongs to a service already");
  return *this;
}

void CService::addOwned(std::unique_ptr<CType> type) { types_.push_back(std::move(type)); }

CService& CService::nonpublic() {
  isNonPublic = true;
  return *this;
}
CService& CService::selector() {
  isSelector = true;
  return *this;
}
CService& CService::icon(unsigned index) {
  iconIndex = index;
  return *this;
}
CService& CService::groupIcon(unsigned index) {
  groupIconIndex = index;
  return *this;
}
CService& CService::on(PredicatePtr p) {
  pred = std::move(p);
  return *this;
}

std::string CService::shortId() const {
  std::string id;
  for (size_t i = 0; i < title.size() && i < 10; ++i) {
    auto c = static_cast<unsigned char>(title[i]);
    id += std::isspace(c) ? '-' : static_cast<char>(std::tolower(c));
  }
  return id;
}

const std::vector<std::unique_ptr<CService>>& services() { return serviceList(); }

CService& makeService(const char* group, const char* name, const char* title, unsigned prio) {
  return *appendNew(std::unique_ptr<CService>(new CService(group, name, title, prio)));
}

CService* getService(const char* group, const char* name) {
  std::string_view g = group ? group : "";
  std::string_view n = name ? name : "";
  for (const auto& s : serviceList())
    if (s->group == g && s->name == n)
      return s.get();
  return nullptr;
}

bool disableService(const char* group, const char* name) {
  CService* s = getService(group, name);
  if (s)
    s->disabled = true;
  return s != nullptr;
}

Expected<void> buildService(const JSNode& element) {
  size_t generics = genericMapCount();
  std::unique_ptr<CService> s(new CService());
  Expected<void> r = readService(*s, element);
  if (!r) {
    dropGenericMapsFrom(generics); // maps of the rejected element go with it
    return r;
  }
  appendService(std::move(s));
  return {};
}

Expected<void> loadDescriptors(const std::string& path) {
  return loadDescriptorDocument(path, buildService);
}

void forEachType(const std::function<void(CType&, CService&)>& f) {
  for (const auto& s : serviceList()) {
    for (const auto& t : s->types()) {
      f(*t, *s);
      if (t->kind() == TypeKind::Action)
        f(static_cast<CAction&>(*t).replyType(), *s);
      if (t->kind() == TypeKind::Query) {
        f(static_cast<CQuery&>(*t).result(), *s);
        f(static_cast<CQuery&>(*t).status(), *s);
      }
    }
  }
}

Expected<void> completeAllTypes() {
  Expected<void> first;
  for (const auto& s : serviceList()) {
    for (const auto& t : s->types()) {
      Expected<void> r = t->complete();
      if (!r) {
        s->disabled = true;
        if (first)
          first = r;
      }
    }
  }
  return first;
}

void registerProvider(const std::string& name, IObjectProvider* provider) {
  modelContext().providers[name] = provider;
}
void unregisterProvider(const std::string& name) { modelContext().providers.erase(name); }
IObjectProvider* findProvider(std::string_view name) {
  const auto& providers = modelContext().providers;
  auto it = providers.find(name);
  return it == providers.end() ? nullptr : it->second;
}

std::vector<CAlias*> registeredAliases() {
  std::vector<CAlias*> out;
  for (const auto& s : serviceList())
    for (const auto& t : s->types())
      if (t->kind() == TypeKind::Alias && static_cast<CAlias*>(t.get())->registered())
        out.push_back(static_cast<CAlias*>(t.get()));
  return out;
}

} // namespace kestel
