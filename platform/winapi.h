// The one header through which the system reaches Win32. On Windows it is the SDK;
// elsewhere it is our own stand-ins (registry model, shell and dialog services) so the
// same sources build and run natively for the unit tests.
#pragma once

#ifdef _WIN32
#  ifndef UNICODE
#    define UNICODE
#  endif
#  ifndef _UNICODE
#    define _UNICODE
#  endif
#  include <windows.h>
#  include <shlobj.h>
#  include <shlwapi.h>
#else
#  include "winstub.h"
#endif
