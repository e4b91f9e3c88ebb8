#include "gui/SessionOpeners.h"

// Before Qt's headers: Qt's "slots" and "emit" keywords would rename CType::slots() and the
// maps' emit().
#include "api/container/DescriptorContainers.h"
#include "gen/CType.h"

#include "gui/ActionWindow.h"
#include "gui/DoitWindow.h"
#include "gui/ObjectEditorOpener.h"
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
  // Object and comment editors open in frames of the session desktop, one per object.
  window.setEditorOpener(new ObjectEditorOpener(window.context(), &window));
  window.setTypeOpener(TypeKind::Item, unframed(createItemWindow));
  window.setTypeOpener(TypeKind::Action, unframed(createActionWindow));
  window.setTypeOpener(TypeKind::Query, unframed(createQueryWindow));
  window.setTypeOpener(TypeKind::Doit, unframed(createDoitWindow));
  window.setTypeOpener(TypeKind::Setup, unframed(createSetupWindow));
}

} // namespace kestel::gui
