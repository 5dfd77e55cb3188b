#include "demo/DatasetModule.h"

#include "platform/classes/ClassBuilder.h"
#include "platform/rtl/SysUtils.h"

namespace demo {

using namespace ztl;

ZTL_BEGIN_CLASS(TDatasetModule, TDataModule)
  .Method<&Self::DatasetModuleCreate>("DatasetModuleCreate")
  .Method<&Self::CustomerLogSQLStatement>("CustomerLogSQLStatement")
  .Field("Database", &Self::Database)
  .Field("Customers", &Self::Customers)
  .Field("CustomerSource", &Self::CustomerSource)
  .Field("CustomerLog", &Self::CustomerLog)
ZTL_END_CLASS

TDatasetModule::TDatasetModule(TComponent* AOwner, const String& OutputFolder)
    : TDataModule(AOwner), outputFolder_(OutputFolder) {
  CreateFromStoredForm();
}

void TDatasetModule::DatasetModuleCreate(TObject*) {
  // The stored names are relative; each run starts from a new database.
  const String folder = IncludeTrailingPathDelimiter(outputFolder_);
  DeleteFile(folder + Database->DatabaseName());
  Database->SetDatabaseName(folder + Database->DatabaseName());
  CustomerLog->SetLogFile(folder + CustomerLog->LogFile());
  CustomerLog->ClearLog();
  Database->ExecSQL(
      "CREATE TABLE Customer (Id INTEGER PRIMARY KEY, Name TEXT NOT NULL, City TEXT);"
      "INSERT INTO Customer VALUES (1, 'Jon', 'Paris'), (2, 'Bea', 'Oslo');");
  Customers->Open();
}

void TDatasetModule::CustomerLogSQLStatement(TObject*, const String& SQL) { Statements.push_back(SQL); }

}  // namespace demo
