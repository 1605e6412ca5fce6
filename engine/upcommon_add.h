// Adding a case: the add with its checks, hooks and mail, and the plain add
// that stores a record of any table without the help-desk rules.
#pragma once

#include "toolkit/objects/kivobj.h"

namespace kiv {

// A new case, in this order: primary_func and the connection objects (-1);
// pre_add (-1 after "Pre submit failed\n"); a first packet (obj2db); the
// tk_pre_add hook with that packet as the record (1 when it refuses); the
// case number into case_num.VALUE; auto_match; attach_files; the second
// packet, now with the number, matches and attachment fields; handle_add (1
// after "submit operation failed\n"); the tk_post_add hook with the second
// packet (its result not judged); post_add; your_case_num.VALUE := the
// number; nvsend_mail. 0 added. The pre-add hook sees case_num as the form
// sent it; a refusal after the number was drawn leaves the counter advanced
// and stored attachments in place, but the table as it was.
int add(objlist& list);

// The checks and defaults of a new case: slackvar (when slackvar.VALUE is
// set); enforce and blankform (-1 when either refuses); the status (empty:
// the open state; holding the open state's text anywhere: exactly the open
// state; else as submitted); the problem's stamp and fieldstamp;
// tk_autoassign and addclosedate (their results not looked at). 0 to go on.
int pre_add(objlist& list);

// The hook point after an add. 0.
int post_add(objlist& list);

// Stores a record of any table without the help-desk rules: enforce and
// blankform (-1), the connection objects (-1), fieldstamp, auto_match, the
// attachments (attach_files with kAttachNewFolder: the record's case number
// is the form's own), the packet (obj2db), primary_func, handle_add (1
// after "submit operation failed\n"). No case number, hooks or mail. 0
// stored.
int gadd(objlist& list);

}  // namespace kiv
