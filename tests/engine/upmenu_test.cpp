// Menus chosen by trigger and dependent-menu scripts. The scripts are also
// run in a real JavaScript engine (node) against a stand-in form, to show
// that they are valid and do what the page expects, for any rows.
#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

#include "engine/upmenu.h"
#include "support/services.h"
#include "support/testsupport.h"
#include "toolkit/objects/kivobjfile.h"

using namespace kiv;

namespace {

class Menus : public kivtest::KivTest {
 protected:
  std::unique_ptr<objlist> list(const std::string& text) { return readkivobj(text); }
};

std::string menu_object(const char* name, const char* value, const char* title = nullptr,
                        const char* type = "MENU") {
  std::string s = std::string("OBJECT{\nNAME=") + name + "\nVALUE=" + value + "\n";
  if (title) s += std::string("TITLE=") + title + "\n";
  if (type) s += std::string("TYPE=") + type + "\n";
  return s + "};\n";
}

std::string node_missing() {
  return access("/usr/bin/node", X_OK) == 0 ? "" : "node is not installed: the generated scripts are not run";
}

// Runs the script's function for each choice in node and gives the option
// texts the form's select shows after each, as node prints them (JSON).
std::string run_in_node(const std::string& script, const std::string& field,
                        const std::vector<std::string>& choices) {
  std::string body = script;
  const std::string open = "<script language=\"JavaScript\">\n", close = " </script>\n";
  EXPECT_TRUE(body.starts_with(open) && body.ends_with(close));
  body = body.substr(open.size(), body.size() - open.size() - close.size());
  std::string js =
      "var document = {images: true};\n"
      "var options = []; for (var k = 0; k < 20; k++) options.push({text: 'old'});\n"
      "var form = {" + field + ": {length: 3, options: options}};\n" + body +
      "\nvar out = [];\n"
      "function run(choice) {\n"
      "  " + field + "_updatemenu({selectedIndex: 0, options: [{text: choice}], form: form});\n"
      "  out.push(form." + field + ".options.slice(0, form." + field + ".length).map(function(o) { return o.text; }));\n"
      "}\n";
  for (const std::string& c : choices) js += "run(" + std::string("'") + c + "');\n";
  js += "console.log(JSON.stringify(out));\n";
  kivtest::TempDir dir;
  std::string path = dir.write("menu.js", js);
  FILE* p = popen(("/usr/bin/node " + path + " 2>&1").c_str(), "r");
  std::string result;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) result.append(buf, n);
  int status = pclose(p);
  EXPECT_EQ(status, 0) << result << "\n" << js;
  return result;
}

}  // namespace

TEST_F(Menus, TriggerPicksTheRowAfterItsOddRow) {
  struct Case {
    const char* value;
    const char* trigger;
    const char* picked;  // nullptr: the value becomes absent
  } cases[] = {
      {"office^$Low^@High^$lab^$Urgent^$", "lab", "Urgent^$"},
      {"office^$Low^@High^$lab^$Urgent^$", "office", "Low^@High^$"},
      {"office^$Low^@High^$lab^$Urgent^$", "garage", "Low^@High^$"},
      {"office^$Low^@High^$lab^$Urgent^$", "Low", "Low^@High^$"},  // even rows are no triggers
      {"lab^@more^$A^$", "lab", "A^$"},                            // column 1 is compared
      {"Low^@High^$", "Low", "Low^@High^$"},                       // one row: unchanged
      {"a^$b^$lab^$", "lab", nullptr},                             // no row after the match
  };
  for (const Case& c : cases) {
    auto l = list(menu_object("prio", c.value, c.value));
    build_menu(*l, c.trigger);
    auto expect = c.picked ? std::optional<std::string>(c.picked) : std::nullopt;
    EXPECT_EQ(getvalfromlist(*l, "prio.VALUE"), expect) << c.value << " / " << c.trigger;
    EXPECT_EQ(getvalfromlist(*l, "prio.TITLE"), expect) << c.value << " / " << c.trigger;
  }
}

