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
  object FolderWatch: TZTFileLog
    Options = [foFile, foSize]
    OnFileNotification = FolderWatchNotification
  end
end
