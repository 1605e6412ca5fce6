// The one request context of the process, the publication of its variables
// into the environment, and the request's saved uploads.
#include "toolkit/base/kivcontext.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <unistd.h>

#include "platform/flavour.h"
#include "platform/state.h"

namespace kiv {

namespace {

// Made before main, so that the end on exhausted memory can remove the
// uploads without constructing anything.
RequestContext g_context;

std::optional<std::string_view> text(const std::string& s) {
  if (s.empty()) return std::nullopt;
  return std::string_view(s);
}

std::optional<std::string_view> text(const std::optional<std::string>& s) {
  if (!s) return std::nullopt;
  return std::string_view(*s);
}

// A published variable: its name and where the context holds its value
// (none: the request publishes nothing under that name).
struct Published {
  std::string_view name;
  std::optional<std::string_view> (*value)(const RequestContext&);
};

constexpr std::array<Published, 14> kPublished{{
    {"NVHOME", [](const RequestContext& c) { return text(c.nvhome); }},
    {"SCRIPT_NAME", [](const RequestContext& c) { return text(c.script_name); }},
    {"KIVTRACE_FILE", [](const RequestContext& c) { return text(c.trace_file); }},
    {"KIVACTION", [](const RequestContext& c) { return text(c.action); }},
    {"login", [](const RequestContext& c) { return text(c.login); }},
    {"REMOTE_USER", [](const RequestContext& c) { return text(c.remote_user); }},
    {"MENUTRIG", [](const RequestContext& c) { return text(c.menutrig); }},
    {"DATE", [](const RequestContext& c) { return text(c.date); }},
    {"skey", [](const RequestContext& c) { return text(c.session_key); }},
    {"PATH", [](const RequestContext& c) { return text(c.search_path); }},
    {"TODAY", [](const RequestContext& c) { return text(c.today); }},
    {"TIME", [](const RequestContext& c) { return text(c.time); }},
    {"TIME24", [](const RequestContext& c) { return text(c.time24); }},
    {"TEMPLATE_PATH", [](const RequestContext& c) { return text(c.template_path); }},
}};

constexpr std::array<std::string_view, kPublished.size()> published_name_list() {
  std::array<std::string_view, kPublished.size()> names{};
  for (size_t i = 0; i < kPublished.size(); ++i) names[i] = kPublished[i].name;
  return names;
}
constexpr std::array<std::string_view, kPublished.size()> kPublishedNames = published_name_list();

std::optional<std::string> getenv_text(const std::string& name) {
  const char* v = std::getenv(name.c_str());
  if (!v) return std::nullopt;
  return std::string(v);
}

void put_env(const std::string& name, const std::optional<std::string>& value) {
  if (value)
    ::setenv(name.c_str(), value->c_str(), 1);
  else
    ::unsetenv(name.c_str());
}

RequestContext::Inherited* inherited_record(RequestContext& c, std::string_view name) {
  for (RequestContext::Inherited& r : c.inherited)
    if (r.name == name) return &r;
  return nullptr;
}

const Published* published(std::string_view name) {
  for (const Published& p : kPublished)
    if (p.name == name) return &p;
  return nullptr;
}

}  // namespace

RequestContext& reqctx() {
  KIV_REGISTER_RESET(&reset_reqctx);
  return g_context;
}

std::span<const std::string_view> published_names() { return kPublishedNames; }

// Only what differs from the environment is written: the step runs at every
// point where the context gains values, and most of them stay as they were.
void publish_environment() {
  RequestContext& c = reqctx();
  for (const Published& p : kPublished) {
    const std::optional<std::string_view> v = p.value(c);
    RequestContext::Inherited* r = inherited_record(c, p.name);
    if (!v) {
      // Published before, no value now: back to what was inherited.
      if (r && r->published) {
        put_env(r->name, r->value);
        r->published.reset();
      }
      continue;
    }
    const char* now = std::getenv(p.name.data());  // the names are literals, NUL-terminated
    if (now && *v == now) continue;
    if (!r) {
      c.inherited.push_back({std::string(p.name), now ? std::optional<std::string>(now) : std::nullopt, std::nullopt});
      r = &c.inherited.back();
    }
    r->published = std::string(*v);
    ::setenv(r->name.c_str(), r->published->c_str(), 1);
  }
}

std::optional<std::string> inherited_env(std::string_view name) {
  if (const RequestContext::Inherited* r = inherited_record(reqctx(), name)) return r->value;
  return getenv_text(std::string(name));
}

std::optional<std::string> published_env(std::string_view name) {
  if (const Published* p = published(name))
    if (std::optional<std::string_view> v = p->value(reqctx())) return std::string(*v);
  return std::nullopt;
}

std::optional<std::string> request_env(std::string_view name) {
  if (std::optional<std::string> v = published_env(name)) return v;
  return inherited_env(name);
}

std::string_view default_home() { return platform() == Platform::windows ? "c:/tiklo" : "/usr/local/norvale"; }

const std::string& start_home(std::string_view fallback) {
  RequestContext& c = reqctx();
  if (!c.nvhome.empty()) return c.nvhome;
  c.nvhome = inherited_env("NVHOME").value_or(std::string());
  if (c.nvhome.empty()) c.nvhome = fallback;
  return c.nvhome;
}

bool take_upload(std::string_view path) {
  auto& ups = reqctx().uploads;
  auto it = std::find(ups.begin(), ups.end(), path);
  if (it == ups.end()) return false;
  ups.erase(it);
  return true;
}

bool is_saved_upload(std::string_view path) {
  const auto& ups = reqctx().uploads;
  return std::find(ups.begin(), ups.end(), path) != ups.end();
}

void remove_saved_uploads() {
  // The context itself, not its accessor: on exhausted memory nothing may be
  // allocated, and registering a reset could.
  for (const std::string& p : g_context.uploads) ::unlink(p.c_str());
  g_context.uploads.clear();
}

void reset_reqctx() {
  RequestContext& c = g_context;
  if (c.debugfp) std::fclose(c.debugfp);
  // A variable that still holds what the request published goes back to its
  // inherited value; one that a caller changed since is left to the caller.
  for (const RequestContext::Inherited& r : c.inherited)
    if (r.published && getenv_text(r.name) == r.published) put_env(r.name, r.value);
  c = RequestContext{};
}

}  // namespace kiv
