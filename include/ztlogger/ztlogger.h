#pragma once
// ZTLogger's components in one include, with the host framework they stand
// on (<ztlogger/platform.h>): the log component base and its delivery, the
// exception logger with its dialog and map reader, the application, dataset,
// folder, event log and registry loggers, the input checks and the
// components' registration.
#include <ztlogger/platform.h>

#include <ztlogger/core/CollectorDsn.h>
#include <ztlogger/core/LogBase.h>
#include <ztlogger/core/LogCnst.h>
#include <ztlogger/core/Watcher.h>

#include <ztlogger/applog/LogApp.h>
#include <ztlogger/checks/ZTLChecks.h>
#include <ztlogger/datasetlog/LogDS.h>
#include <ztlogger/exceptionlog/CollectorQueue.h>
#include <ztlogger/exceptionlog/LastChance.h>
#include <ztlogger/exceptionlog/LogDlg.h>
#include <ztlogger/exceptionlog/LogError.h>
#include <ztlogger/exceptionlog/ZTMapFile.h>
#include <ztlogger/filelog/LogFile.h>
#include <ztlogger/ntlog/LogNT.h>
#include <ztlogger/registration/LogReg.h>
#include <ztlogger/registrylog/LogRegistry.h>
