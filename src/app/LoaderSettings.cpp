#include "app/LoaderSettings.h"

namespace kestel {

namespace {

struct Text {
  const char* key;
  std::string LoaderForm::*field;
};
constexpr Text kTexts[] = {{"addr", &LoaderForm::address},  {"login", &LoaderForm::login},
                           {"note", &LoaderForm::note},     {"group", &LoaderForm::group},
                           {"hoplink", &LoaderForm::agent}, {"session", &LoaderForm::session}};
struct Flag {
  const char* key;
  bool LoaderForm::*field;
};
constexpr Flag kFlags[] = {{"keeppwd", &LoaderForm::keepPassword},
                           {"autosave", &LoaderForm::autosave},
                           {"openinnew", &LoaderForm::newWindow},
                           {"autorecon", &LoaderForm::autoReconnect}};

} // namespace

void storeLoaderSettings(const LoaderSettings& s, StringMap& record) {
  for (const Text& t : kTexts)
    record.set(t.key, packData(s.form.*t.field));
  for (const Flag& f : kFlags)
    record.set(f.key, packBool(s.form.*f.field));
  if (s.form.keepPassword)
    record.set("pwd", packData(s.form.password));
  else
    record.remove("pwd");
  record.set("adv", packBool(s.advanced));
  record.set("leg", packBool(s.legacy));
  record.set("zoom", packData(uint32_t(s.zoomStep)));
}

LoaderSettings readLoaderSettings(const StringMap& record) {
  LoaderSettings s;
  s.form.login = "admin";
  for (const Text& t : kTexts)
    (void)unpackData(record.get(t.key), s.form.*t.field);
  for (const Flag& f : kFlags)
    (void)unpackBool(record.get(f.key), s.form.*f.field);
  if (s.form.keepPassword)
    (void)unpackData(record.get("pwd"), s.form.password);
  (void)unpackBool(record.get("adv"), s.advanced);
  (void)unpackBool(record.get("leg"), s.legacy);
  uint32_t zoom = 0;
  if (unpackData(record.get("zoom"), zoom))
    s.zoomStep = int32_t(zoom);
  return s;
}

} // namespace kestel
