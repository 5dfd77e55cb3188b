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
end
