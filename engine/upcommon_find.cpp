// The find of cases by the search form, the fetch of one shown record, and
// the filing of what they found: a scratch data file for the next page, or
// in chart mode a chart file of the chart key's values.
#include "engine/upcommon_find.h"

#include <cerrno>
#include <cstdio>
#include <memory>

#include "engine/upcommon_chart.h"
#include "engine/upcommon_ops.h"
#include "engine/upcommon_query.h"
#include "engine/upfile.h"
#include "engine/upflags.h"
#include "engine/upobjdb.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

// The steps find and row2formfind share once their criteria are built. No
// order is passed on as " ", no ordering.
int run_find(objlist& list, const dbconnection& c, const packet& criteria, const std::string& order) {
  primary_func(list);
  join_func(list);
  findhandle h;
  set_connection(h, c);
  h.rec = &criteria;
  h.order = order.empty() ? std::string(" ") : order;
  const findreply reply = handle_find(h);
  if (reply.errflag) {
    errmsg("Find operation failed\n");
    return 1;
  }
  return post_find(h, reply, list);
}

// The chart of the found rows into a new chart file.
int chart_result(const findreply& reply, objlist& list) {
  const std::string& key = engineflags().chartkey;
  chartfile chart = gen_chartfile();
  if (!chart.file) {
    errmsg("Cannot open file <%s> errno=%d \n", chart.path, errno);
    return -1;
  }
  if (producechartdata(chart.file.get(), *reply.data, *reply.keys, key) != 0)
    kivtrace("post_find: no chart of '%s' written", key);
  const bool failed = std::ferror(chart.file.get()) != 0;
  std::FILE* f = chart.file.release();
  const int closed = std::fclose(f);
  if (failed || closed != 0) {
    const int e = errno;
    std::remove(chart.path.c_str());
    errmsg("Cannot write file <%s> errno=%d \n", chart.path, e);
    return -1;
  }
  if (key.find("date") == std::string::npos && objtext(list, "chart_sort_by_value.VALUE") == "ON") {
    sortchartbyvalue(list, chart.path);
  } else {
    adduniqobj(list, "chartfile.VALUE", chart.path);
  }
  return 0;
}

}  // namespace

int pre_find(objlist&) { return 0; }

int find(objlist& list) {
  std::optional<dbconnection> c = connection_objects(list);
  if (!c) return -1;
  const std::string order = getsortlist_or_empty(list);
  EngineFlags& flags = engineflags();
  if (flags.chartflag) {
    if (order.empty()) {
      errmsg("No Chart Key define.");
      return 1;
    }
    flags.chartkey = order;
  }
  if (pre_find(list) != 0) {
    errmsg("Pre find failed\n");
    return 1;
  }
  const std::unique_ptr<packet> criteria = obj2db(list);
  return run_find(list, *c, *criteria, order);
}

int row2formfind(objlist& list, std::string_view record) {
  std::optional<dbconnection> c = connection_objects(list);
  if (!c) return -1;
  const std::string order = getsortlist_or_empty(list);
  if (pre_find(list) != 0) {
    errmsg("Pre find failed\n");
    return 1;
  }
  if (getrowcount(record) != 2) {
    errmsg("row2formfind Bad record format \n");
    return 1;
  }
  packet criteria;
  criteria.keys = getrow_or_empty(record, 1);
  criteria.data = getrow_or_empty(record, 2);
  return run_find(list, *c, criteria, order);
}

int post_find(findhandle& handle, const findreply& reply, objlist& list) {
  kivtrace("post_find: table '%s'\n", handle.table);
  if (!reply.data || !reply.keys || reply.data->empty() || reply.keys->empty()) {
    if (!engineflags().finderror) errmsg("No record to display\n");
    return 1;
  }
  const std::string count = std::to_string(getrowcount(*reply.data));
  if (engineflags().chartflag) {
    adduniqobj(list, "findresultnum.VALUE", count);
    return chart_result(reply, list);
  }
  const std::string result = *reply.keys + *reply.data;
  const written_file file = write_tmpdatafile(result);
  if (!file.written) {
    errmsg("Cannot write file <%s> errno=%d \n", file.path, errno);
    return -1;
  }
  adduniqobj(list, "findresult.VALUE", result, Origin::record);
  adduniqobj(list, "hidedatafile.VALUE", hidedatafile_value(file.path));
  adduniqobj(list, "findresultnum.VALUE", count);
  return 0;
}

void remove_find_file(objlist& list) {
  remove_tmpdatafile(objtext(list, "hidedatafile.VALUE"));
  setobjvalue(list, "hidedatafile", "", Origin::config);
}

}  // namespace kiv
