#include "miw/ConvertorTime.h"

#include "miw/ConvertorText.h"
#include "util/Assert.h"

#include <cctype>

namespace kestel {

namespace {

constexpr uint32_t kDay = 86400;

Error described(const IConvertor& c) { return makeError(c.describe()); }

unsigned fractionDigits(uint32_t divisor) {
  unsigned digits = 0;
  for (uint32_t d = divisor; d > 1; d /= 10)
    ++digits;
  return digits;
}

bool isPowerOfTen(uint32_t divisor) {
  uint32_t d = 1;
  for (int i = 0; i < 10 && d < divisor; ++i)
    d *= 10;
  return d == divisor;
}

// Seconds with an optional fraction of at most as many digits as the divisor has zeros, in units.
bool takeSeconds(std::string_view text, uint32_t divisor, unsigned __int128& units) {
  uint32_t seconds = 0;
  if (!takeU32(text, seconds))
    return false;
  uint64_t fraction = 0;
  if (takePrefix(text, ".")) {
    const unsigned digits = fractionDigits(divisor);
    unsigned n = 0;
    for (; n < text.size() && std::isdigit(static_cast<unsigned char>(text[n])); ++n)
      fraction = fraction * 10 + static_cast<uint64_t>(text[n] - '0');
    if (n == 0 || n > digits)
      return false;
    text.remove_prefix(n);
    for (; n < digits; ++n)
      fraction *= 10;
  }
  if (!text.empty())
    return false;
  units = static_cast<unsigned __int128>(seconds) * divisor + fraction;
  return true;
}

// "<h>:<m>:<seconds>" after the days.
bool takeClock(std::string_view text, uint32_t divisor, uint32_t days, unsigned __int128& units) {
  uint32_t hours = 0, minutes = 0;
  if (!takeU32(text, hours) || !takePrefix(text, ":") || !takeU32(text, minutes) ||
      !takePrefix(text, ":") || !takeSeconds(text, divisor, units))
    return false;
  const unsigned __int128 wholeMinutes =
      (static_cast<unsigned __int128>(days) * 24 + hours) * 60 + minutes;
  units += wholeMinutes * 60 * divisor;
  return true;
}

} // namespace

std::string intervalText(uint32_t value, uint32_t divisor) {
  KESTEL_ASSERT(isPowerOfTen(divisor), "miw/convertor");
  const uint32_t seconds = value / divisor, fraction = value % divisor;
  const uint32_t rest = seconds % kDay;
  std::string text = strPrintf("%2.2u:%2.2u:%2.2u", rest / 3600, rest / 60 % 60, rest % 60);
  if (seconds >= kDay)
    text = strPrintf("%ud ", seconds / kDay) + text;
  if (fraction != 0)
    text += strPrintf(".%0*u", static_cast<int>(fractionDigits(divisor)), fraction);
  return text;
}

bool parseInterval(std::string_view text, uint32_t divisor, uint32_t& out) {
  KESTEL_ASSERT(isPowerOfTen(divisor), "miw/convertor");
  unsigned __int128 units = 0;
  const bool negative = takePrefix(text, "-");
  bool ok = takeSeconds(text, divisor, units);
  if (!ok && !negative) {
    std::string_view rest = text;
    uint32_t days = 0;
    if (takeU32(rest, days) && takePrefix(rest, "d")) {
      while (takePrefix(rest, " "))
        ;
      ok = takeClock(rest, divisor, days, units);
    } else {
      ok = takeClock(text, divisor, 0, units);
    }
  }
  // A leading "-" makes the value negative, which only "-0" survives.
  if (!ok || units > 0xFFFFFFFF || (negative && units != 0))
    return false;
  out = static_cast<uint32_t>(units);
  return true;
}

std::string timeZoneText(int32_t seconds) {
  const uint32_t magnitude =
      seconds < 0 ? 0 - static_cast<uint32_t>(seconds) : static_cast<uint32_t>(seconds);
  return strPrintf("%c%02u:%02u", seconds < -59 ? '-' : '+', magnitude / 3600, magnitude / 60 % 60);
}

bool parseTimeZone(std::string_view text, int32_t& out) {
  const bool negative = takePrefix(text, "-");
  if (!negative)
    (void)takePrefix(text, "+");
  uint32_t hours = 0, minutes = 0;
  if (!takeU32(text, hours) || !takePrefix(text, ":") || !takeU32(text, minutes) || !text.empty())
    return false;
  const int64_t magnitude = (int64_t{hours} * 60 + minutes) * 60;
  const int64_t value = negative ? -magnitude : magnitude;
  if (value < INT32_MIN || value > INT32_MAX)
    return false;
  out = static_cast<int32_t>(value);
  return true;
}

namespace {

constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

struct CivilDate {
  uint32_t year, month, day; // month 1-12
};

// Day count since 1970-01-01 to the proleptic Gregorian date and back.
CivilDate civilFromDays(uint32_t days) {
  const int64_t z = int64_t{days} + 719468;
  const int64_t era = z / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  return {static_cast<uint32_t>(year), static_cast<uint32_t>(month), static_cast<uint32_t>(day)};
}

int64_t daysFromCivil(int64_t y, uint32_t m, uint32_t d) {
  y -= m <= 2 ? 1 : 0;
  const int64_t era = y / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

uint32_t daysInMonth(uint32_t year, uint32_t month) {
  static constexpr uint32_t kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

bool sameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// The date part of "<mon>/<day>/<year>" at the front of `text`, in whole days since 1970.
bool takeDate(std::string_view& text, uint32_t& days) {
  std::string_view rest = text;
  uint32_t month = 0, day = 0, year = 0;
  for (uint32_t m = 0; m < 12 && month == 0; ++m)
    if (rest.size() >= 3 && sameLetters(rest.substr(0, 3), kMonths[m]))
      month = m + 1;
  if (month == 0)
    return false;
  rest.remove_prefix(3);
  if (!takePrefix(rest, "/") || !takeU32(rest, day) || !takePrefix(rest, "/") ||
      !takeU32(rest, year))
    return false;
  if (year < 1970 || year > 2105 || day < 1 || day > daysInMonth(year, month))
    return false;
  days = static_cast<uint32_t>(daysFromCivil(year, month, day));
  text = rest;
  return true;
}

} // namespace

std::string dateText(uint32_t seconds) {
  const CivilDate d = civilFromDays(seconds / kDay);
  return strPrintf("%s/%02u/%u", kMonths[d.month - 1], d.day, d.year);
}

std::string timeOfDayText(uint32_t seconds) {
  const uint32_t s = seconds % kDay;
  return strPrintf("%02u:%02u:%02u", s / 3600, s / 60 % 60, s % 60);
}

std::string dateTimeText(uint32_t seconds, ShowTime time) {
  if (seconds % kDay == 0 && time != ShowTime::Always)
    return dateText(seconds);
  return dateText(seconds) + " " + timeOfDayText(seconds);
}

bool parseDate(std::string_view text, uint32_t& out) {
  uint32_t days = 0;
  if (!takeDate(text, days) || !text.empty())
    return false;
  out = days * kDay; // 2105-12-31 is day 49672: fits
  return true;
}

bool parseTimeOfDay(std::string_view text, uint32_t& out) {
  uint32_t h = 0, m = 0, s = 0;
  if (!takeU32(text, h) || !takePrefix(text, ":") || !takeU32(text, m) || !takePrefix(text, ":") ||
      !takeU32(text, s) || !text.empty())
    return false;
  if (h > 23 || m > 59 || s > 59)
    return false;
  out = (h * 60 + m) * 60 + s;
  return true;
}

namespace {

class IntervalConvertor final : public IConvertor {
public:
  IntervalConvertor(uint32_t min, uint32_t max, uint32_t divisor)
      : min_(min), max_(max), divisor_(divisor) {
    KESTEL_ASSERT(isPowerOfTen(divisor), "miw/convertor");
  }

  std::string format(const FieldValue& value) const override {
    const auto* v = std::get_if<uint32_t>(&value);
    return v ? intervalText(*v, divisor_) : std::string();
  }
  Expected<FieldValue> parse(std::string_view text) const override {
    uint32_t v = 0;
    if (!parseInterval(text, divisor_, v) || v < min_ || v > max_)
      return described(*this);
    return FieldValue(v);
  }
  std::string describe() const override {
    if (min_ == 0 && max_ == 0xFFFFFFFF)
      return "time interval";
    if (max_ == 0xFFFFFFFF)
      return "timer interval greater than " + intervalText(min_ - 1, divisor_);
    return "time interval in range [" + intervalText(min_, divisor_) + ";" +
           intervalText(max_, divisor_) + "]";
  }

private:
  uint32_t min_, max_, divisor_;
};

class TimeZoneConvertor final : public IConvertor {
public:
  std::string format(const FieldValue& value) const override {
    const auto* v = std::get_if<uint32_t>(&value);
    return v ? timeZoneText(static_cast<int32_t>(*v)) : std::string();
  }
  Expected<FieldValue> parse(std::string_view text) const override {
    int32_t v = 0;
    if (!parseTimeZone(text, v))
      return described(*this);
    return FieldValue(static_cast<uint32_t>(v));
  }
  std::string describe() const override { return "time zone offset"; }
};

class DateTimeConvertor final : public IConvertor {
public:
  DateTimeConvertor(DatePart part, ShowTime time) : part_(part), time_(time) {}

  std::string format(const FieldValue& value) const override {
    const auto* v = std::get_if<uint32_t>(&value);
    if (!v)
      return {};
    switch (part_) {
    case DatePart::Date:
      return dateText(*v);
    case DatePart::TimeOfDay:
      return timeOfDayText(*v);
    default:
      return dateTimeText(*v, time_);
    }
  }
  Expected<FieldValue> parse(std::string_view text) const override {
    uint32_t v = 0;
    if (part_ == DatePart::TimeOfDay ? parseTimeOfDay(text, v) : readDate(text, v))
      return FieldValue(v);
    return described(*this);
  }
  std::string describe() const override {
    switch (part_) {
    case DatePart::Date:
      return "date";
    case DatePart::TimeOfDay:
      return "time";
    default:
      return "date and time";
    }
  }

private:
  bool readDate(std::string_view text, uint32_t& out) const {
    uint32_t days = 0, clock = 0;
    if (!takeDate(text, days))
      return false;
    if (!text.empty()) {
      if (part_ != DatePart::DateAndTime || !takePrefix(text, " "))
        return false;
      while (takePrefix(text, " "))
        ;
      if (!parseTimeOfDay(text, clock))
        return false;
    }
    out = days * kDay + clock;
    return true;
  }
  DatePart part_;
  ShowTime time_;
};

} // namespace

Reference<IConvertor> intervalConvertor(uint32_t min, uint32_t max, uint32_t divisor) {
  return makeRef<IntervalConvertor>(min, max, divisor);
}
Reference<IConvertor> timeZoneConvertor() { return makeRef<TimeZoneConvertor>(); }
Reference<IConvertor> dateAndTimeConvertor(DatePart part, ShowTime time) {
  return makeRef<DateTimeConvertor>(part, time);
}

} // namespace kestel
