// Mail delivery by Simple MAPI: the steps of one MAPI mail over the library
// that platform/mapi.h loads. A session holds the loaded library, the MAPI
// session and the message record with the texts it points to, for one mail.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/mapi.h"

namespace kiv {

struct MapiSession {
  MapiLibrary lib;
  MapiLhandle session = 0;
  bool logged_on = false;
  MapiMessage message;
  MapiRecipDesc originator;
  std::vector<MapiRecipDesc> recips;
  // The texts the message record points to; they live as long as the session.
  std::string date, originator_name, subject, note;
  std::vector<std::string> recip_names;
};

// Resets the message record: reserved 0, no message type, the received date
// "1991/03/23 12:00", the flag MAPI_UNREAD, an originator of class MAPI_ORIG
// named "ONE" with no address, no recipients and no files.
void mapi_initmessage(MapiSession& s);

// Loads the library (mapi_load), resets the message record and logs on with
// the profile and password (MAPI_LOGON_UI, no window). 0 on success; the
// load's code (2, 4) when the library does not load, with nothing loaded
// then; else MAPILogon's result, with the library unloaded again.
int mapi_logon(MapiSession& s, std::string_view profile, std::string_view password);

// Sends the message to every recipient (class MAPI_TO, the name set to the
// recipient, no address), with the subject and the body as its note text.
// MAPISendMail's result; 0 sent.
int mapi_sendmail(MapiSession& s, const std::vector<std::string>& recipients, std::string_view subject,
                  std::string_view body);

// Logs off (when logged on) and unloads the library. MAPILogoff's result (0
// when there was no session).
int mapi_logoff(MapiSession& s);

}  // namespace kiv
