// Calendar arithmetic of the reports: dates as the reports read them from
// record texts, counted in days from 1 January 1970 without a time zone, so
// that a report gives the same figures wherever and whenever it runs.
#pragma once

#include <cstdint>
#include <string>

namespace kiv::report {

inline constexpr const char* kDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
inline constexpr const char* kFullDayNames[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                 "Thursday", "Friday", "Saturday"};

constexpr bool leap_year(long long y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

constexpr int days_in_month(long long y, int m) {
  constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && leap_year(y) ? 29 : kDays[m - 1];
}

// True for a day of the calendar (month 1 to 12, day 1 to the month's last).
constexpr bool valid_date(long long y, int m, int d) {
  return m >= 1 && m <= 12 && d >= 1 && d <= days_in_month(y, m);
}

// Days from 1970-01-01 to y-m-d (a valid date), negative before it.
constexpr long long days_from_civil(long long y, int m, int d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const long long yoe = y - era * 400;
  const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// The weekday of a day count, 0 for Sunday.
constexpr int weekday(long long days) { return static_cast<int>(((days % 7) + 11) % 7); }

static_assert(days_from_civil(1970, 1, 1) == 0 && weekday(0) == 4);
static_assert(days_from_civil(2000, 3, 1) == 11017 && weekday(days_from_civil(2024, 3, 5)) == 2);

}  // namespace kiv::report
