// The find command: the search a submitted form describes, shown through a
// template (or an error page of the installation's choosing when nothing is
// found); and, given an output folder and filter words instead of a form,
// the export of every found case into an HTML file of its own.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/request/kivexfile.h"
#include "toolkit/base/kivfmt.h"
#include "toolkit/objects/kivobj.h"

namespace kiv {

// up_find <template>: the search. The request goes onto the objects (the
// form's values are the criteria), the stored query of sql_control applies,
// and the find runs. Found: the page of the template, whose status is the
// request's. Not found (or a failed find): the error page
// (finderror_page) printed over the objects, without the find's own "No
// record to display\n" (engineflags().finderror), or without one "No
// records found\n"; status 1.
//
// up_find <template> <folder> [<field> <value>]...: the export. The form is
// cleared (writeblankpage), each pair sets <field>.VALUE (a last field
// without a value is left out), and the find runs without the request or a
// stored query ("No records found\n", status 1, when it fails). The page
// then says "Total Cases=%d\n", and for each found case with a case number
// "Count=%d Case num=%s\n" (its place among the found rows, from 1): the
// case alone becomes findresult.VALUE (with its attachments loaded) and
// is written through the template into "<folder>/<case>.html"
// (export_found_cases), every line and failure told in the page. Once the
// find has found cases, the page's own head and foot (kExportHead,
// kExportFoot under client/kivhtml/tk, printed over the objects when the
// installation has them) frame the report lines, so that an export reads as
// a report; a find that fails stays a refusal.
//
// Fewer than 2 words: "Wrong usage: upfind templatefile\n", status 2.
int up_find(const std::vector<std::string>& words, exlist* request);

// The templates of the export's page, before its first report line and
// after its last.
inline constexpr std::string_view kExportHead = "exporthead.html";
inline constexpr std::string_view kExportFoot = "exportfoot.html";

// Where the lines of an export go: errmsg_v (the page) or a writer of the
// console's standard error.
using Say = int (*)(std::string_view format, std::span<const FmtArg> args);

// The case export over what the find left in `objs`: the scratch data file
// the find filed (hidedatafile) is removed, as nothing reads it; then
// "Total Cases=%d\n" (the found rows) goes to `progress`, and the template
// at `templ` is copied once for the run (fixexportform, "<home>/tmp/
// export.<pid>", removed at the end). The find result is walked once: a
// row without a case number is passed over (trace "CONTINUE"); for each
// other, "Count=%d Case num=%s\n" (its place among the found rows, from 1)
// goes to `progress`, the case alone becomes findresult.VALUE with its
// attachments loaded (addattachdata), and the copy printed over the objects
// is written whole into "<folder>/<case>.html" (write_file_atomic, not
// synced: what stands at the path is replaced, a link not followed, a
// failed write leaves it as it was), the case number made a file name by
// the rule of the attachment folders ("/" and "\" as "-",
// attachfolder_part). A case whose number makes no plain file name, whose
// file name a case before it in this run was written under (two numbers
// such as "2024/7" and "2024-7": "Case number '%s' not written: '%s'
// already holds case number '%s'\n", so nothing is overwritten), or whose
// page cannot be printed or written, is told to `say` ("%s: %s\n" with the
// path and the system's message for a file not written) and the export
// goes on. 1 when the copy could not be made or any case was not written,
// else 0. The page (out()) is never moved: each case is printed into a
// buffer of its own.
int export_found_cases(objlist& objs, const std::string& templ, const std::string& folder, Say progress, Say say);

// The error page of a search that found nothing: the template
// error_template.VALUE names, when that is a relative name of plain parts
// lying under "<home>/client/kivhtml/tk" and the file exists; otherwise
// "<home>/client/kivhtml/tk/finderror.html" when it exists; otherwise none.
std::optional<std::string> finderror_page(const objlist& objs);

}  // namespace kiv
