object DatasetModule: TDatasetModule
  OnCreate = DatasetModuleCreate
  object Database: TSQLiteConnection
    DatabaseName = 'ztl-demo.db'
  end
  object Customers: TSQLiteTable
    Connection = Database
    TableName = 'Customer'
  end
  object CustomerSource: TDataSource
    DataSet = Customers
  end
  object CustomerLog: TZTDatasetLog
    Active = True
    LogFile = 'ztl-demo-changes.log'
    DataSource = CustomerSource
    FilterEvents = [dbeEditingChanged, dbeRecordChanged, dbeUpdateData]
    OnSQLStatement = CustomerLogSQLStatement
  end
end
