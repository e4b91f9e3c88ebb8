// Where an object window's commits and removals go: through the session's change list when the
// window has one (so the change list, safe mode and revert know them), else straight to the
// object map. The values from before the user's edit travel as an opaque snapshot, so windows
// need not know the change list's types.
#pragma once

#include <memory>
#include <string>

namespace kestel {
class ChangeLog;
class CType;
class IChangeListener;
class IObject;
class ObjectMap;
} // namespace kestel

namespace kestel::gui {

struct ValuesBefore;
using ValuesBeforeRef = std::shared_ptr<const ValuesBefore>;

// The object's values as they are now (before the user's edit reaches it).
ValuesBeforeRef valuesBefore(const IObject& object, const CType& type);
// Commits `object` (an add when it has no id); `before` null for a new object.
void commitChange(ChangeLog* log, ObjectMap& map, const CType& type, IObject& object,
                  const ValuesBeforeRef& before, IChangeListener* done);
void removeObject(ChangeLog* log, ObjectMap& map, const CType& type, IObject& object);

} // namespace kestel::gui
