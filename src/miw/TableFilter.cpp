#include "miw/TableFilter.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>

namespace kestel {
namespace {

using enum FilterOp;

std::string lowered(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  });
  return out;
}

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
    s.remove_suffix(1);
  return s;
}

std::vector<std::string_view> listItems(std::string_view value) {
  std::vector<std::string_view> items;
  while (true) {
    size_t comma = value.find(',');
    items.push_back(trimmed(value.substr(0, comma)));
    if (comma == std::string_view::npos)
      return items;
    value.remove_prefix(comma + 1);
  }
}

// A value the way the column reads typed text: through its convertor, else as the text itself
// (texts) or a decimal number.
Expected<FieldValue> readValue(const TableField& field, std::string_view text) {
  if (IConvertor* c = field.convertor()) {
    Expected<FieldValue> v = c->parse(text);
    if (!v)
      return makeError(inputErrorText(field.title(), *c));
    return v;
  }
  if (field.kind() != ValueKind::Number)
    return FieldValue(std::string(text));
  uint32_t n = 0;
  if (text.empty() || text.size() > 10 ||
      !std::all_of(text.begin(), text.end(), [](char ch) { return ch >= '0' && ch <= '9'; }) ||
      std::stoull(std::string(text)) > 0xFFFFFFFFull)
    return makeError("Error in " + field.title() + " - number expected!");
  n = static_cast<uint32_t>(std::stoul(std::string(text)));
  return FieldValue(n);
}

int compareValues(const TableField& field, const FieldValue& a, const FieldValue& b) {
  if (IConvertor* c = field.convertor())
    return c->compare(a, b);
  const auto* na = std::get_if<uint32_t>(&a);
  const auto* nb = std::get_if<uint32_t>(&b);
  if (na && nb)
    return *na < *nb ? -1 : (*nb < *na ? 1 : 0);
  return plainText(a).compare(plainText(b));
}

// A network of either family as 16 bytes (IPv4 as ::ffff:a.b.c.d) and a prefix length over them.
struct Network {
  Addr6 address{};
  uint32_t length = 128;
};

Addr6 mapped(uint32_t v4) { // first octet in the lowest byte, as the router keeps it
  Addr6 a{};
  a[10] = a[11] = 0xFF;
  std::memcpy(a.data() + 12, &v4, 4);
  return a;
}

bool parseNetwork(std::string_view text, Network& out) {
  size_t slash = text.find('/');
  std::string host(trimmed(text.substr(0, slash)));
  uint32_t extra = 0;
  in_addr v4{};
  in6_addr v6{};
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1) {
    out.address = mapped(v4.s_addr);
    extra = 96;
    out.length = 128;
  } else if (inet_pton(AF_INET6, host.c_str(), &v6) == 1) {
    std::memcpy(out.address.data(), &v6, 16);
  } else {
    return false;
  }
  if (slash == std::string_view::npos)
    return true;
  std::string_view len = trimmed(text.substr(slash + 1));
  if (len.empty() || len.size() > 3 ||
      !std::all_of(len.begin(), len.end(), [](char ch) { return ch >= '0' && ch <= '9'; }))
    return false;
  uint32_t n = static_cast<uint32_t>(std::stoul(std::string(len))) + extra;
  if (n > 128)
    return false;
  out.length = n;
  return true;
}

// The address of a row's value in 16-byte form; false for values that hold none.
bool addressOf(const FieldValue& v, Addr6& out) {
  if (const auto* a = std::get_if<uint32_t>(&v))
    out = mapped(*a);
  else if (const auto* p = std::get_if<Ipv4Pair>(&v))
    out = mapped(p->address);
  else if (const auto* a6 = std::get_if<Addr6>(&v))
    out = *a6;
  else if (const auto* p6 = std::get_if<Ipv6Prefix>(&v))
    out = p6->address;
  else if (const auto* av = std::get_if<AddressValue>(&v); av && av->hasAddress)
    out = av->address;
  else
    return false;
  return true;
}

bool inNetwork(const Addr6& a, const Network& n) {
  for (uint32_t bit = 0; bit < n.length; ++bit) {
    uint8_t mask = static_cast<uint8_t>(0x80 >> (bit % 8));
    if ((a[bit / 8] & mask) != (n.address[bit / 8] & mask))
      return false;
  }
  return true;
}

