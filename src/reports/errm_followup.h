// errm_followup.h - a message's follow-up actions: copying a file onto the
// reports, and running a command whose output is copied onto the reports.
#ifndef ERRM_FOLLOWUP_H
#define ERRM_FOLLOWUP_H

// Copies a file onto the current entry's channels between "-- cat" and
// "-- EOF" lines, in pieces of at most 1024 characters. name is a writable
// buffer of ERRM_NAME_CAP bytes, replaced by the name actually used. 1 done,
// 0 failure.
int errm_CatFile(char *name);

// The entry's "FILE=" action and its "CMD=" action.
void errm_CatMessageFile();
void errm_RunMessageCommand();

#endif
