object DemoForm: TDemoForm
  Caption = 'ZTLogger demo'
  ClientHeight = 80
  ClientWidth = 300
  object edtOrder: TEdit
    Left = 8
    Top = 8
    Width = 200
    Height = 21
    TabOrder = 0
    Text = '17'
  end
  object btnLookup: TButton
    Left = 216
    Top = 8
    Width = 75
    Height = 25
    Caption = '&Lookup'
    OnClick = btnLookupClick
    TabOrder = 1
  end
end
