#pragma once

// The descriptor owner moved to BoundedFile.h; this name stays for the readers that still
// include it.
#include "status/BoundedFile.h"
