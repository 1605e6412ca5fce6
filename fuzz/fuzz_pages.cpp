// Fuzzes the two readers of the files an installation writes: object files
// and page templates. The first input byte picks the reader, the rest is the
// file's text. An object file that the reader takes and the writer writes
// must read back to the same canonical text; a template runs against a small
// object list whose values came from configuration, a request and a record,
// and must end without a crash and never put a marked value into the page raw.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/output.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/pages/kivhtml.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/objects/kivobjfile.h"

namespace {

using namespace kiv;

// A marked value that the page may show only escaped.
constexpr std::string_view kScript = "<script>x</script>";

void object_file(std::string_view text) {
  std::unique_ptr<objlist> list = readkivobj(text);
  std::string once;
  if (!list || !writekivobj(*list, once)) return;
  std::unique_ptr<objlist> again = readkivobj(once);
  std::string twice;
  if (!again || !writekivobj(*again, twice) || twice != once) std::abort();
}

const objlist& objects() {
  static std::unique_ptr<objlist> list = [] {
    auto l = readkivobj(
        "OBJECT{\n NAME=status\n TYPE=MENU\n VALUE=Open^@Open^@Pending^@Closed^$\n};\n"
        "OBJECT{\n NAME=page_title\n VALUE=<b>Help desk</b>\n};\n"
        "OBJECT{\n NAME=rows\n VALUE=a^@b^$1^@2^$\n};\n");
    adduniqobj(*l, "problem.VALUE", kScript, Origin::request);
    adduniqobj(*l, "resolution.VALUE", kScript, Origin::record);
    adduniqobj(*l, "found.VALUE", std::string("case_num^@problem^$1^@") + std::string(kScript) + "^$",
               Origin::record);
    castobj(*l, "status.VALUE", kScript, Origin::request);
    return l;
  }();
  return *list;
}

void page_template(std::string_view text) {
  // Plain text the template itself holds may be anything; only the marked
  // values are checked.
  if (text.find("<script") != std::string_view::npos || text.find("<SCRIPT") != std::string_view::npos) return;
  StringSink page;
  kivhtml ctx;
  ctx.text = text;
  ctx.lists.push_back(&objects());
  ctx.out = &page;
  html_fprintf(ctx);
  if (page.text().find(kScript) != std::string::npos) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // No home: include files, attachments and error texts are not read, and
  // nothing goes to a trace file.
  kiv::reqctx().nvhome.clear();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] & 1)
    page_template(text);
  else
    object_file(text);
  return 0;
}
