// The save of the chart settings page (see upadmin_charts.h).
#include "admin/upadmin_charts.h"

#include <array>
#include <optional>
#include <string>

#include "admin/upadmin_state.h"
#include "platform/exit.h"
#include "toolkit/base/kivcgitrace.h"

namespace kiv {

namespace {

// The settings of the page in the order they are checked, with their
// messages when blank.
struct ChartSetting {
  std::string_view key;
  std::string_view blank;
};
constexpr std::array<ChartSetting, 3> kChartSettings{{
    {"pictmpdir.VALUE", "Error:pictmpdir can't be blank\n"},
    {"pref_pictmpdir.VALUE", "Error:pref_pictmpdir can't be blank\n"},
    {"link_program.VALUE", "Error:link_program can't be blank\n"},
}};

}  // namespace

void modchartssettings(std::string_view /*word*/) {
  AdminState& s = admin();
  std::array<std::string, kChartSettings.size()> values;
  for (size_t i = 0; i < kChartSettings.size(); ++i) {
    std::optional<std::string> v = getvalfromlist(*s.admin_obj, kChartSettings[i].key);
    if (!v) {
      errmsg(kChartSettings[i].blank);
      throw Exit{0};
    }
    values[i] = std::move(*v);
  }
  if (!s.ce_obj) s.ce_obj = std::make_unique<objlist>();
  for (size_t i = 0; i < kChartSettings.size(); ++i)
    adduniqobj(*s.ce_obj, kChartSettings[i].key, values[i], Origin::request);
}

}  // namespace kiv
