// Terminal detection on POSIX.
#include <unistd.h>

#include "tools/quorin/Commands.h"

namespace QuorinTool {

bool ErrorIsTerminal() { return isatty(STDERR_FILENO) != 0; }

}  // namespace QuorinTool
