#pragma once
// The one header through which the components reach the Windows services.
// On Windows it includes <windows.h> and undefines the macros that clash with
// framework names (DeleteFile, GetUserName, ...); on POSIX it gathers the
// platform's own implementations, which carry the Windows names, flags, codes
// and record layouts.
#include "platform/os/WinTypes.h"
#include "platform/os/Handles.h"
#include "platform/os/Sync.h"
#include "platform/os/ChangeNotify.h"
#include "platform/os/SysInfo.h"
#include "platform/os/Display.h"
#include "platform/os/Mapi.h"
#include "platform/os/Shell.h"
#include "platform/os/TempFiles.h"
#include "platform/os/ScreenDC.h"
#include "platform/os/Modules.h"
#include "platform/os/Icons.h"
#include "platform/os/Registry.h"
#include "platform/os/Beep.h"
#include "platform/os/EventLog.h"
#include "platform/os/MessageFiles.h"
#include "platform/os/FormatMessage.h"
#include "platform/os/FileMapping.h"
