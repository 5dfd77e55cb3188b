#pragma once
// Design-time registration of the suite: the components a design host puts
// on its palette. The module exports Register to design hosts as its package
// entry (platform/classes/Registration.h), so that LoadPackage on the module
// calls it; the module also holds each component's palette bitmap, a
// resource named after the class in upper case.
//
// Any thread: Register only adds to the palette, which takes its own lock.
#include <ztlogger/platform/rtl/Export.h>

namespace ztl {

// Puts the seven components on the palette page "ZTLogger": the exception
// logger, the application event logger, the dataset change logger, the
// folder and event log components, the registry watcher and the check
// processor, in that order.
ZTL_API void Register();

}  // namespace ztl
