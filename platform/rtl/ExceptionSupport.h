#pragma once
// Exception support: the exception being handled and where it was raised
// (ThrowSites.h), the standard description of an exception and
// operating-system errors (ErrorMessages.h), and hardware faults turned into
// framework exceptions (HardwareFaults.h).
//
// Any thread, as the headers it gathers say.
#include <ztlogger/platform/rtl/ErrorMessages.h>
#include <ztlogger/platform/rtl/HardwareFaults.h>
#include <ztlogger/platform/rtl/ThrowSites.h>
