// The Simple MAPI steps of one mail: log on, send, log off.
#include "data/mapisendmail.h"

namespace kiv {

void mapi_initmessage(MapiSession& s) {
  s.date = "1991/03/23 12:00";
  s.originator_name = "ONE";
  s.originator = MapiRecipDesc{};
  s.originator.ulRecipClass = MAPI_ORIG;
  s.originator.lpszName = s.originator_name.data();
  s.recips.clear();
  s.recip_names.clear();
  s.message = MapiMessage{};
  s.message.lpszDateReceived = s.date.data();
  s.message.flFlags = MAPI_UNREAD;
  s.message.lpOriginator = &s.originator;
}

int mapi_logon(MapiSession& s, std::string_view profile, std::string_view password) {
  if (int rc = mapi_load(s.lib); rc != 0) return rc;
  mapi_initmessage(s);
  std::string p(profile), w(password);
  MapiLhandle session = 0;
  MapiUlong rc = s.lib.logon(0, p.data(), w.data(), MAPI_LOGON_UI, 0, &session);
  if (rc != SUCCESS_SUCCESS) {
    mapi_unload(s.lib);
    return static_cast<int>(rc);
  }
  s.session = session;
  s.logged_on = true;
  return 0;
}

int mapi_sendmail(MapiSession& s, const std::vector<std::string>& recipients, std::string_view subject,
                  std::string_view body) {
  if (!s.logged_on || !s.lib.sendmail) return -1;
  s.recip_names = recipients;
  s.recips.assign(s.recip_names.size(), MapiRecipDesc{});
  for (size_t i = 0; i < s.recip_names.size(); ++i) {
    s.recips[i].ulRecipClass = MAPI_TO;
    s.recips[i].lpszName = s.recip_names[i].data();
  }
  s.subject = subject;
  s.note = body;
  s.message.lpszSubject = s.subject.data();
  s.message.lpszNoteText = s.note.data();
  s.message.nRecipCount = static_cast<MapiUlong>(s.recips.size());
  s.message.lpRecips = s.recips.empty() ? nullptr : s.recips.data();
  return static_cast<int>(s.lib.sendmail(s.session, 0, &s.message, 0, 0));
}

int mapi_logoff(MapiSession& s) {
  int rc = 0;
  if (s.logged_on && s.lib.logoff) rc = static_cast<int>(s.lib.logoff(s.session, 0, 0, 0));
  s.logged_on = false;
  s.session = 0;
  mapi_unload(s.lib);
  return rc;
}

}  // namespace kiv
