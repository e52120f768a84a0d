#pragma once

// Kept for callers that include the one-call face from here; it lives in face/.
#include "face/Minimize.h"
