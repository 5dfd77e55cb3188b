#pragma once
// The one header through which the components reach the Windows services.
// On Windows it includes <windows.h> and undefines the macros that clash with
// framework names (DeleteFile, GetUserName, ...); on POSIX it gathers the
// platform's own implementations, which carry the Windows names, flags, codes
// and record layouts.
//
// Each service's own header says which threads may call it.
#include <ztlogger/platform/os/Beep.h>
#include <ztlogger/platform/os/ChangeNotify.h>
#include <ztlogger/platform/os/Display.h>
#include <ztlogger/platform/os/FileMapping.h>
#include <ztlogger/platform/os/Handles.h>
#include <ztlogger/platform/os/Icons.h>
#include <ztlogger/platform/os/Mapi.h>
#include <ztlogger/platform/os/Modules.h>
#include <ztlogger/platform/os/ScreenDC.h>
#include <ztlogger/platform/os/Shell.h>
#include <ztlogger/platform/os/Sync.h>
#include <ztlogger/platform/os/Processes.h>
#include <ztlogger/platform/os/SysInfo.h>
#include <ztlogger/platform/os/TempFiles.h>
#include <ztlogger/platform/os/WinTypes.h>
#include <ztlogger/platform/os/eventlog/Api.h>
#include <ztlogger/platform/os/messages/Format.h>
#include <ztlogger/platform/os/messages/PeFile.h>
#include <ztlogger/platform/os/messages/SystemTexts.h>
#include <ztlogger/platform/os/registry/Api.h>
