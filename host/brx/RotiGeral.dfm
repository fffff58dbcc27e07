object frmRotiGeral: TfrmRotiGeral
  Left = 200
  Top = 100
  BorderStyle = bsSingle
  Caption = 'frmRotiGeral'
  ClientHeight = 400
  ClientWidth = 600
  Color = clBtnFace
  Font.Charset = DEFAULT_CHARSET
  Font.Color = clWindowText
  Font.Height = -11
  Font.Name = 'MS Sans Serif'
  Font.Style = []
  FormStyle = fsMDIChild
  KeyPreview = True
  Visible = True
  OnClose = FormClose
  OnCloseQuery = FormCloseQuery
  OnCreate = FormCreate
  OnKeyPress = FormKeyPress
  PixelsPerInch = 96
  TextHeight = 13
  object grbDadosRel: TGroupBox
    Left = 0
    Top = 0
    Width = 545
    Height = 400
    TabOrder = 0
  end
  object panMenu: TPanel
    Left = 545
    Top = 0
    Width = 55
    Height = 400
    BevelOuter = bvNone
    TabOrder = 1
    object lblCodTela: TLabel
      Left = 2
      Top = 384
      Width = 51
      Height = 13
      Alignment = taCenter
      AutoSize = False
      Caption = 'CODTELA'
    end
    object panBotoes: TPanel
      Left = 2
      Top = 4
      Width = 51
      Height = 92
      BevelOuter = bvLowered
      TabOrder = 0
      object sbtConfirma: TButtonFlat
        Left = 4
        Top = 2
        Width = 40
        Height = 21
        Hint = 'Confirmar'
        ShortCut = 'Ctrl+S'
        Flat = True
        ParentShowHint = False
        ShowHint = True
      end
      object sbtCancel: TButtonFlat
        Left = 4
        Top = 68
        Width = 40
        Height = 21
        Hint = 'Sair'
        Caption = 'Sair'
        Flat = True
        ParentShowHint = False
        ShowHint = True
        OnClick = sbtCancelClick
      end
    end
    object panHelp: TPanel
      Left = 2
      Top = 104
      Width = 51
      Height = 40
      BevelOuter = bvLowered
      TabOrder = 1
    end
  end
  object msgPadrao: TMessages
    Left = 8
    Top = 8
  end
end
