#include "gui/Views.h"

#include "gui/Art.h"
#include "gui/Toolkit.h"
#include "miw/ConvertorList.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QStackedLayout>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace kestel::gui {
namespace {

// A compact button whose glyph takes the palette's text colours, drawn again whenever the palette
// changes (the desktop switching between light and dark while the program runs).
class GlyphButton final : public QToolButton {
public:
  GlyphButton(QWidget* parent, Glyph glyph) : QToolButton(parent), glyph_(glyph) {
    setIcon(glyphIcon(glyph_, palette()));
  }

protected:
  void changeEvent(QEvent* event) override {
    QToolButton::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
      setIcon(glyphIcon(glyph_, palette()));
  }

private:
  Glyph glyph_;
};

QToolButton* compactButton(QWidget* parent, Glyph glyph, const QString& tip) {
  auto* b = new GlyphButton(parent, glyph);
  b->setToolTip(tip);
  b->setAutoRaise(true);
  b->setFocusPolicy(Qt::TabFocus);
  return b;
}

// An empty sunken box that reacts to clicks and to the Insert key.
QLabel* makeEmptyBox(QWidget* parent) {
  auto* box = new QLabel(parent);
  box->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  box->setFocusPolicy(Qt::StrongFocus);
  box->setMinimumWidth(box->fontMetrics().horizontalAdvance(QLatin1Char('M')) * 12);
  box->setFixedHeight(QLineEdit().sizeHint().height()); // as high as the editor it stands for
  box->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  return box;
}

bool isActivation(QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease)
    return true;
  return event->type() == QEvent::KeyPress &&
         static_cast<QKeyEvent*>(event)->key() == Qt::Key_Insert;
}

QHBoxLayout* tightRow(QWidget* owner) {
  auto* row = new QHBoxLayout(owner);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(2);
  return row;
}

} // namespace

