#include "gui/Toolkit.h"

#include "util/Log.h"

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDrag>
#include <QDropEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>

#include <map>
#include <unistd.h>

namespace kestel::gui {
namespace {

class AnswerEvent final : public IAnswerEvent {
public:
  explicit AnswerEvent(Answer a) : answer_(a) {}
  Answer answer() const override { return answer_; }
  IBase* cast(unsigned int id) override { return id == kAnswerEventInterface ? this : nullptr; }

private:
  Answer answer_;
};

void deliver(const Reference<EventListener>& listener, Answer answer) {
  deliverAnswer(listener.get(), answer);
}

QMessageBox* makeBox(QWidget* parent, const std::string& title, const std::string& text,
                     QMessageBox::Icon icon, QMessageBox::StandardButtons buttons) {
  auto* box = new QMessageBox(icon, qs(title), qs(text), buttons, parent);
  box->setObjectName(kMessageBoxName);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
  return box;
}

// The marker format of data copied by this process: its process id.
constexpr const char* kOwnerFormat = "application/x-kestel-owner";
QByteArray ownerTag() { return QByteArray::number(qint64(::getpid())); }

// Forwards drag-and-drop events of registered targets to their hooks.
class DropFilter final : public QObject {
public:
  std::map<QWidget*, IPasteHooks*> targets;

  bool eventFilter(QObject* watched, QEvent* event) override {
    auto it = targets.find(static_cast<QWidget*>(watched));
    if (it == targets.end())
      return false;
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* e = static_cast<QDropEvent*>(event);
      if (e->mimeData() && it->second->canPaste(*e->mimeData()))
        e->acceptProposedAction();
      else
        e->ignore();
      return true;
    }
    case QEvent::Drop: {
      auto* e = static_cast<QDropEvent*>(event);
      if (!e->mimeData() || !it->second->canPaste(*e->mimeData()))
        return true;
      it->second->paste(*e->mimeData(), isLocalCopy(*e->mimeData()));
      e->acceptProposedAction();
      return true;
    }
    default:
      return false;
    }
  }
};

DropFilter& dropFilter() {
  static auto* filter = new DropFilter; // lives with the process, like QApplication's filters
  return *filter;
}

int gZoom = 100;
qreal gBasePointSize = 0;

} // namespace

bool answerOf(Event& event, Answer& out) {
  auto* a = static_cast<IAnswerEvent*>(event.cast(kAnswerEventInterface));
  if (!a)
    return false;
  out = a->answer();
  return true;
}

void deliverAnswer(EventListener* listener, Answer answer) {
  if (!listener)
    return;
  Reference<Event> event(new AnswerEvent(answer));
  listener->onEvent(*event);
}

QWidget* showMessageBox(QWidget* parent, const std::string& title, const std::string& text,
                        EventListener* listener) {
  QMessageBox* box = makeBox(parent, title, text, QMessageBox::Information, QMessageBox::Ok);
  Reference<EventListener> keep(listener);
  QObject::connect(box, &QDialog::finished, box, [keep](int) { deliver(keep, Answer::Ok); });
  box->open();
  return box;
}

QWidget* showQuestionBox(QWidget* parent, const std::string& title, const std::string& text,
                         EventListener* listener) {
  QMessageBox* box =
      makeBox(parent, title, text, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No);
  box->setEscapeButton(QMessageBox::No);
  Reference<EventListener> keep(listener);
  QObject::connect(box, &QDialog::finished, box, [box, keep](int) {
    deliver(keep, box->clickedButton() == box->button(QMessageBox::Yes) ? Answer::Yes : Answer::No);
  });
  box->open();
  return box;
}

QWidget* showBigMessageBox(QWidget* parent, const std::string& title, const std::string& text) {
  auto* box = new QDialog(parent);
  box->setObjectName(kBigMessageBoxName);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowTitle(qs(title));
  auto* layout = new QVBoxLayout(box);
  auto* view = new QPlainTextEdit(qs(text), box);
  view->setReadOnly(true);
  view->setLineWrapMode(QPlainTextEdit::NoWrap);
  layout->addWidget(view);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, box);
  QObject::connect(buttons, &QDialogButtonBox::rejected, box, &QDialog::reject);
  layout->addWidget(buttons);
  const QFontMetrics fm(box->font());
  box->resize(fm.horizontalAdvance(QLatin1Char('M')) * 80, fm.height() * 25);
  box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
  box->open();
  return box;
}

void registerPersistent(QWidget* widget, IPersistent* saver, SettingsRegistry& registry) {
  registry.registerPersistent(widget, saver);
  SettingsRegistry* r = &registry;
  QObject::connect(widget, &QObject::destroyed, [r, widget] { r->unregisterPersistent(widget); });
}

void unregisterPersistent(QWidget* widget, SettingsRegistry& registry) {
  registry.unregisterPersistent(widget);
}

IPersistent* getPersistent(QWidget* widget, SettingsRegistry& registry) {
  return registry.getPersistent(widget);
}

QMimeData* createDataObject(ICopyHooks& hooks) {
  auto* data = new QMimeData;
  hooks.fillData(*data);
  data->setData(kOwnerFormat, ownerTag());
  return data;
}

bool isLocalCopy(const QMimeData& data) { return data.data(kOwnerFormat) == ownerTag(); }

void copyToClipboard(ICopyHooks& hooks) {
  QApplication::clipboard()->setMimeData(createDataObject(hooks));
}

bool pasteFromClipboard(IPasteHooks& hooks) {
  const QMimeData* data = QApplication::clipboard()->mimeData();
  if (!data || !hooks.canPaste(*data))
    return false;
  hooks.paste(*data, isLocalCopy(*data));
  return true;
}

void doDragging(QWidget* source, ICopyHooks& hooks) {
  auto* drag = new QDrag(source);
  drag->setMimeData(createDataObject(hooks));
  drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::CopyAction);
}

void registerDropTarget(QWidget* target, IPasteHooks* hooks) {
  DropFilter& f = dropFilter();
  if (f.targets.emplace(target, hooks).second) {
    target->installEventFilter(&f);
    QObject::connect(target, &QObject::destroyed, [target] { dropFilter().targets.erase(target); });
  }
  target->setAcceptDrops(true);
}

void unregisterDropTarget(QWidget* target) {
  DropFilter& f = dropFilter();
  if (f.targets.erase(target)) {
    target->removeEventFilter(&f);
    target->setAcceptDrops(false);
  }
}

void setZoom(int percent) {
  percent = std::clamp(percent, 50, 400);
  QFont font = QApplication::font();
  if (gBasePointSize <= 0)
    gBasePointSize = font.pointSizeF() > 0 ? font.pointSizeF() : 9;
  gZoom = percent;
  font.setPointSizeF(gBasePointSize * percent / 100.0);
  QApplication::setFont(font);
  const QScreen* screen = QApplication::primaryScreen();
  const int dpi = screen ? qRound(screen->logicalDotsPerInch() * screen->devicePixelRatio()) : 96;
  logf("rescaleDPI starting-dpi=", dpi, ", zoom=", percent, " result=", font.pointSizeF());
}

int zoom() { return gZoom; }

void dpiChanged(QWidget* window) {
  const QScreen* screen =
      window && window->screen() ? window->screen() : QApplication::primaryScreen();
  const int dpi = screen ? qRound(screen->logicalDotsPerInch() * screen->devicePixelRatio()) : 96;
  logf("DPI CHANGED to ", dpi);
  setZoom(gZoom);
}

} // namespace kestel::gui
