object frmZTLogErrorDialog: TfrmZTLogErrorDialog
  BorderStyle = bsDialog
  ClientHeight = 210
  ClientWidth = 492
  Font.Charset = 1
  Font.Color = -2147483640
  Font.Height = -11
  Font.Name = 'MS Sans Serif'
  Font.Style = []
  PixelsPerInch = 96
  Position = poScreenCenter
  ShowHint = True
  object btnClose: TButton
    Left = 408
    Top = 180
    Width = 75
    Height = 25
    Caption = '&Close'
    Cancel = True
    Default = True
    ModalResult = 1
    TabOrder = 0
  end
  object btnEmail: TButton
    Left = 8
    Top = 180
    Width = 125
    Height = 25
    Visible = False
    OnClick = btnEmailClick
    TabOrder = 2
  end
  object cbAttachScreenshot: TCheckBox
    Left = 8
    Top = 210
    Width = 250
    Height = 17
    Visible = False
    TabOrder = 1
  end
  object btnGoWEB: TButton
    Left = 138
    Top = 180
    Width = 125
    Height = 25
    Visible = False
    OnClick = btnGoWEBClick
    TabOrder = 3
  end
  object pnlHeader: TPanel
    Left = 0
    Top = 0
    Width = 492
    Height = 100
    Align = alTop
    BevelOuter = bvNone
    Color = -2147483634
    TabOrder = 4
    object imgError: TImage
      Left = 10
      Top = 10
      Width = 32
      Height = 32
      Center = True
    end
    object lblHeader: TLabel
      Left = 56
      Top = 3
      Width = 425
      Height = 70
      AutoSize = False
      Transparent = True
      WordWrap = True
    end
    object lblProductSite: TLabel
      Left = 56
      Top = 80
      Width = 3
      Height = 13
      Cursor = -21
      Font.Charset = 1
      Font.Color = 16711680
      Font.Height = -11
      Font.Name = 'MS Sans Serif'
      Font.Style = [fsUnderline]
      ParentFont = False
      OnClick = btnGoWEBClick
    end
  end
  object gbExceptionReason: TGroupBox
    Left = 9
    Top = 104
    Width = 473
    Height = 73
    Font.Charset = 1
    Font.Color = -2147483646
    Font.Height = -11
    Font.Name = 'MS Sans Serif'
    Font.Style = []
    ParentFont = False
    TabOrder = 5
    object lblErrorText: TMemo
      Left = 7
      Top = 17
      Width = 460
      Height = 50
      BorderStyle = bsNone
      Font.Charset = 1
      Font.Color = -2147483640
      Font.Height = -11
      Font.Name = 'MS Sans Serif'
      Font.Style = []
      ParentColor = True
      ParentFont = False
      ReadOnly = True
      ScrollBars = ssVertical
      TabOrder = 0
    end
  end
end
