// errm_decode.h - between the entry cache and entry decoding: the one call
// that decodes a record into the entry the cache hands over.
#ifndef ERRM_DECODE_H
#define ERRM_DECODE_H

#include "descriptor/errm_desc.h"

// Decodes the record of number in loaded subsystem row `subsystem` into
// entry and takes the row's context: 0, or the reported code of the failure
// (entry is then partly written).
int errm_DecodeEntry(int subsystem, int number, errm_MessageEntry &entry);

#endif
