// Helpers of the engine tests: a home folder with the request context
// pointing at it, object lists built from (name, attribute, text) lines and
// joined, shell scripts written into the home, and the shared runs in a child
// process (kivtest::in_child, as the unprivileged user "nobody" where a test
// needs folder permissions to hold under root).
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/testsupport.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/base/kivsettings.h"

namespace enginetest {

namespace fs = std::filesystem;

// One attribute of an object: adduniqobj(key, text) with the configuration
// as its origin unless told.
struct Attr {
  std::string key;
  std::string text;
  kiv::Origin origin = kiv::Origin::config;
};

inline std::unique_ptr<kiv::objlist> objects(const std::vector<Attr>& attrs) {
  auto list = std::make_unique<kiv::objlist>();
  for (const Attr& a : attrs) kiv::adduniqobj(*list, a.key, a.text, a.origin);
  return list;
}

// The attributes of `a`, then those of `b`.
inline std::vector<Attr> operator+(std::vector<Attr> a, const std::vector<Attr>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline std::string value(const kiv::objlist& list, const std::string& name) {
  return kiv::objtext(list, name + ".VALUE");
}

// A shell script written into the home's client/bin and made executable;
// its path is the command.
inline std::string script(const kivtest::TempDir& home, const std::string& name, const std::string& body) {
  const std::string p = home.write("client/bin/" + name, "#!/bin/sh\n" + body);
  ::chmod(p.c_str(), 0755);
  return p;
}

// A fixture whose home folder is a fresh temporary folder, traversable by
// every user (for the runs as "nobody").
class HomeTest : public kivtest::KivTest {
 protected:
  void SetUp() override {
    KivTest::SetUp();
    fs::permissions(home_.path(), fs::perms(0755));
    kiv::reqctx().nvhome = home_.str();
  }
  std::string path(const std::string& relative) const { return home_.str() + "/" + relative; }

  kivtest::TempDir home_;
};

using kivtest::ChildRun;
using kivtest::entries;
using kivtest::in_child;

}  // namespace enginetest
