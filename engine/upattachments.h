// Case attachments: files uploaded and texts typed into the attachment fields
// of a form are kept in a folder per case under the configured root
// (attachdir.VALUE), four files per attachment number N and file name F:
// "attach<N>_<F>" (the attachment), "attachsize<N>_<F>" ("%d bytes"),
// "attachuser<N>_<F>" (who stored it) and "attachdesc<N>_<F>" (its
// description). A shown case lists its folder into attachmentresult.VALUE;
// the delete command removes one attachment.
#pragma once

#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "toolkit/objects/kivobj.h"

namespace kiv {

// The kind of a field by its NAME: 0 no attachment field (not beginning with
// "attach"); 2 "attachdesc...", 3 "attachsize...", 4 "attachuser..."; 1 any
// other name beginning with "attach" whose last character is a digit (the
// attachment itself); 0 any other name beginning with "attach".
int itisattachfield(std::string_view name);

// The number of a field name: all its decimal digits taken together, read as
// one number; -1 when that is below 1 or beyond the int range.
int attachmentnumber(std::string_view name);

// The folder name of a case's attachments: the case number (blanks at its
// ends cut, inner runs folded) up to its last "." (sub-cases 1234.1 and
// 1234.2 share folder 1234), with every "/" and "\" written as "-" (a case
// number drawn from a date picture holds "/"). None when the result is not
// a plain name: empty, ".", "..", or holding ".." or a control character.
std::optional<std::string> attachfolder_name(std::string_view case_num);

// The case part of an attachment text (the folder name as the listing gives
// it in attach<N>.VALUE), checked as a folder name: "/" and "\" written as
// "-", not cut again at its last "." (a folder name may hold one). None when
// it is not a plain name.
std::optional<std::string> attachfolder_part(std::string_view part);

// The file name F of attachment field `field`: <field>filename.VALUE, which
// the upload step fills with the client's file name, made safe by `trans`
// (its last path part, unsafe characters as "_"); "data.html" when there is
// none or the result is still not a plain name.
std::string atattchfilename(std::string_view field, const objlist& list);

// The highest N among the folder's "attach<N>_" files (kind 1 before the
// first "_"); 0 when there is none. -1 for an empty path or a missing
// folder, and after "Can't open dir='%s' errno=%d. \n" for one that cannot
// be read.
int attachmentmaxnumber(const std::string& folder);

// Deletes every entry whose name before its first "_" is exactly "attach<N>",
// "attachdesc<N>", "attachsize<N>" or "attachuser<N>". 0, or 1 when the
// folder cannot be read.
int removeattachfile(const std::string& folder, int n);

// Stores one attachment at `path`, created new (never over an existing file
// or through a link; read-only in the Linux flavour). A value that names a
// file the upload step saved in this request is copied there; once the copy
// is whole and synced, the upload is taken from the request's saved set and
// deleted. Any other value is typed text: written framed and escaped by
// writebreakbufline, and a file it might name is left alone.
// The bytes stored (the file's size, or the text's length); -1 after "Bad
// attachment file name\n" for an empty path, -1 for an empty value, and -1
// after "Can't open %s file for writing errno=%d\n" when the attachment
// cannot be written whole (nothing is left at `path` then).
long long buf2filename(const objlist& list, const std::string& path, std::string_view value);

// Writes a typed-in attachment text: attachhead.VALUE and a line feed (when
// set), the text HTML-escaped with its line ends as breaks (the line-break
// switch goes on for the rest of the request), a line feed and
// attachtail.VALUE (when set). 0.
int writebreakbufline(const objlist& list, std::string_view text, std::FILE* file);

// The modification time of the file in seconds; 0 when it cannot be read.
std::time_t getmodtime(const std::string& path);

// The most attachments one request stores unless attachment_max_per_request
// says otherwise.
inline constexpr int kAttachMaxPerRequest = 20;

// Ends the process with status 0 after "Too many attachments in one
// request\n" and "Maximum number of attachments is %d" when attachments are
// on (attach_control.VALUE "ON") and more attachment fields (kind 1) have a
// VALUE than attachment_max_per_request.VALUE allows (a whole number above
// 0; kAttachMaxPerRequest without one). The operations that store
// attachments call it before their first step (a hook, a case number, an
// assignment), so that a refused request changes nothing; attach_files
// calls it too.
void hold_attachment_limit(const objlist& list);

// Stores every attachment field (kind 1) that has a VALUE, in list order, in
// the case's folder under attachdir.VALUE, numbered after the highest number
// there, with its size, user (the login, or "Unknown") and description
// (attachdesc<K>.VALUE, K the field's own number) files. The folder is made
// with the first attachment and locked (flock on the folder) from its
// numbering to the last file written, so that concurrent requests never
// share a number; a folder made for nothing is removed again.
// A request with more such fields than hold_attachment_limit allows stores
// none: the process ends there, before any file or folder is made.
// 0 when done or attachments are off (attach_control.VALUE not "ON"); 1 when
// the case number or attachdir is missing, and after "Bad attachment file
// name\n" for a case number that gives no plain folder name. Ends the process
// with status -1 after "Fatel Error:Can't append to attachments\n" when the
// folder cannot be made, locked or read.
//
// `into` says which folder the attachments may go to. kAttachCaseFolder (the
// case operations, the plain modify): the case's folder, made or as it
// stands, since a case's folder grows over its life and sub-cases share
// their parent's. kAttachNewFolder (the plain add): only a folder this call
// makes. A plain add draws no case number, so its case number is the form's
// own; a folder that is there already belongs to another record, and is
// left as it is: "Bad attachment file name\n", nothing stored, 1.
inline constexpr int kAttachNewFolder = 0;
inline constexpr int kAttachCaseFolder = 1;
int attach_files(objlist& list, int into = kAttachCaseFolder);

// Lists the case's attachments (case_num.VALUE) into attachmentresult.VALUE.
// 0 listed (or the folder is missing: the table is then its header row);
// 1 attachments off or not defined, no case number, or a case number that
// gives no plain folder name (the table is then its header row); -1 after
// "Error: attachdir is not defined in the object file. Illogical
// condition." when attachdir.VALUE is empty.
int addattachdata(objlist& list);

// Deletes one attachment named by the text "<case folder>/attach<N>_<F>"
// (as attach<N>.VALUE of a listing gives it): its four files in
// <attachdir>/<case folder>; the folder stays. 0. Ends the process with
// status 0 without deleting anything when attachdir.VALUE is empty, and
// after "delete_attachment_num is in a wrong format\n" (no "/", or a case
// part that is no plain folder name) or "delete_attachment_num is in a wrong
// format. exiting.\n" (no "_", a number below 1, or a file part that is no
// plain name).
int delete_attachment(const objlist& list, std::string_view text);

// Lists `folder` into attachment objects and builds attachmentresult.VALUE
// from them (the table starts as its header row): for each "attach<N>_<F>"
// file, attach<N>.VALUE = "<casepart>/<file name>" and
// attach<N>modtime.VALUE = its modification time as ctime text; for each
// "attachdesc", "attachsize" or "attachuser" file, the object named by the
// part before its first "_" gets the file's whole content. 0; 1 when the
// folder is missing, and after "Can't open dir='%s' errno=%d. \n" when it
// cannot be read.
int addattachfiles(objlist& list, const std::string& folder, std::string_view casepart);

// attachmentresult.VALUE := the table of the attachment objects: the header
// row of the ten column names, then one row per attachment number N that
// attach<N>.VALUE holds, in ascending order, with the TITLEs of attach<N>,
// attach<N>modtime, attachuser<N>, attachdesc<N> and attachsize<N> from the
// case's list, each followed by that object's VALUE from `attachments`; an
// empty one is "^^". The result of setting it.
int createattachmenttable(objlist& list, const objlist& attachments);

// attachmentresult.VALUE := the header row alone. The result of setting it.
int createattachmentblanktable(objlist& list);

}  // namespace kiv
