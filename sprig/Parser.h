// The Sprig parser: one left-to-right pass in which a character-class tokenizer cuts the text
// into tokens and each token is inserted into the growing tree by operator priority, with a
// stack of bracket groups and a stack of function blocks. Linear in the text's length.
#pragma once

#include "foundation/string/String.h"
#include "sprig/Node.h"

namespace Quorin::Sprig {

// Parses `text` (any encoding; positions count characters) into a tree, empty for an empty
// expression. A text that is empty, blank or starts with `#` is the constant true. Strict mode
// raises CSprigException at the first syntax error and frees the partial tree; lenient mode
// drops what is wrong and goes on. Raises std::bad_alloc in both.
CNodeHolder Parse(const Bravik::IString& text, bool lenient);

}  // namespace Quorin::Sprig
