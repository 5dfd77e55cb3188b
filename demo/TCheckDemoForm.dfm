object CheckDemoForm: TCheckDemoForm
  Caption = 'New customer'
  ClientHeight = 150
  ClientWidth = 320
  object edtName: TEdit
    Left = 96
    Top = 8
    Width = 180
    Height = 21
    TabOrder = 0
  end
  object edtAge: TEdit
    Left = 96
    Top = 40
    Width = 60
    Height = 21
    TabOrder = 1
    Text = '7'
  end
  object cbxCountry: TComboBox
    Left = 96
    Top = 72
    Width = 180
    Height = 21
    Style = csDropDownList
    Items.Strings = (
      'Austria'
      'Canada'
      'Japan')
    TabOrder = 2
  end
  object chkTerms: TCheckBox
    Left = 96
    Top = 104
    Width = 180
    Height = 17
    Caption = 'I accept the terms'
    TabOrder = 3
  end
  object Checks: TZTLCheckProcessor
    CheckProviders = <
      item: TZTLCheckProviderEdit
        CheckControl = edtName
        HintText = 'Please enter a name'
      end
      item: TZTLCheckProviderNumericEdit
        CheckControl = edtAge
        MinValue = 18
        MaxValue = 120.5
      end
      item: TZTLCheckProviderCombobox
        CheckControl = cbxCountry
      end
      item: TZTLCheckProviderCheckbox
        CheckControl = chkTerms
        FocusOnError = False
      end>
  end
end
