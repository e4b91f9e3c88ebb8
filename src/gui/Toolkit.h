// The window toolkit's contract over Qt Widgets. Windows are QWidgets (the window tree is Qt's
// parent/child tree; panes are layouts), and what other code relies on is kept here:
//  - object names: the toolkit's window class names become Qt object names, so tests and other
//    instances find windows by them (QObject::findChild / QApplication::topLevelWidgets);
//  - modal boxes that never block: show*Box opens the box window-modal and returns at once; the
//    answer reaches the listener as an answer event when the user closes it (no nested loop runs
//    under the caller);
//  - persistence hooks: a widget's state saver lives in the settings registry for as long as the
//    widget does (it is unregistered when the widget is destroyed);
//  - clipboard and drag-and-drop through copy and paste hooks, with a marker that tells a copy
//    made by this process from one made elsewhere;
//  - zoom: fonts follow the desktop's DPI (Qt's high-DPI scaling) times the user's zoom step.
// Timers are the core's timer service (api/net/Timers.h) over the QtReactor; tooltips are in
// gui/Tooltips.h. docs/gui.md maps every factory of the toolkit to its Qt counterpart.
#pragma once

#include "miw/Settings.h"
#include "util/Event.h"

#include <QByteArray>
#include <QString>

#include <string>

class QMimeData;
class QWidget;

namespace kestel::gui {

// Object names of the toolkit's and the application's windows.
inline constexpr const char* kTopLevelName = "halvorne_kestel";
inline constexpr const char* kPaneName = "nimbalux_pane";
inline constexpr const char* kMessageBoxName = "nimbalux_mbox";
inline constexpr const char* kBigMessageBoxName = "nimbalux_bigmbox";
inline constexpr const char* kMainWindowName = "nimbalux_main";
inline constexpr const char* kConnectWindowName = "nimbalux_connect";

inline QString qs(const std::string& s) { return QString::fromStdString(s); }
inline std::string ss(const QString& s) { return s.toStdString(); }

// The event a modal box delivers to its listener: cast(kAnswerEventInterface).
inline constexpr unsigned int kAnswerEventInterface = 2101;
enum class Answer { Ok, Yes, No, Cancel };
class IAnswerEvent : public Event {
public:
  virtual Answer answer() const = 0;
};
// The answer of an answer event, or none when the event is of another kind.
bool answerOf(Event& event, Answer& out);
// Hands `answer` to `listener` (nothing when it is null), as the modal boxes do.
void deliverAnswer(EventListener* listener, Answer answer);

// Each returns the box (already shown, deleted when closed). `parent` may be null (then the box
// is application-modal); the listener is kept alive until it has had the answer, and may be
// null when nobody waits for it.
QWidget* showMessageBox(QWidget* parent, const std::string& title, const std::string& text,
                        EventListener* listener);
// Yes and No; closing the box answers No.
QWidget* showQuestionBox(QWidget* parent, const std::string& title, const std::string& text,
                         EventListener* listener);
// A long text in a scrolling box (crash reports, logs): read-only, copyable.
QWidget* showBigMessageBox(QWidget* parent, const std::string& title, const std::string& text);

// The widget's state saver, registered in `registry` until the widget is destroyed.
void registerPersistent(QWidget* widget, IPersistent* saver,
                        SettingsRegistry& registry = settingsRegistry());
void unregisterPersistent(QWidget* widget, SettingsRegistry& registry = settingsRegistry());
IPersistent* getPersistent(QWidget* widget, SettingsRegistry& registry = settingsRegistry());

// Data formats are MIME types; kTextFormat is plain UTF-8 text.
inline constexpr const char* kTextFormat = "text/plain";
// Fills the data of a copy or a drag.
class ICopyHooks {
public:
  virtual ~ICopyHooks() = default;
  virtual void fillData(QMimeData& data) = 0;
};
// Takes data pasted or dropped; canPaste decides whether a drop is accepted at all.
class IPasteHooks {
public:
  virtual ~IPasteHooks() = default;
  virtual bool canPaste(const QMimeData& data) = 0;
  virtual void paste(const QMimeData& data, bool localCopy) = 0;
};
// The data the hooks fill, marked as made by this process.
QMimeData* createDataObject(ICopyHooks& hooks);
bool isLocalCopy(const QMimeData& data);
void copyToClipboard(ICopyHooks& hooks);
// False when the clipboard holds nothing the hooks take.
bool pasteFromClipboard(IPasteHooks& hooks);
// Starts dragging the hooks' data from `source` (Qt runs the drag until the drop).
void doDragging(QWidget* source, ICopyHooks& hooks);
// Lets `target` take drops through `hooks` until unregistered or destroyed. The hooks must
// outlive the registration.
void registerDropTarget(QWidget* target, IPasteHooks* hooks);
void unregisterDropTarget(QWidget* target);

// The user's zoom in percent (100: the desktop's own sizes). Setting it rescales the
// application font from the size the desktop gave and logs "rescaleDPI starting-dpi=<dpi>,
// zoom=<percent> result=<point size>".
void setZoom(int percent);
int zoom();
// Logs "DPI CHANGED to <dpi>" and rescales for the window's new screen.
void dpiChanged(QWidget* window);

} // namespace kestel::gui
