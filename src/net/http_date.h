#pragma once
// Server dates ("Last-modified" after normalisation) as time values, read
// without the C library's locale: the month names are always English and
// the time of day is always GMT, whatever the machine's settings.
//
// Thread: any; pure functions.
#include <cstdint>
#include <optional>
#include <string_view>

namespace fetchora {

// Reads a day, an English month name (three letters or more), a year (four
// digits, or two: 70-99 the 1900s, else the 2000s) and "hh:mm[:ss]" in any
// of the orders servers write them ("21 Oct 2015 07:28:00", "21-Oct-15
// 07:28:00", "2015 Oct 21 07:28:00"), with or without a weekday and "GMT".
// Seconds since 1970 in UTC; nothing when the text is not such a date or the
// time does not fit a 32-bit time value.
std::optional<int32_t> HttpDateSeconds(std::string_view text);

// Days since 1970-01-01 of a civil date in the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day);

}  // namespace fetchora
