#pragma once

// Kept for callers that include the batch face from here; it lives in face/.
#include "face/MinimizeMany.h"
