// platform/: the nine Windows operations through which the setup reaches the machine.
// On Windows they are Windows' own. Elsewhere win32_api.h declares them, and whatever is
// linked behind it provides them: the emulated machine of emulation/, or a test's scripted one.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include "platform/win32_api.h"
#endif
