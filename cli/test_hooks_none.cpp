#include "cli/session.h"

// The shipped tool has no test hooks; a test build links its own definition instead.
void installTestHooks(Session&) {}
