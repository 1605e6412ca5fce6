// tagwriter: prints bar-code labels on a label printer on a serial port.
// It reads a label format file that places the label's elements, sends one
// label format with the bar code, the label text and an optional logo image,
// asks for the number of copies, and ends.
#pragma once

#include <array>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

class SerialPort;

// A logo image placed on the label.
struct LabelLogo {
  std::array<int, 4> f{};  // orientation, font and placement as the printer reads them
  std::string path;        // the image file as the format file names it
  char format = 0;         // the image's format letter for the download; 0 when not given
};

// The settings of a label format file. All zero (heat 0, offset 0, no
// element) when no file was read.
struct LabelFormat {
  int heat = 0;
  int offset = 0;
  std::optional<std::array<int, 5>> label;
  std::optional<std::array<int, 4>> line;
  std::optional<std::array<int, 5>> barcode;
  std::optional<std::array<int, 5>> ascii_bc;
  std::optional<LabelLogo> logo;  // only with a non-empty image path
};

// What the command line asks for.
struct LabelJob {
  std::optional<std::string> config;  // -f
  std::string label;                  // -l
  int quantity = 1;                   // -q
  std::string barcode;                // -b
  std::string device;                 // -d
};

// The value of `key` in a label format file, read from the start of the file:
// the first line holding the key (compared without regard to case) counts,
// and it must give the value after "="; none otherwise.
std::optional<std::string> getconfigvalue(std::string_view key, std::FILE* file);

// Reads a label format file. One that cannot be opened prints "Cannot open
// config file %s!!!\n" on standard output and gives no settings.
LabelFormat readlabelformat(const std::string& path);

// The home tagwriter starts with when NVHOME names none.
inline constexpr std::string_view kTagwriterHome = "/usr/local/norvale";

// The image file of a logo: a path without a leading "/" lies under
// "<home>/client/config/", the home being the one the program started with
// (reqctx().nvhome: NVHOME, else kTagwriterHome).
std::string logofile(const LabelLogo& logo);

// The image's name in the printer commands: the path after its last "/",
// cut to eight characters.
std::string logoname(const LabelLogo& logo);

// Turns every control byte into a blank, so that label and bar-code texts
// cannot end a printer command or start one.
void blankcontrols(std::string& text);

// The printer commands of the label itself (everything after the logo
// download), each with its "\r".
std::vector<std::string> labelcommands(const LabelFormat& format, const LabelJob& job);

// Writes `text` to the port as one write; an empty text writes nothing. A
// failed write prints "GetOverlappedResult failed" with the system error and
// gives false.
bool sendcommand(SerialPort& port, std::string_view text);

// Opens the port, sends the label, closes the port and ends the process:
// status 0 after a label, 1 when the port cannot be opened or the logo image
// cannot be read (then nothing is sent), or when a write to the port failed.
[[noreturn]] void printlabel(const LabelJob& job, const LabelFormat& format);

// The program: the home (start_home), the command line, the format file, the
// label. Gives the exit status.
int tagwriter_main(int argc, const char* const argv[]);

}  // namespace kiv
