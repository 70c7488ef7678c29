// Terminal detection on Windows.
#include <io.h>

#include "tools/quorin/Commands.h"

namespace QuorinTool {

bool ErrorIsTerminal() { return _isatty(2) != 0; }

}  // namespace QuorinTool
