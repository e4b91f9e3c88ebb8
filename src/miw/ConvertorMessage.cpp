#include "miw/ConvertorMessage.h"

namespace kestel {
namespace {

constexpr size_t kShownLength = 200;

class MessageConvertor final : public IConvertor {
public:
  std::string format(const FieldValue& value) const override {
    const auto* v = std::get_if<nv::message>(&value);
    if (!v || v->empty())
      return {};
    std::string dump, out;
    v->dump(dump);
    size_t from = 0;
    while (from < dump.size() && out.size() <= kShownLength) {
      size_t end = dump.find('\n', from);
      if (end == std::string::npos)
        end = dump.size();
      std::string_view line(dump.data() + from, end - from);
      while (!line.empty() && line.front() == ' ')
        line.remove_prefix(1);
      if (!line.empty())
        out += (out.empty() ? "" : "; ") + std::string(line);
      from = end + 1;
    }
    if (out.size() > kShownLength) {
      size_t cut = kShownLength;
      while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80)
        --cut; // never inside a UTF-8 sequence
      out.resize(cut);
      out += "...";
    }
    return out;
  }

  Expected<FieldValue> parse(std::string_view text) const override {
    if (!text.empty())
      return Error{describe()};
    return FieldValue(nv::message());
  }

  std::string describe() const override { return "empty value"; }
};

} // namespace

Reference<IConvertor> messageConvertor() { return Reference<IConvertor>(new MessageConvertor()); }

} // namespace kestel