ValueView::ValueView(const QString& label, QWidget* parent) : QWidget(parent), label_(label) {
  // As wide as the form allows, as high as the content: extra height goes below the form.
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

// ----- text

TextView::TextView(const QString& label, IValueCell& cell, Reference<IConvertor> convertor,
                   bool addressField, QWidget* parent)
    : ValueView(label, parent), cell_(cell), convertor_(std::move(convertor)),
      address_(addressField), edit_(new QLineEdit(this)) {
  tightRow(this)->addWidget(edit_);
  setFocusProxy(edit_);
  edit_->setToolTip(qs(convertor_->describe()));
  connect(edit_, &QLineEdit::textEdited, this, [this] {
    showValidity();
    emit changed();
  });
  update();
}

void TextView::update() {
  edit_->setText(qs(convertor_->format(cell_.get())));
  showValidity();
}

void TextView::showValidity(bool again) {
  const bool valid = convertor_->check(ss(edit_->text()));
  if (!again && edit_->property("valid").isValid() && edit_->property("valid").toBool() == valid)
    return;
  edit_->setProperty("valid", valid);
  // Only the two warning roles are set: every other role, and both when the text is valid, keep
  // following the palette the editor inherits.
  QPalette p;
  if (!valid) {
    const bool dark = isDarkPalette(palette());
    p.setColor(QPalette::Base, dark ? QColor(0x6b, 0x20, 0x20) : QColor(0xff, 0xd6, 0xd6));
    p.setColor(QPalette::Text, dark ? QColor(0xff, 0xe8, 0xe8) : QColor(0x40, 0x00, 0x00));
  }
  edit_->setPalette(p);
}

void TextView::changeEvent(QEvent* event) {
  ValueView::changeEvent(event);
  if (event->type() == QEvent::PaletteChange)
    showValidity(true); // the warning shade that suits the new palette's lightness
}

bool TextView::validate(InputError& error) {
  if (convertor_->check(ss(edit_->text())))
    return true;
  const std::string field = ss(label());
  error.title = inputErrorTitle(field);
  error.text = address_ ? addressErrorText(field) : inputErrorText(field, *convertor_);
  edit_->setFocus();
  edit_->selectAll();
  return false;
}

void TextView::apply() {
  Expected<FieldValue> v = convertor_->parse(ss(edit_->text()));
  if (v)
    (void)cell_.set(v.value());
}

// ----- enumeration

EnumView::EnumView(const QString& label, IValueCell& cell, Reference<IEnum> values, bool sorted,
                   QWidget* parent)
    : ValueView(label, parent), cell_(cell), values_(std::move(values)), sorted_(sorted),
      combo_(new QComboBox(this)) {
  tightRow(this)->addWidget(combo_);
  setFocusProxy(combo_);
  connect(combo_, &QComboBox::activated, this, [this] { emit changed(); });
  update();
}

void EnumView::update() {
  combo_->clear();
  std::vector<std::pair<std::string, uint32_t>> entries;
  for (size_t i = 0; i < values_->count(); ++i)
    entries.emplace_back(values_->nameAt(i), values_->valueAt(i));
  if (sorted_)
    std::stable_sort(entries.begin(), entries.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& [name, value] : entries)
    combo_->addItem(qs(name), QVariant::fromValue(value));
  const FieldValue v = cell_.get();
  const uint32_t* number = std::get_if<uint32_t>(&v);
  if (!number) { // not a number: nothing chosen, so applying leaves the value alone
    combo_->setCurrentIndex(-1);
    return;
  }
  int at = combo_->findData(QVariant::fromValue(*number));
  if (at < 0) { // a value the enumeration does not name: shown as its number, kept as it is
    combo_->addItem(QString::number(*number), QVariant::fromValue(*number));
    at = combo_->count() - 1;
  }
  combo_->setCurrentIndex(at);
}

void EnumView::apply() {
  if (combo_->currentIndex() >= 0)
    (void)cell_.set(combo_->currentData().value<uint32_t>());
}

// ----- bit set

SetView::SetView(const QString& label, IValueCell& value, IValueCell& mask, Reference<IEnum> bits,
                 int columns, QWidget* parent)
    : ValueView(label, parent), value_(value), mask_(mask), bits_(std::move(bits)) {
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(0, 0, 0, 0);
  columns = std::max(columns, 1);
  for (size_t i = 0; i < bits_->count(); ++i) {
    if (bits_->valueAt(i) >= 32)
      continue;
    auto* box = new QCheckBox(qs(bits_->nameAt(i)), this);
    const int at = int(boxes_.size());
    grid->addWidget(box, at / columns, at % columns);
    masks_.push_back(1u << bits_->valueAt(i));
    connect(box, &QCheckBox::toggled, this, [this] { emit changed(); });
    boxes_.push_back(box);
  }
  if (!boxes_.empty())
    setFocusProxy(boxes_.front());
  update();
}

void SetView::update() {
  const FieldValue v = value_.get();
  const uint32_t bits = std::holds_alternative<uint32_t>(v) ? std::get<uint32_t>(v) : 0;
  for (size_t i = 0; i < boxes_.size(); ++i) {
    QSignalBlocker quiet(boxes_[i]);
    boxes_[i]->setChecked((bits & masks_[i]) != 0);
  }
}

void SetView::apply() {
  const FieldValue v = value_.get(), m = mask_.get();
  uint32_t bits = std::holds_alternative<uint32_t>(v) ? std::get<uint32_t>(v) : 0;
  uint32_t mask = std::holds_alternative<uint32_t>(m) ? std::get<uint32_t>(m) : 0;
  for (size_t i = 0; i < boxes_.size(); ++i) {
    const uint32_t bit = masks_[i];
    bits = boxes_[i]->isChecked() ? bits | bit : bits & ~bit;
    mask |= bit;
  }
  (void)value_.set(bits);
  (void)mask_.set(mask);
}

// ----- list of values

MultiView::MultiView(const QString& label, IValueCell& list, Reference<IConvertor> element,
                     bool editable, bool atLeastOne, bool addressElements, QWidget* parent)
    : ValueView(label, parent), list_(list), element_(std::move(element)), editable_(editable),
      atLeastOne_(atLeastOne), addressElements_(addressElements),
      rowsLayout_(new QVBoxLayout(this)), empty_(makeEmptyBox(this)) {
  rowsLayout_->setContentsMargins(0, 0, 0, 0);
  rowsLayout_->setSpacing(2);
  rowsLayout_->addWidget(empty_);
  empty_->installEventFilter(this);
  update();
}

void MultiView::update() {
  for (Row& r : rows_)
    delete r.frame;
  rows_.clear();
  kind_ = list_.get();
  while (listSize(kind_) > 0)
    (void)removeListElement(kind_, 0);
  const FieldValue list = list_.get();
  for (size_t i = 0; i < listSize(list); ++i)
    addRowWidget(i, listElement(list, i));
  showEmptyBox();
}

void MultiView::addRowWidget(size_t at, FieldValue element) {
  Row row;
  row.cell = std::make_unique<LocalCell>(std::move(element));
  row.frame = new QWidget(this);
  QHBoxLayout* line = tightRow(row.frame);
  row.view = new TextView(label(), *row.cell, element_, addressElements_, row.frame);
  connect(row.view, &ValueView::changed, this, &ValueView::changed);
  line->addWidget(row.view, 1);
  row.add = row.remove = nullptr;
  if (editable_) {
    row.add = compactButton(row.frame, Glyph::Add, tr("Add new value"));
    row.remove = compactButton(row.frame, Glyph::Remove, tr("Remove value"));
    line->addWidget(row.add);
    line->addWidget(row.remove);
    QWidget* frame = row.frame;
    auto indexOf = [this, frame] {
      auto it = std::find_if(rows_.begin(), rows_.end(),
                             [frame](const Row& r) { return r.frame == frame; });
      return size_t(it - rows_.begin());
    };
    connect(row.add, &QToolButton::clicked, this, [this, indexOf] { insertRow(indexOf() + 1); });
    connect(row.remove, &QToolButton::clicked, this, [this, indexOf] { removeRow(indexOf()); });
  }
  rowsLayout_->insertWidget(int(at) + 1, row.frame); // after the (hidden) empty box
  rows_.insert(rows_.begin() + std::ptrdiff_t(at), std::move(row));
}

void MultiView::showEmptyBox() {
  empty_->setVisible(rows_.empty());
  setFocusProxy(rows_.empty() ? empty_ : static_cast<QWidget*>(rows_.front().view));
}

void MultiView::insertRow(size_t at) {
  if (!editable_ || at > rows_.size())
    return;
  FieldValue scratch = kind_;
  if (!insertListElement(scratch, 0))
    return; // not a list kind: nothing can be added
  addRowWidget(at, listElement(scratch, 0));
  showEmptyBox();
  rows_[at].view->setFocus();
  emit changed();
}

void MultiView::removeRow(size_t at) {
  if (!editable_ || at >= rows_.size())
    return;
  QWidget* frame = rows_[at].frame;
  rows_.erase(rows_.begin() + std::ptrdiff_t(at));
  frame->hide();
  frame->deleteLater(); // the clicked button belongs to it
  showEmptyBox();
  emit changed();
}

bool MultiView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == empty_ && editable_ && rows_.empty() && isActivation(event)) {
    insertRow(0);
    return true;
  }
  return ValueView::eventFilter(watched, event);
}

