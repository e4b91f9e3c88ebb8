#include "gui/ChangeRoute.h"

#include "app/ChangeLog.h"

namespace kestel::gui {

struct ValuesBefore {
  ObjectValues values;
};

ValuesBeforeRef valuesBefore(const IObject& object, const CType& type) {
  auto v = std::make_shared<ValuesBefore>();
  v->values = objectValues(object, type);
  return v;
}

void commitChange(ChangeLog* log, ObjectMap& map, const CType& type, IObject& object,
                  const ValuesBeforeRef& before, IChangeListener* done) {
  if (!log)
    return map.commit(&object, done);
  log->commit(map, type.title(), type, &object, before ? before->values : ObjectValues{}, done);
}

void removeObject(ChangeLog* log, ObjectMap& map, const CType& type, IObject& object) {
  if (log)
    log->remove(map, type.title(), type, &object);
  else
    map.remove(&object);
}

} // namespace kestel::gui
