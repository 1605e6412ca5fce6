// Hook scripts: an installation's own commands, run before and after every
// add and every modification of a case. The four hook objects of tk_obj
// name them (VALUE exactly "ON" switches one on, TITLE is its command line);
// the command gets the record in its environment and may refuse the
// operation from a pre-hook by a non-zero exit status, with its output shown
// to the user.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "data/packet.h"
#include "toolkit/objects/kivobj.h"

namespace kiv {

// The most output of a hook the program reads into memory; the rest is
// drained unread. Far more than the shown part can need.
inline constexpr std::size_t kHookCaptureLimit = 64 * 1024;

// Runs `command` through the shell with this process's safe environment
// (process::safe_environment) plus the record: for each column of the plain
// key row, when the plain data row is given, "<column>=<value>"; for each
// column of the new key row, when the new data row is given,
// "NEW_<column>=<value>". Only columns that are the DBKEY of an object of
// `list` become variables, and never one whose name is not a valid
// environment name, is PATH, or is a loader or shell control
// (process::unsafe_variable). Nothing is set in this process's own
// environment. Standard input reads /dev/null; the engine clock's hook limit
// ends a command that runs too long.
//
// The output shown is made of the command's standard output in pieces of at
// most 1023 bytes (a line, or the part of a longer line): each non-empty
// piece is added while the collected text is shorter than 5120 bytes. A
// status other than 0 shows "%s script failed.\n%s" with the command line
// and that text (both escaped, the output never used as a format).
//
// Gives the exit status; a command ended by a signal or the time limit
// gives 128 plus the signal (never 0); -1 after "Can't open command <%s>\n"
// when it cannot be started.
int do_exec(const objlist& list, const std::string& command, const std::string* newkeys,
            const std::string* newdata, const std::string* keys, const std::string* data);

// The hook points of the case operations.
enum class Hook { pre_add, post_add, pre_modify, post_modify };

// The hook object's name: "tk_pre_add", "tk_post_add", "tk_pre_modify",
// "tk_post_modify".
std::string_view hookname(Hook hook);

// Runs the hook object of `hook` as the case operations do. It is on when
// its VALUE is exactly "ON"; its TITLE is the command, which do_exec runs
// with the new packet's rows and the old packet's rows (either packet may be
// null: add gives only the old one, the record). Only attributes that came
// from the configuration count: one a request or a record set reads as
// absent. On without a TITLE: "No command specified in object <name>\n" and
// the operation goes on. 0 to go on; 1 when a pre-hook's command gave a
// non-zero result, after "submit operation failed\n" (tk_pre_add) or "Modify
// operation failed\n" (tk_pre_modify). A post-hook's result is not judged.
int run_hook(const objlist& list, Hook hook, const packet* newpkt, const packet* oldpkt);

}  // namespace kiv