TEST_F(Menus, OnlyMenuObjectsAreChanged) {
  auto l = list(menu_object("plain", "a^$b^$", nullptr, "TEXT") + menu_object("notype", "a^$b^$", nullptr, nullptr) +
                // the TYPE is looked up by name: a namesake's MENU counts
                menu_object("split", "a^$b^$", nullptr, nullptr) + menu_object("split", "c^$d^$"));
  build_menu(*l, "x");
  EXPECT_EQ(getvalfromlist(*l, "plain.VALUE"), "a^$b^$");
  EXPECT_EQ(getvalfromlist(*l, "notype.VALUE"), "a^$b^$");
  EXPECT_EQ((*l)[3].value(), "b^$");
  EXPECT_EQ((*l)[4].value(), "d^$");
}

TEST_F(Menus, DependentMenuScript) {
  auto l = list(menu_object("dynamic-menu_part", "Hardware^@Disk^@Screen^$Software^@Office^$", nullptr, nullptr));
  EXPECT_EQ(dynamic_menu(*l), 0);
  EXPECT_EQ(getvalfromlist(*l, "dynamic-menu_part.TITLE"),
            "<script language=\"JavaScript\">\n <!--\n function part_updatemenu(item) {\n if (document.images) {\n"
            "menu = new Object();\nsel = item.selectedIndex;\n choice=item.options[sel].text;\n "
            "menu.sub1 = new Array(\"Disk\",\"Screen\");\n"
            "menu.sub2 = new Array(\"Office\");\n"
            "if(choice == \"Hardware\"){\n act=menu.sub1\n"
            "}else if(choice == \"Software\"){\n act=menu.sub2\n"
            "} else {\n act = new Array();\n }\n"
            "item.form.part.length = act.length;\n"
            "for(i=0;i<act.length;i++)\n item.form.part.options[i].text = act[i];\n"
            " } else {\n alert(\"Your browser does not allow to use this form. Get a newer browser.\");\n }\n }\n"
            " // -->\n </script>\n");
}

struct ScriptCase {
  const char* rows;
  std::vector<std::string> choices;
  const char* shown;
};
const ScriptCase kScriptCases[] = {
    {"Hardware^@Disk^@Screen^$Software^@Office^$", {"Hardware", "Software", "Other"},
     "[[\"Disk\",\"Screen\"],[\"Office\"],[]]"},
    // a row without a choice, a row whose last item is empty, an item
    // beginning with a blank before the last
    {"^^^@lost^$Net^@Cable^@^^^$Disk^@ spare^@Main^$", {"Net", "Disk", ""},
     "[[\"Cable\"],[\"\",\"Main\"],[]]"},
    {"", {"Net"}, "[[]]"},
    {"Only^$", {"Only"}, "[[]]"},
    // texts that would end the string or the script element
    {"a\"b^@</script><script>alert(1)</script>^@x\\'y^$", {"a\"b"},
     "[[\"</script><script>alert(1)</script>\",\"x\\\\'y\"]]"},
};

TEST_F(Menus, ScriptsCloseTheirElementOnlyAtTheEnd) {
  for (const ScriptCase& c : kScriptCases) {
    std::string script = dynamic_menu_script("part", c.rows);
    EXPECT_EQ(script.find("</script>"), script.size() - 10) << c.rows;
  }
}

TEST_F(Menus, ScriptsRunForEveryShapeOfRows) {
  KIV_NEED_SERVICE(node_missing());
  for (const ScriptCase& c : kScriptCases)
    EXPECT_EQ(run_in_node(dynamic_menu_script("part", c.rows), "part", c.choices), std::string(c.shown) + "\n")
        << c.rows;
}

TEST_F(Menus, FieldsThatNoScriptCanAddressAreSkipped) {
  auto l = list(menu_object("dynamic-menu_sub-cat", "a^@b^$", "kept", nullptr) +
                menu_object("dynamic-menu", "a^@b^$", "kept", nullptr) +
                menu_object("dynamic-menu_", "a^@b^$", "kept", nullptr) +
                menu_object("dynamic-me_x1", "a^@b^$", nullptr, nullptr));
  dynamic_menu(*l);
  EXPECT_EQ((*l)[1].attr(attr::TITLE), "kept");
  EXPECT_EQ((*l)[2].attr(attr::TITLE), "kept");
  EXPECT_EQ((*l)[3].attr(attr::TITLE), "kept");
  EXPECT_NE((*l)[4].attr(attr::TITLE).find("function x1_updatemenu"), std::string::npos);
}
