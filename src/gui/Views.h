// Value views: the editors and displays of one slot's value inside an object window. Each view
// edits one IValueCell (miw/ValueCell.h) and goes through the slot's convertor for every text it
// shows or reads. The window calls update() to refresh a view from its cell, checkViews() when
// the user applies (the first view whose text fails its convertor is focused and reported in an
// error box) and then apply() to write each view's value into its cell. Views emit changed()
// whenever the user changes something, so the window can enable its Apply button.
//
// Kinds (createValueView picks one through miw/ViewChoice.h): a one-line text editor, a
// drop-down of an enumeration, a set of check boxes for a bit set, a list of element editors with
// add and remove buttons, an optional value that can be left at its default, a read-only
// display, and an invisible placeholder.
#pragma once

#include "gen/Slot.h"
#include "miw/Convertor.h"
#include "miw/ValueCell.h"
#include "miw/ViewChoice.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QStackedLayout;
class QToolButton;
class QVBoxLayout;

namespace kestel::gui {

// What an editor whose text fails its check reports.
struct InputError {
  std::string title;
  std::string text;
};

class ValueView : public QWidget, public IView {
  Q_OBJECT
public:
  explicit ValueView(const QString& label, QWidget* parent = nullptr);
  // update() refreshes from the cell (IView); QWidget's repaint request is reached as repaint().
  using IView::update;
  const QString& label() const { return label_; }
  // True when the input is acceptable; otherwise fills `error`, focuses the failing editor and
  // returns false.
  virtual bool validate(InputError& error) = 0;
  // Writes the value into the cell; only after validate() succeeded.
  virtual void apply() = 0;

signals:
  void changed();

private:
  QString label_;
};

// A line editor through `convertor`. Text the convertor refuses is marked as invalid while typed
// (the "valid" property and a warning background that suits light and dark palettes).
// `addressField` reports errors with the address wording.
class TextView final : public ValueView {
  Q_OBJECT
public:
  TextView(const QString& label, IValueCell& cell, Reference<IConvertor> convertor,
           bool addressField = false, QWidget* parent = nullptr);
  void update() override;
  bool validate(InputError& error) override;
  void apply() override;
  QLineEdit* editor() const { return edit_; }

protected:
  void changeEvent(QEvent* event) override;

private:
  // Marks the editor valid or invalid when that changed (or `again`: when the palette changed).
  void showValidity(bool again = false);
  IValueCell& cell_;
  Reference<IConvertor> convertor_;
  bool address_;
  QLineEdit* edit_;
};

// A drop-down of the enumeration's names (alphabetical when `sorted`); a value without a name is
// shown as its number and kept unless the user picks another entry.
class EnumView final : public ValueView {
  Q_OBJECT
public:
  EnumView(const QString& label, IValueCell& cell, Reference<IEnum> values, bool sorted,
           QWidget* parent = nullptr);
  void update() override;
  bool validate(InputError&) override { return true; }
  void apply() override;
  QComboBox* combo() const { return combo_; }

private:
  IValueCell& cell_;
  Reference<IEnum> values_;
  bool sorted_;
  QComboBox* combo_;
};

// One check box per enumeration entry (entry value n is bit n; entries from 32 on are not shown)
// in `columns` columns. Applying sets the value's bits from the boxes and adds every shown bit to
// the mask.
class SetView final : public ValueView {
  Q_OBJECT
public:
  SetView(const QString& label, IValueCell& value, IValueCell& mask, Reference<IEnum> bits,
          int columns, QWidget* parent = nullptr);
  void update() override;
  bool validate(InputError&) override { return true; }
  void apply() override;
  const std::vector<QCheckBox*>& boxes() const { return boxes_; }

private:
  IValueCell& value_;
  IValueCell& mask_;
  Reference<IEnum> bits_;
  std::vector<QCheckBox*> boxes_;
  std::vector<uint32_t> masks_; // the bit of each box
};

// A column of element editors over a u32 or text list. With editing allowed each row has "Add
// new value" (inserts a row after it) and "Remove value"; with no rows, clicking the empty box
// or pressing Insert on it adds the first. `atLeastOne` makes an empty list an input error;
// `addressElements` words element errors as address errors.
class MultiView final : public ValueView {
  Q_OBJECT
public:
  MultiView(const QString& label, IValueCell& list, Reference<IConvertor> element, bool editable,
            bool atLeastOne, bool addressElements = false, QWidget* parent = nullptr);
  void update() override;
  bool validate(InputError& error) override;
  void apply() override;
  size_t rowCount() const { return rows_.size(); }
  TextView* row(size_t i) const { return rows_[i].view; }
  QToolButton* addButton(size_t i) const { return rows_[i].add; }
  QToolButton* removeButton(size_t i) const { return rows_[i].remove; }
  QWidget* emptyBox() const { return empty_; }

