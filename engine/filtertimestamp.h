// Mail copies of the logged fields without their stamps: problem and
// resolution grow by contributions that each end with a stamp line
// ("\n[-status- date time - user - action-]"); the copy for the mail puts a
// short header naming the writer in place of each stamp, as a quoted mail
// thread does.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "toolkit/objects/kivobj.h"

namespace kiv {

// The user of a stamp's text (what lies between its brackets): the word after
// "AM - " (else "PM - ") up to the next blank, "You" when that word is empty;
// none when the text holds neither.
std::optional<std::string> getfilteruser(std::string_view stamp);

// For problem and resolution: the object F_nostamp (NAME and DBKEY its name,
// so that it travels in the packet) gets the field's text with each
// contribution headed by "\n\n<user> wrote:\n" when its stamp names the
// submitter (submitted_by, else the request's login), or "\n\nTiklo
// wrote:\n\n" for anyone else; contributions are the texts before each stamp.
// A bracketed line that is not a stamp (no "AM - " or "PM - ", or no "]" on
// its line) is the writer's own text and stays in the copy. Text after the
// last stamp is not copied. A field without a value leaves an existing copy
// without one. Copies are marked as records.
void filtertimestamp(objlist& list);

}  // namespace kiv
