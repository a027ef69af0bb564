#include <unistd.h>

#include "cli/progress_line.h"

namespace kestrune {

bool stderr_redraws_in_place() { return isatty(STDERR_FILENO) == 1; }

}  // namespace kestrune
