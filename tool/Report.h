#pragma once

// Kept for callers that include the run report from here; it lives in render/.
#include "render/Report.h"
