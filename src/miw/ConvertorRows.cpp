#include "miw/ConvertorRows.h"

namespace kestel {
namespace {

class TupleRowConvertor final : public IConvertor {
public:
  explicit TupleRowConvertor(std::vector<Reference<IConvertor>> columns)
      : columns_(std::move(columns)) {}

  std::string format(const FieldValue& value) const override {
    const auto* row = std::get_if<TupleRow>(&value);
    std::string out;
    for (size_t i = 0; row && i < columns_.size(); ++i) {
      if (i)
        out += ' ';
      if (i < row->cells.size())
        out += columns_[i]->format(row->cells[i]);
    }
    return out;
  }

  Expected<FieldValue> parse(std::string_view text) const override {
    TupleRow row;
    for (size_t i = 0; i < columns_.size(); ++i) {
      while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
      std::string_view word = text;
      if (i + 1 < columns_.size()) {
        word = text.substr(0, text.find(' '));
        text.remove_prefix(word.size());
      }
      Expected<FieldValue> cell = columns_[i]->parse(word);
      if (!cell)
        return Error{describe()};
      row.cells.push_back(std::move(cell.value()));
    }
    return FieldValue(std::move(row));
  }

  std::string describe() const override {
    std::string out;
    for (const Reference<IConvertor>& c : columns_)
      out += (out.empty() ? "" : " followed by ") + c->describe();
    return out;
  }

private:
  std::vector<Reference<IConvertor>> columns_;
};

class TupleRowsConvertor final : public IListConvertor {
public:
  TupleRowsConvertor(Reference<IConvertor> row, size_t fixedCount)
      : row_(row), list_(elementListConvertor(row, ListElements::Rows)), fixed_(fixedCount) {}

  IBase* cast(unsigned int id) override { return id == kListConvertorInterface ? this : nullptr; }
  Reference<IConvertor> element() const override { return row_; }
  size_t fixedCount() const override { return fixed_; }

  std::string format(const FieldValue& value) const override { return list_->format(value); }

  Expected<FieldValue> parse(std::string_view text) const override {
    Expected<FieldValue> v = list_->parse(text);
    if (!v || (fixed_ && listCount(v.value()) != fixed_))
      return Error{describe()};
    return v;
  }

  std::string describe() const override {
    std::string out = list_->describe();
    if (fixed_)
      out += " with at least " + std::to_string(fixed_) + " and at most " + std::to_string(fixed_) +
             " elements";
    return out;
  }

private:
  static size_t listCount(const FieldValue& v) {
    const auto* rows = std::get_if<std::vector<TupleRow>>(&v);
    return rows ? rows->size() : 0;
  }

  Reference<IConvertor> row_;
  Reference<IConvertor> list_;
  size_t fixed_;
};

} // namespace

Reference<IConvertor> tupleRowConvertor(std::vector<Reference<IConvertor>> columns) {
  return Reference<IConvertor>(new TupleRowConvertor(std::move(columns)));
}

Reference<IConvertor> tupleRowsConvertor(std::vector<Reference<IConvertor>> columns,
                                         size_t fixedCount) {
  return Reference<IConvertor>(
      new TupleRowsConvertor(tupleRowConvertor(std::move(columns)), fixedCount));
}

} // namespace kestel
