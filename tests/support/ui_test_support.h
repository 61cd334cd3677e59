#pragma once

// GDI+ for the window and font tests: the test process owns it for its whole life, as the
// program entry does.

#include "win/ui/graphics_owners.h"

namespace kestrivon::testing {

inline const win::UniqueGdiplusSession gdiplusSession = win::StartGdiplus();

}  // namespace kestrivon::testing
