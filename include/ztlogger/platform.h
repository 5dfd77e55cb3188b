#pragma once
// The host framework in one include: the run-time library (objects, method
// references, exceptions, strings, dates, threads, the registry class), the
// component framework (persistent objects, components, streams, stored forms,
// registration), forms and dialogs, and datasets. The Windows services
// (<ztlogger/platform/os/...>) are not included: they put the Windows names in
// the global namespace, as <windows.h> does, and are included one by one where
// they are called.
#include <ztlogger/platform/os/WinConstants.h>
#include <ztlogger/platform/rtl/DateUtils.h>
#include <ztlogger/platform/rtl/ErrorMessages.h>
#include <ztlogger/platform/rtl/ExceptionSupport.h>
#include <ztlogger/platform/rtl/Exceptions.h>
#include <ztlogger/platform/rtl/FormatSettings.h>
#include <ztlogger/platform/rtl/FormatUtils.h>
#include <ztlogger/platform/rtl/HardwareFaults.h>
#include <ztlogger/platform/rtl/MappedFile.h>
#include <ztlogger/platform/rtl/Method.h>
#include <ztlogger/platform/rtl/Object.h>
#include <ztlogger/platform/rtl/Registry.h>
#include <ztlogger/platform/rtl/ScopeExit.h>
#include <ztlogger/platform/rtl/SyncObjs.h>
#include <ztlogger/platform/rtl/SysUtils.h>
#include <ztlogger/platform/rtl/Threads.h>
#include <ztlogger/platform/rtl/ThrowSites.h>
#include <ztlogger/platform/rtl/Types.h>
#include <ztlogger/platform/rtl/Unicode.h>
#include <ztlogger/platform/rtl/Variants.h>

#include <ztlogger/platform/classes/Bind.h>
#include <ztlogger/platform/classes/ClassBuilder.h>
#include <ztlogger/platform/classes/Collection.h>
#include <ztlogger/platform/classes/Component.h>
#include <ztlogger/platform/classes/DataModule.h>
#include <ztlogger/platform/classes/Filer.h>
#include <ztlogger/platform/classes/Persistent.h>
#include <ztlogger/platform/classes/Registration.h>
#include <ztlogger/platform/classes/Resources.h>
#include <ztlogger/platform/classes/Set.h>
#include <ztlogger/platform/classes/Streams.h>
#include <ztlogger/platform/classes/Strings.h>
#include <ztlogger/platform/classes/TypInfo.h>

#include <ztlogger/platform/forms/Controls.h>
#include <ztlogger/platform/forms/Dialogs.h>
#include <ztlogger/platform/forms/ExtCtrls.h>
#include <ztlogger/platform/forms/Forms.h>
#include <ztlogger/platform/forms/Graphics.h>
#include <ztlogger/platform/forms/HeadlessWidgetSet.h>
#include <ztlogger/platform/forms/Jpeg.h>
#include <ztlogger/platform/forms/Messages.h>
#include <ztlogger/platform/forms/StdCtrls.h>
#include <ztlogger/platform/forms/WidgetSet.h>
#include <ztlogger/platform/forms/WindowHandles.h>

#include <ztlogger/platform/db/DB.h>
#include <ztlogger/platform/db/SQLiteDB.h>
