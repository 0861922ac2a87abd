#pragma once
// Identifiers shared by the resource script and the code that loads the resources. Plain macros, since
// the resource compiler reads this file too.

// The application icon: the executable's icon, the window-class icon, the prompt's and the window's.
#define APPLICATION_ICON_ID 1
