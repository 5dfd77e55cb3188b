#include "registration/LogReg.h"

#include "applog/LogApp.h"
#include "checks/ZTLChecks.h"
#include "datasetlog/LogDS.h"
#include "exceptionlog/LogError.h"
#include "filelog/LogFile.h"
#include "ntlog/LogNT.h"
#include "platform/classes/Registration.h"
#include "registrylog/LogRegistry.h"

namespace ztl {

void Register() {
  RegisterComponents("ZTLogger", {TZTExceptionLog::StaticClass(), TZTAppLog::StaticClass(),
                                  TZTDatasetLog::StaticClass(), TZTFileLog::StaticClass(), TZTNTEventLog::StaticClass(),
                                  TZTRegistryLog::StaticClass(), TZTLCheckProcessor::StaticClass()});
}

}  // namespace ztl

ZTL_PACKAGE_REGISTER(ztl::Register)
