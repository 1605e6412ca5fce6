// Command start-up: the home folder, search path and trace switch of a
// command, the loading of its case objects (tk_obj) with the process-wide
// settings they configure, and the date and time texts those settings govern.
#pragma once

#include <ctime>
#include <memory>
#include <string>

#include "toolkit/objects/kivobj.h"

namespace kiv {

// The object list holder of a command: empty until loadobj fills it.
using objholder = std::unique_ptr<objlist>;

// Turns the trace on when the process inherited KIVDEBUG (whatever its
// value), fixes the home folder and the search path (set_prog_path), and
// gives an empty holder. Called first by every command.
objholder get_prog_param();

// The home folder into the request context: the one the program found
// already, else NVHOME as inherited, else "c:/tiklo" for the Windows
// programs and "/usr/local/norvale" for the Linux ones; and the search path
// (PATH, published): the installation's program folders in front of the
// inherited one. 0.
int set_prog_path();

// Loads <home>/client/config/tk_obj into the holder (none when it cannot be
// read, after the loader's message), picks the menus of the request's
// MENUTRIG, builds the dependent-menu scripts, sets every command setting
// from its object or its default, resets the per-operation query settings
// and publishes TODAY, TIME and TIME24 from the request context. 0.
int loadobj(objholder& holder);

// Date and time texts of a moment, in local time and always in the C
// locale's words (AM/PM). Without an argument: now.
// getdate1: "%d/%m/%Y" when the date format is "dmy", else "%m/%d/%Y".
std::string getdate1(std::time_t t);
std::string getdate1();
// gettime2: "%I:%M:%S %p" (stamp lines).
std::string gettime2(std::time_t t);
std::string gettime2();
// gettime3: "%I:%M %p" (TIME, time_assigned).
std::string gettime3(std::time_t t);
std::string gettime3();
// gettime4: "%H:%M" (TIME24).
std::string gettime4(std::time_t t);
std::string gettime4();

}  // namespace kiv
