#include <ztlogger/registration/LogReg.h>

#include <ztlogger/applog/LogApp.h>
#include <ztlogger/checks/ZTLChecks.h>
#include <ztlogger/datasetlog/LogDS.h>
#include <ztlogger/exceptionlog/LogError.h>
#include <ztlogger/filelog/LogFile.h>
#include <ztlogger/ntlog/LogNT.h>
#include <ztlogger/platform/classes/Registration.h>
#include <ztlogger/registrylog/LogRegistry.h>

namespace ztl {

void Register() {
  RegisterComponents("ZTLogger", {TZTExceptionLog::StaticClass(), TZTAppLog::StaticClass(),
                                  TZTDatasetLog::StaticClass(), TZTFileLog::StaticClass(), TZTNTEventLog::StaticClass(),
                                  TZTRegistryLog::StaticClass(), TZTLCheckProcessor::StaticClass()});
}

}  // namespace ztl

ZTL_PACKAGE_REGISTER(ztl::Register)
