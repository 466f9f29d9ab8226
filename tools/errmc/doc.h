// doc.h - the message reference of one or more catalogues, as Markdown or as
// one self-contained HTML page.
#ifndef ERRMC_DOC_H
#define ERRMC_DOC_H

#include "streams.h"
#include "errm_descwriter.h"

#include <string>
#include <vector>

namespace errmc {

enum class DocFormat { Markdown, Html };

// The reference of `cats` (messages sorted by number), in the order given.
// Depends on nothing but the catalogues: the same input gives the same bytes.
std::string GenerateDoc(const std::vector<errmdesc::Catalogue> &cats, DocFormat format);

// errmc doc: reads each input (source or descriptor) and writes the reference
// to outFile (standard output when empty). `format` is "md" or "html".
int DocCommand(const std::vector<std::string> &inputs, const std::string &outFile,
               const std::string &format, Streams io);

} // namespace errmc

#endif
