#pragma once

// The saturating conversions and 16.16 helpers live in base/, below every
// layer; this name stays for the engine files that include it.
#include "base/Numeric.h"
