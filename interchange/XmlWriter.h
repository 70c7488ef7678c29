// The export writer of the interchange file's XML form: the header, then the sections the
// configuration selects (classes, templates, prototypes, list prototypes, instances, list
// instances, texts, blobs, variables), one element per line, indented by tabs.
#pragma once

#include "capi/QuorinCAPI.h"
#include "interchange/ByteSink.h"
#include "interchange/InterchangeProgress.h"
#include "repository/Repository.h"

namespace Quorin {

// Writes the Repository through `sink`: the sections selected by the configuration's flags, of
// the regions it lists in that order (all regions when it lists none), each section in id order.
// Under byte order 1 ("BigEndian") the ids of the item sections and of namespace elements are
// written byte-swapped. The progress, when given, counts the written elements against the
// Repository's counts and ends at its total. Raises what the sink raises and std::bad_alloc; the
// sink then holds the file as far as it was written.
void WriteXmlInterchange(Repository& repository, const TlxExportConfig& config, IByteSink& sink,
                         CInterchangeProgress* progress = nullptr);

}  // namespace Quorin