RowTest negated(RowTest test, bool negate) {
  if (!negate)
    return test;
  return [test = std::move(test)](const IObject& o) { return !test(o); };
}

Expected<RowTest> membership(const std::shared_ptr<TableField>& field, std::string_view value) {
  if (field->kind() == ValueKind::Address) {
    std::vector<Network> networks;
    for (std::string_view item : listItems(value)) {
      Network n;
      if (!parseNetwork(item, n))
        return makeError(addressErrorText(field->title()));
      networks.push_back(n);
    }
    return RowTest([field, networks](const IObject& o) {
      Addr6 a;
      return addressOf(field->value(o), a) &&
             std::any_of(networks.begin(), networks.end(),
                         [&](const Network& n) { return inNetwork(a, n); });
    });
  }
  std::vector<FieldValue> values;
  for (std::string_view item : listItems(value)) {
    Expected<FieldValue> v = readValue(*field, item);
    if (!v)
      return v.error();
    values.push_back(*v);
  }
  return RowTest([field, values](const IObject& o) {
    FieldValue mine = field->value(o);
    return !std::holds_alternative<std::monostate>(mine) &&
           std::any_of(values.begin(), values.end(),
                       [&](const FieldValue& v) { return compareValues(*field, mine, v) == 0; });
  });
}

Expected<RowTest> comparison(const std::shared_ptr<TableField>& field, FilterOp op,
                             std::string_view value) {
  Expected<FieldValue> v = readValue(*field, trimmed(value));
  if (!v)
    return v.error();
  return RowTest([field, op, v = *v](const IObject& o) {
    FieldValue mine = field->value(o);
    if (std::holds_alternative<std::monostate>(mine))
      return false;
    int c = compareValues(*field, mine, v);
    switch (op) {
    case Less:
      return c < 0;
    case LessOrEqual:
      return c <= 0;
    case Greater:
      return c > 0;
    default:
      return c >= 0;
    }
  });
}

} // namespace

const char* filterOpText(FilterOp op) {
  static const char* const texts[kFilterOpCount] = {
      "contains", "contains not", "is", "is not", "in", "not in", "<", "<=", ">", ">="};
  size_t i = static_cast<size_t>(op);
  return i < kFilterOpCount ? texts[i] : "";
}

const std::vector<FilterOp>& filterOperators(ValueKind kind) {
  static const std::vector<FilterOp> text{Contains, ContainsNot, Is, IsNot, In, NotIn};
  static const std::vector<FilterOp> number{Is,   IsNot,       In,      NotIn,
                                            Less, LessOrEqual, Greater, GreaterOrEqual};
  static const std::vector<FilterOp> choice{Is, IsNot, In, NotIn};
  static const std::vector<FilterOp> flag{Is, IsNot};
  static const std::vector<FilterOp> other{Contains, ContainsNot, Is, IsNot};
  switch (kind) {
  case ValueKind::Text:
    return text;
  case ValueKind::Number:
    return number;
  case ValueKind::Enum:
  case ValueKind::Address:
    return choice;
  case ValueKind::Flag:
    return flag;
  default:
    return other;
  }
}

bool offersOperator(ValueKind kind, FilterOp op) {
  const std::vector<FilterOp>& ops = filterOperators(kind);
  return std::find(ops.begin(), ops.end(), op) != ops.end();
}

Expected<RowTest> createFilterFor(const std::shared_ptr<TableField>& field, FilterOp op,
                                  std::string_view value) {
  if (!field || !offersOperator(field->kind(), op))
    return makeError(std::string(filterOpText(op)) + " is not offered for " +
                     (field ? field->title() : std::string()));
  switch (op) {
  case Contains:
  case ContainsNot:
    return negated(
        [field, part = lowered(value)](const IObject& o) { return field->textContains(o, part); },
        op == ContainsNot);
  case Is:
  case IsNot: {
    Expected<RowTest> test = RowTest(
        [field, want = std::string(value)](const IObject& o) { return field->text(o) == want; });
    if (field->kind() != ValueKind::Text && field->kind() != ValueKind::Other)
      test = membership(field, value); // a list of one
    if (!test)
      return test;
    return negated(std::move(*test), op == IsNot);
  }
  case In:
  case NotIn: {
    Expected<RowTest> test = membership(field, value);
    if (!test)
      return test;
    return negated(std::move(*test), op == NotIn);
  }
  default:
    return comparison(field, op, value);
  }
}

} // namespace kestel
