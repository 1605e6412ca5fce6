// A recording Simple MAPI library for the tests: it exports the entry points
// the MAPI layer looks up, writes every call it receives (with the whole
// message record of a send) to the file FAKEMAPI_LOG names, and answers with
// the results FAKEMAPI_LOGON, FAKEMAPI_SEND and FAKEMAPI_LOGOFF give (0 when
// unset). Built with FAKEMAPI_INCOMPLETE it lacks MAPIResolveName. Loading
// and unloading are recorded too.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/mapi.h"

using kiv::MapiFlags;
using kiv::MapiLhandle;
using kiv::MapiMessage;
using kiv::MapiRecipDesc;
using kiv::MapiUlong;

namespace {

void record(const std::string& line) {
  const char* path = std::getenv("FAKEMAPI_LOG");
  if (!path) return;
  if (std::FILE* f = std::fopen(path, "a")) {
    std::fputs(line.c_str(), f);
    std::fputc('\n', f);
    std::fclose(f);
  }
}

MapiUlong answer(const char* name) {
  const char* v = std::getenv(name);
  return v ? static_cast<MapiUlong>(std::strtoul(v, nullptr, 10)) : 0;
}

std::string text(const char* s) { return s ? std::string("'") + s + "'" : "(null)"; }

std::string recipient(const MapiRecipDesc* r) {
  if (!r) return "(null)";
  return "class=" + std::to_string(r->ulRecipClass) + " name=" + text(r->lpszName) +
         " address=" + text(r->lpszAddress) + " reserved=" + std::to_string(r->ulReserved) +
         " eid=" + std::to_string(r->ulEIDSize);
}

__attribute__((constructor)) void loaded() { record("loaded"); }
__attribute__((destructor)) void unloaded() { record("unloaded"); }

}  // namespace

extern "C" {

MapiUlong MAPILogon(MapiUlong ui, char* profile, char* password, MapiFlags flags, MapiUlong reserved,
                    MapiLhandle* session) {
  record("MAPILogon ui=" + std::to_string(ui) + " profile=" + text(profile) + " password=" + text(password) +
         " flags=" + std::to_string(flags) + " reserved=" + std::to_string(reserved));
  MapiUlong rc = answer("FAKEMAPI_LOGON");
  if (rc == 0 && session) *session = 4711;
  return rc;
}

MapiUlong MAPILogoff(MapiLhandle session, MapiUlong ui, MapiFlags flags, MapiUlong reserved) {
  record("MAPILogoff session=" + std::to_string(session) + " ui=" + std::to_string(ui) +
         " flags=" + std::to_string(flags) + " reserved=" + std::to_string(reserved));
  return answer("FAKEMAPI_LOGOFF");
}

MapiUlong MAPISendMail(MapiLhandle session, MapiUlong ui, MapiMessage* m, MapiFlags flags, MapiUlong reserved) {
  record("MAPISendMail session=" + std::to_string(session) + " ui=" + std::to_string(ui) +
         " flags=" + std::to_string(flags) + " reserved=" + std::to_string(reserved));
  if (m) {
    record(" message reserved=" + std::to_string(m->ulReserved) + " type=" + text(m->lpszMessageType) +
           " date=" + text(m->lpszDateReceived) + " conversation=" + text(m->lpszConversationID) +
           " flags=" + std::to_string(m->flFlags) + " files=" + std::to_string(m->nFileCount) +
           (m->lpFiles ? " filelist" : ""));
    record(" subject=" + text(m->lpszSubject));
    record(" note=" + text(m->lpszNoteText));
    record(" originator " + recipient(m->lpOriginator));
    record(" recipients=" + std::to_string(m->nRecipCount));
    for (MapiUlong i = 0; i < m->nRecipCount; ++i) record(" recipient " + recipient(&m->lpRecips[i]));
  }
  return answer("FAKEMAPI_SEND");
}

// The entry points this system never calls; present so that the library
// loads as a whole.
MapiUlong MAPISendDocuments() { return 0; }
MapiUlong MAPIFindNext() { return 0; }
MapiUlong MAPIReadMail() { return 0; }
MapiUlong MAPISaveMail() { return 0; }
MapiUlong MAPIDeleteMail() { return 0; }
MapiUlong MAPIFreeBuffer() { return 0; }
MapiUlong MAPIAddress() { return 0; }
MapiUlong MAPIDetails() { return 0; }
#ifndef FAKEMAPI_INCOMPLETE
MapiUlong MAPIResolveName() { return 0; }
#endif

}  // extern "C"