bool MultiView::validate(InputError& error) {
  if (atLeastOne_ && rows_.empty()) {
    const std::string field = ss(label());
    error.title = inputErrorTitle(field);
    error.text = emptyListErrorText(field);
    empty_->setFocus();
    return false;
  }
  for (Row& r : rows_)
    if (!r.view->validate(error))
      return false;
  return true;
}

void MultiView::apply() {
  FieldValue list = kind_;
  for (size_t i = 0; i < rows_.size(); ++i) {
    rows_[i].view->apply();
    if (!insertListElement(list, i) || !setListElement(list, i, rows_[i].cell->get()))
      return;
  }
  (void)list_.set(list);
}

// ----- optional value

OptionalView::OptionalView(ValueView* inner, IValueCell& given, const QString& postfix,
                           QWidget* parent)
    : ValueView(inner->label(), parent), inner_(inner), given_(given),
      pages_(new QStackedLayout(this)), empty_(makeEmptyBox(this)) {
  auto* page0 = new QWidget(this);
  QHBoxLayout* row0 = tightRow(page0);
  empty_->setParent(page0);
  provide_ = compactButton(page0, Glyph::Provide, tr("Provide new value"));
  row0->addWidget(empty_, 1);
  row0->addWidget(provide_);
  auto* page1 = new QWidget(this);
  QHBoxLayout* row1 = tightRow(page1);
  inner_->setParent(page1);
  row1->addWidget(inner_, 1);
  if (!postfix.isEmpty())
    row1->addWidget(new QLabel(postfix, page1));
  reset_ = compactButton(page1, Glyph::Reset, tr("Set to default"));
  row1->addWidget(reset_);
  pages_->addWidget(page0);
  pages_->addWidget(page1);
  empty_->installEventFilter(this);
  connect(inner_, &ValueView::changed, this, &ValueView::changed);
  connect(provide_, &QToolButton::clicked, this, [this] {
    setGiven(true);
    emit changed();
  });
  connect(reset_, &QToolButton::clicked, this, [this] {
    setGiven(false);
    emit changed();
  });
  update();
}

