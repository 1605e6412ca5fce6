// Simple MAPI, loaded at run time. The Windows mail system offers its Simple
// MAPI calls in a library that is loaded by name when a mail goes out; Linux
// has none, so this layer loads the library named by KIV_MAPI_LIBRARY (default
// "MAPI32.DLL", which fails to load here, so MAPI mail fails honestly) with
// dlopen and finds the twelve entry points by name. Tests load a recording
// library of their own that exports the same names.
#pragma once

#include <cstdint>
#include <string>

namespace kiv {

// The Simple MAPI types, as the library's callers and the library share them.
using MapiUlong = std::uint32_t;
using MapiFlags = MapiUlong;
using MapiLhandle = std::uintptr_t;

// Recipient classes, flags and the success result.
inline constexpr MapiUlong MAPI_ORIG = 0;
inline constexpr MapiUlong MAPI_TO = 1;
inline constexpr MapiUlong MAPI_CC = 2;
inline constexpr MapiUlong MAPI_BCC = 3;
inline constexpr MapiFlags MAPI_LOGON_UI = 0x00000001;
inline constexpr MapiFlags MAPI_UNREAD = 0x00000001;
inline constexpr MapiUlong SUCCESS_SUCCESS = 0;

struct MapiRecipDesc {
  MapiUlong ulReserved = 0;
  MapiUlong ulRecipClass = 0;
  char* lpszName = nullptr;
  char* lpszAddress = nullptr;
  MapiUlong ulEIDSize = 0;
  void* lpEntryID = nullptr;
};

struct MapiFileDesc {
  MapiUlong ulReserved = 0;
  MapiFlags flFlags = 0;
  MapiUlong nPosition = 0;
  char* lpszPathName = nullptr;
  char* lpszFileName = nullptr;
  void* lpFileType = nullptr;
};

struct MapiMessage {
  MapiUlong ulReserved = 0;
  char* lpszSubject = nullptr;
  char* lpszNoteText = nullptr;
  char* lpszMessageType = nullptr;
  char* lpszDateReceived = nullptr;
  char* lpszConversationID = nullptr;
  MapiFlags flFlags = 0;
  MapiRecipDesc* lpOriginator = nullptr;
  MapiUlong nRecipCount = 0;
  MapiRecipDesc* lpRecips = nullptr;
  MapiUlong nFileCount = 0;
  MapiFileDesc* lpFiles = nullptr;
};

// The entry points this system calls.
using MapiLogonFn = MapiUlong (*)(MapiUlong ui_param, char* profile, char* password, MapiFlags flags,
                                  MapiUlong reserved, MapiLhandle* session);
using MapiLogoffFn = MapiUlong (*)(MapiLhandle session, MapiUlong ui_param, MapiFlags flags, MapiUlong reserved);
using MapiSendMailFn = MapiUlong (*)(MapiLhandle session, MapiUlong ui_param, MapiMessage* message,
                                     MapiFlags flags, MapiUlong reserved);

// A loaded library with its entry points. It is unloaded (mapi_unload) when
// it goes, so no path leaves it loaded.
class MapiLibrary {
 public:
  MapiLibrary() = default;
  MapiLibrary(const MapiLibrary&) = delete;
  MapiLibrary& operator=(const MapiLibrary&) = delete;
  ~MapiLibrary();

  bool loaded() const { return handle_ != nullptr; }
  MapiLogonFn logon = nullptr;
  MapiLogoffFn logoff = nullptr;
  MapiSendMailFn sendmail = nullptr;

 private:
  friend int mapi_load(MapiLibrary& lib);
  friend void mapi_unload(MapiLibrary& lib);
  void* handle_ = nullptr;
};

// The name of the library: KIV_MAPI_LIBRARY, else "MAPI32.DLL".
std::string mapi_library_name();

// Loads the library and finds, in this order, "MAPILogon", "MAPILogoff",
// "MAPISendMail", "MAPISendDocuments", "MAPIFindNext", "MAPIReadMail",
// "MAPISaveMail", "MAPIDeleteMail", "MAPIFreeBuffer", "MAPIAddress",
// "MAPIDetails" and "MAPIResolveName". 0 when all are there; 2 when the
// library does not load; 4 when an entry point is missing (the library is
// unloaded again then). A library already loaded is unloaded first.
int mapi_load(MapiLibrary& lib);

// Forgets the entry points and frees the library; nothing when none is loaded.
void mapi_unload(MapiLibrary& lib);

}  // namespace kiv
