// The export writer of the interchange file's binary form: the same sections, regions and
// progress counting as the XML form, as fixed-size records grouped in blocks.
#pragma once

#include "capi/QuorinCAPI.h"
#include "interchange/ByteSink.h"
#include "interchange/InterchangeProgress.h"
#include "repository/Repository.h"

namespace Quorin {

// Writes the Repository through `sink`. A section always opens a new block; a block closes
// before a record that would take it past the configured block size (0 means 8192) or past
// 65535 records, so a record larger than a block gets a block of its own. Object blocks hold
// their records, then the class data of all of them, then their template data. Under byte
// order 1 every multi-byte field, and every item of staged member data, is byte-swapped.
// Raises what the sink raises and std::bad_alloc.
void WriteBinaryInterchange(Repository& repository, const TlxExportConfig& config, IByteSink& sink,
                            CInterchangeProgress* progress = nullptr);

}  // namespace Quorin