  // What the buttons and the empty box do.
  void insertRow(size_t at);
  void removeRow(size_t at);

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  struct Row {
    std::unique_ptr<LocalCell> cell;
    TextView* view;
    QWidget* frame;
    QToolButton* add;
    QToolButton* remove;
  };
  void addRowWidget(size_t at, FieldValue element);
  void showEmptyBox();

  IValueCell& list_;
  Reference<IConvertor> element_;
  bool editable_;
  bool atLeastOne_;
  bool addressElements_;
  FieldValue kind_; // an empty list of the cell's kind, for new elements
  QVBoxLayout* rowsLayout_;
  QWidget* empty_;
  std::vector<Row> rows_;
};

// An optional value: page 0 (nothing given) is an empty box with a "Provide new value" button;
// page 1 the inner editor, the postfix text and a "Set to default" button. `given` holds a bool.
// The button, a click on the empty box or Insert on it turns to page 1 and focuses the editor.
class OptionalView final : public ValueView {
  Q_OBJECT
public:
  OptionalView(ValueView* inner, IValueCell& given, const QString& postfix,
               QWidget* parent = nullptr);
  void update() override;
  bool validate(InputError& error) override;
  void apply() override;
  bool isGiven() const { return given_now_; }
  void setGiven(bool on);
  QToolButton* provideButton() const { return provide_; }
  QToolButton* defaultButton() const { return reset_; }
  QWidget* emptyBox() const { return empty_; }
  ValueView* inner() const { return inner_; }

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  ValueView* inner_;
  IValueCell& given_;
  bool given_now_ = false;
  QStackedLayout* pages_;
  QWidget* empty_;
  QToolButton* provide_;
  QToolButton* reset_;
};

// The value as text: through the convertor, or the enumeration's name, or "true"/"false".
class ReadOnlyView final : public ValueView {
  Q_OBJECT
public:
  ReadOnlyView(const QString& label, IValueCell& cell, Reference<IConvertor> convertor,
               Reference<IEnum> values, QWidget* parent = nullptr);
  void update() override;
  bool validate(InputError&) override { return true; }
  void apply() override {}
  QString text() const;

private:
  IValueCell& cell_;
  Reference<IConvertor> convertor_;
  Reference<IEnum> values_;
  QLabel* text_;
};

// Shows nothing; the value stays in the record untouched.
class HiddenView final : public ValueView {
  Q_OBJECT
public:
  explicit HiddenView(const QString& label, QWidget* parent = nullptr);
  void update() override {}
  bool validate(InputError&) override { return true; }
  void apply() override {}
};

// The view a slot gets (miw/ViewChoice.h decides which). `cells` must outlive the view: cells[0]
// is the value, cells[1] the mask of a bit set, `given` the presence flag of an optional value.
ValueView* createValueView(const Slot& slot, const SkinEntry* skin, bool windowReadOnly,
                           bool optional, IValueCell& value, IValueCell* mask, IValueCell* given);

// Checks the views in order; on the first failure focuses it, shows the error box (no answer
// is awaited) and returns false.
bool checkViews(const std::vector<ValueView*>& views, QWidget* boxParent);

} // namespace kestel::gui
