// Moved to fs/durable.h; kept only until the move and link code includes it
// from there.
#pragma once

#include "fs/durable.h"
