// Convertors and texts of time values: intervals (a count of units with a divisor of units per
// second), time-zone offsets (signed seconds) and dates and times (u32 seconds since 1970, UTC).
// Parsing refuses overflow: huge day counts, years outside 1970-2105 and days beyond the month.
#pragma once

#include "miw/Convertor.h"

namespace kestel {

// Interval texts: "hh:mm:ss", "<days>d hh:mm:ss", with ".<fraction>" of as many digits as the
// divisor has zeros. The divisor must be a power of ten from 1 to 1000000000.
std::string intervalText(uint32_t value, uint32_t divisor);
// Reads seconds ("90", "1.5", "-0"), "<d>d <h>:<m>:<s>" or "<h>:<m>:<s>" (seconds may carry a
// fraction); false on other text, a negative or fractional-beyond-divisor value, or overflow.
bool parseInterval(std::string_view text, uint32_t divisor, uint32_t& out);
// Interval (u32 value) in [min, max].
Reference<IConvertor> intervalConvertor(uint32_t min, uint32_t max, uint32_t divisor);

// "+hh:mm" or "-hh:mm": "-" only below -59 seconds.
std::string timeZoneText(int32_t seconds);
// Reads an optional sign and "<h>:<m>" with nothing after; false otherwise or when the offset
// does not fit in 32 signed bits.
bool parseTimeZone(std::string_view text, int32_t& out);
// Time-zone offset (u32 value holding signed seconds).
Reference<IConvertor> timeZoneConvertor();

// "Jan/05/2024 13:04:05"; midnight shows the date alone unless `time` is Always.
enum class ShowTime { UnlessMidnight, Always };
std::string dateTimeText(uint32_t seconds, ShowTime time);
// The date of the day holding `seconds`: "Jan/05/2024".
std::string dateText(uint32_t seconds);
// The time of day: "13:04:05".
std::string timeOfDayText(uint32_t seconds);
// Reads "<mon>/<day>/<year>" (month name in any case); false for other text, a year outside
// 1970-2105, or a day not in that month.
bool parseDate(std::string_view text, uint32_t& out);
// Reads "<h>:<m>:<s>" with h at most 23, m and s at most 59.
bool parseTimeOfDay(std::string_view text, uint32_t& out);

// Which part of a u32 time value a date-and-time convertor shows and reads: date and time reads
// a date optionally followed by blanks and a time of day.
enum class DatePart { DateAndTime, Date, TimeOfDay };
Reference<IConvertor> dateAndTimeConvertor(DatePart part, ShowTime time);

} // namespace kestel
