// The date and time texts of the command settings (TODAY, TIME, TIME24,
// stamp lines, date fields). Formatted by hand from the broken-down local
// time, so the words are the C locale's whatever locale the process has.
#include <string>

#include "engine/upcommon.h"
#include "engine/upclock.h"
#include "toolkit/base/kivfmt.h"
#include "toolkit/base/kivsettings.h"

namespace kiv {

namespace {

int hour12(const std::tm& tm) { return tm.tm_hour % 12 == 0 ? 12 : tm.tm_hour % 12; }
const char* ampm(const std::tm& tm) { return tm.tm_hour < 12 ? "AM" : "PM"; }

}  // namespace

std::string getdate1(std::time_t t) {
  std::tm tm = local_time(t);
  int day = tm.tm_mday, month = tm.tm_mon + 1, year = tm.tm_year + 1900;
  if (settings().dateformat == "dmy") return sformat("%02d/%02d/%d", day, month, year);
  return sformat("%02d/%02d/%d", month, day, year);
}

std::string gettime2(std::time_t t) {
  std::tm tm = local_time(t);
  return sformat("%02d:%02d:%02d %s", hour12(tm), tm.tm_min, tm.tm_sec, ampm(tm)).substr(0, 12);
}

std::string gettime3(std::time_t t) {
  std::tm tm = local_time(t);
  return sformat("%02d:%02d %s", hour12(tm), tm.tm_min, ampm(tm));
}

std::string gettime4(std::time_t t) {
  std::tm tm = local_time(t);
  return sformat("%02d:%02d", tm.tm_hour, tm.tm_min);
}

std::string getdate1() { return getdate1(engine_now()); }
std::string gettime2() { return gettime2(engine_now()); }
std::string gettime3() { return gettime3(engine_now()); }
std::string gettime4() { return gettime4(engine_now()); }

}  // namespace kiv
