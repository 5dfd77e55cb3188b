object DemoModule: TDemoModule
  OnCreate = DemoModuleCreate
  object TextLog: TZTLogBase
    Active = True
    LogFile = 'ztl-demo.log'
    SendTo.EMail = 'support@example.com'
    SendTo.EMailSubject = 'ZTLogger demo'
    SendTo.WWW = 'https://example.com/support'
  end
  object XmlLog: TZTLogBase
    Active = True
    LogFile = 'ztl-demo'
    Formatting = ztlfXML
  end
  object ExceptionLog: TZTExceptionLog
    Active = True
    LogFile = 'ztl-demo-errors.log'
    SendTo.EMail = 'support@example.com'
    SendTo.WWW = 'https://example.com/support'
    Formats = [lfDate, lfTime, lfPhysAddress, lfExceptionClassName, lfMessage, lfSeparator, lfSourceLine, lfApplication, lfActiveControl, lfComputerInfo]
    Options = [laShowSendEMail, laShowSupportLink, laShowSourceLine]
  end
  object AppEvents: TZTAppLog
    OnActiveFormChange = AppEventsActiveFormChange
    OnActiveControlChange = AppEventsActiveControlChange
  end
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
    SQLLiterals = slStandard
    OnSQLStatement = CustomerLogSQLStatement
  end
  object FolderWatch: TZTFileLog
    Options = [foFile, foSize]
    OnFileNotification = FolderWatchNotification
  end
  object EventLog: TZTNTEventLog
    Source = 'ZTLogger Demo'
  end
  object RegistryWatch: TZTRegistryLog
    Key = 'Software\ZTLogger Demo'
    Options = [roLastSet]
    OnRegistryNotification = RegistryWatchNotification
  end
end
