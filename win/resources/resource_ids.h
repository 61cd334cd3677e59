#pragma once

// Resource identifiers, shared by the resource script and the code that loads the resources
// (plain macros, since the resource compiler reads this file too).

// The program icon (all sizes in one group).
#define KESTRIVON_IDI_APP 1
// The embedded TrueType fonts, raw data (RT_RCDATA), loaded in this order.
#define KESTRIVON_IDR_FONT_ONEST_REGULAR 101
#define KESTRIVON_IDR_FONT_ONEST_SEMIBOLD 102
#define KESTRIVON_IDR_FONT_UNBOUNDED_BOLD 103
