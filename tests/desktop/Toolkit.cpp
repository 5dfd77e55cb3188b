// The desktop tests start GTK: the sanitizers leave the toolkit's own
// doings to it.
#include "tests/support/ToolkitSanitizers.h"
