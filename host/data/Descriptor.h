#pragma once

#include "host/framework/String.h"

// Descriptor strings name headers and parameters. Their fields are separated by
// '|': a leading number, the name (which may carry "{\sub ...}" mark-up),
// further display names and, in the long form, a trailing unit type:
//   "0|m_ErrorHistory|m_ErrorHistory|m_ErrorHistory|m_ErrorHistory|MA_NULL"
//   "0|x{\sub 0}"
//   "0|Check Gradient"

// The name: the field after the leading number. A descriptor without a
// numeric first field, or with a single field, names itself by its first field.
CString VRNDescriptorName(const char* descriptor);

// The unit type: the last field of a descriptor with more than two fields,
// otherwise empty.
CString VRNDescriptorUnit(const char* descriptor);