void OptionalView::setGiven(bool on) {
  given_now_ = on;
  pages_->setCurrentIndex(on ? 1 : 0);
  setFocusProxy(on ? static_cast<QWidget*>(inner_) : empty_);
  if (on)
    inner_->setFocus();
}

void OptionalView::update() {
  const FieldValue g = given_.get();
  inner_->update();
  setGiven(std::holds_alternative<bool>(g) && std::get<bool>(g));
}

bool OptionalView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == empty_ && !given_now_ && isActivation(event)) {
    setGiven(true);
    emit changed();
    return true;
  }
  return ValueView::eventFilter(watched, event);
}

bool OptionalView::validate(InputError& error) { return !given_now_ || inner_->validate(error); }

void OptionalView::apply() {
  (void)given_.set(given_now_);
  if (given_now_)
    inner_->apply();
}

// ----- read-only and hidden

ReadOnlyView::ReadOnlyView(const QString& label, IValueCell& cell, Reference<IConvertor> convertor,
                           Reference<IEnum> values, QWidget* parent)
    : ValueView(label, parent), cell_(cell), convertor_(std::move(convertor)),
      values_(std::move(values)), text_(new QLabel(this)) {
  text_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  text_->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  tightRow(this)->addWidget(text_);
  update();
}

void ReadOnlyView::update() {
  const FieldValue v = cell_.get();
  std::string shown;
  if (const uint32_t* n = std::get_if<uint32_t>(&v); n && values_ && values_->nameOf(*n, shown)) {
  } else if (const bool* b = std::get_if<bool>(&v)) {
    shown = *b ? "true" : "false";
  } else if (convertor_) {
    shown = convertor_->format(v);
  }
  text_->setText(qs(shown));
}

QString ReadOnlyView::text() const { return text_->text(); }

HiddenView::HiddenView(const QString& label, QWidget* parent) : ValueView(label, parent) {
  setVisible(false);
}

// ----- choosing

ValueView* createValueView(const Slot& slot, const SkinEntry* skin, bool windowReadOnly,
                           bool optional, IValueCell& value, IValueCell* mask, IValueCell* given) {
  const ViewChoice choice = chooseView(slot, skin, windowReadOnly, optional);
  const QString label = qs(choice.label);
  Reference<IBase> made = slot.createConvertor();
  Reference<IConvertor> convertor(static_cast<IConvertor*>(made.get()));
  const Reference<IEnum>& values = slot.enumeration();
  ValueView* view = nullptr;
  switch (choice.kind) {
  case ViewKind::Hidden:
    return new HiddenView(label);
  case ViewKind::ReadOnly:
    return new ReadOnlyView(label, value, convertor, values);
  case ViewKind::Enum:
    view = new EnumView(label, value, values, slot.sorted());
    break;
  case ViewKind::CheckSet:
    if (!mask)
      return new ReadOnlyView(label, value, convertor, values);
    view = new SetView(label, value, *mask, values, 3);
    break;
  case ViewKind::Multi:
  case ViewKind::Text:
    if (!convertor) // a kind whose text form has no convertor yet is shown, not edited
      return new ReadOnlyView(label, value, convertor, values);
    if (choice.kind == ViewKind::Multi) {
      auto* list = static_cast<IListConvertor*>(convertor->cast(kListConvertorInterface));
      if (!list) // a list kind shown on one line only
        return new ReadOnlyView(label, value, convertor, values);
      // A container over single values keeps its one row: its editors change, its rows do not.
      view = new MultiView(label, value, list->element(), list->fixedCount() == 0, false,
                           slot.kind() == "multiipaddr");
    } else
      view = new TextView(label, value, convertor, slot.kind() == "ipaddr");
    break;
  }
  if (choice.optional && given)
    return new OptionalView(view, *given, qs(slot.postfixText()));
  return view;
}

bool checkViews(const std::vector<ValueView*>& views, QWidget* boxParent) {
  for (ValueView* v : views) {
    InputError error;
    if (!v->validate(error)) {
      showMessageBox(boxParent, error.title, error.text, nullptr);
      return false;
    }
  }
  return true;
}

} // namespace kestel::gui
