#pragma once
// The demo's dataset module: an SQLite table, a data source and a dataset
// change logger from the stored form TDatasetModule.dfm. The logger writes a
// CHANGE line for each edit and hands over the statement of each post.
#include <vector>

#include "datasetlog/LogDS.h"
#include "platform/classes/DataModule.h"
#include "platform/db/SQLiteDB.h"

namespace demo {

class TDatasetModule : public ztl::TDataModule {
  ZTL_DECLARE_CLASS(TDatasetModule, ztl::TDataModule)

 public:
  // Reads the stored form; OnCreate then makes a fresh database with a
  // Customer table in OutputFolder and opens the table.
  TDatasetModule(ztl::TComponent* AOwner, const ztl::String& OutputFolder);

  ztl::TSQLiteConnection* Database = nullptr;
  ztl::TSQLiteTable* Customers = nullptr;
  ztl::TDataSource* CustomerSource = nullptr;
  ztl::TZTDatasetLog* CustomerLog = nullptr;
  // The statements the logger handed over, in order.
  std::vector<ztl::String> Statements;

 private:
  void DatasetModuleCreate(ztl::TObject* Sender);
  void CustomerLogSQLStatement(ztl::TObject* Sender, const ztl::String& SQL);

  ztl::String outputFolder_;
};

}  // namespace demo
