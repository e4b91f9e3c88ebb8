#include "gui/SessionOpeners.h"

// Before Qt's headers: Qt's "slots" keyword would rename CType::slots().
#include "gen/CType.h"

#include "gui/ActionWindow.h"
#include "gui/DoitWindow.h"
#include "gui/QueryWindow.h"
#include "gui/SessionWindow.h"
#include "gui/SetupWindow.h"

namespace kestel::gui {
namespace {

// The session desktop puts what an opener returns into a frame of its own (named after the
// service, so a second open raises it): the window itself must not make one.
SessionWindow::TypeOpener unframed(QWidget* (*create)(CType&, const WindowContext&)) {
  return [create](CType& type, const WindowContext& context) {
    WindowContext inSession = context;
    inSession.desktop = nullptr;
    return create(type, inSession);
  };
}

} // namespace

void installWindowOpeners(SessionWindow& window) {
  window.setTypeOpener(TypeKind::Action, unframed(createActionWindow));
  window.setTypeOpener(TypeKind::Query, unframed(createQueryWindow));
  window.setTypeOpener(TypeKind::Doit, unframed(createDoitWindow));
  window.setTypeOpener(TypeKind::Setup, unframed(createSetupWindow));
}

} // namespace kestel::gui
