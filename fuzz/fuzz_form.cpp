// Fuzzes the request readers: the first byte picks the reader and a few
// settings, the rest is the input. Multipart inputs carry their content type
// on their first line; uploads go to a scratch home and are removed after
// each input. A reader that ends the request (kiv::Exit) is a normal end.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

#include "platform/exit.h"
#include "platform/output.h"
#include "toolkit/request/kivcgiform.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/request/multipart.h"

namespace {

class NullSink : public kiv::Sink {
 public:
  void write(std::string_view) override {}
};

NullSink g_null;
std::string g_home;

// The scratch home goes when the fuzzer ends.
void remove_home() {
  kiv::remove_saved_uploads();
  rmdir((g_home + "/tmp").c_str());
  rmdir(g_home.c_str());
}

// A stream over `bytes`; fmemopen refuses an empty buffer, so one spare
// byte is always there (the readers are held to the length they are given).
struct Stream {
  explicit Stream(std::string_view bytes) : buf(bytes.begin(), bytes.end()) {
    buf.push_back('\0');
    f = fmemopen(buf.data(), buf.size(), "r");
  }
  ~Stream() {
    if (f) std::fclose(f);
  }
  std::vector<char> buf;
  std::FILE* f = nullptr;
};

void urlencoded(std::string_view text, bool early_end) {
  kiv::get_fes_from_string(text);
  Stream s(text);
  if (!s.f) return;
  long length = static_cast<long>(text.size()) + (early_end ? 16 : 0);
  kiv::form_entries list = kiv::get_fes_from_stream(length, s.f);
  kiv::parmval(list, "KIVACTION");
}

void multipart(std::string_view input, bool early_end) {
  size_t nl = input.find('\n');
  std::string type(nl == std::string_view::npos ? std::string_view("multipart/form-data; boundary=B")
                                                : input.substr(0, nl));
  std::string_view body = nl == std::string_view::npos ? input : input.substr(nl + 1);
  setenv("CONTENT_TYPE", type.c_str(), 1);
  setenv("CONTENT_LENGTH", std::to_string(body.size() + (early_end ? 16 : 0)).c_str(), 1);
  Stream s(body);
  if (!s.f) return;
  try {
    kiv::form_entries list = kiv::parse_multipart(s.f);
    for (const kiv::form_entry& e : list)
      if (e.value) kiv::is_saved_upload(*e.value);
  } catch (const kiv::Exit&) {
  }
  kiv::remove_saved_uploads();
}

void headers(std::string_view text) {
  std::string line(text);
  kiv::header_groups g = kiv::header_structured(line);
  kiv::header_attribute(g, "name");
  kiv::header_address(line);
  for (int kind : {0, 1, 3}) kiv::header_parse(kind, line);
  kiv::trans(kiv::getnamefromline(line));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char templ[] = "/tmp/kivfuzz.XXXXXX";
  const char* home = mkdtemp(templ);
  if (!home) std::abort();
  std::string tmp = std::string(home) + "/tmp";
  if (mkdir(tmp.c_str(), 0700) != 0) std::abort();
  setenv("NVHOME", home, 1);
  g_home = home;
  std::atexit(remove_home);
  kiv::set_out(&g_null);
  kiv::set_err(&g_null);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t control = data[0];
  std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  kiv::reqctx().attachmentmaxlen = (control & 0x10) ? 4 : -1;
  const bool early_end = (control & 0x08) != 0;
  switch (control % 3) {
    case 0: urlencoded(input, early_end); break;
    case 1: multipart(input, early_end); break;
    default: headers(input); break;
  }
  return 0;
}
