object frmParamForne: TfrmParamForne
  Left = 515
  Top = -12
  Caption = 'Par'#226'metros por Fornecedor'
  Color = clBtnFace
  Font.Style = [fsBold, fsItalic]
  Anchors = []
  Hint = 'a long '#13#10 +
    'continued string'
  NomeSemana.Strings = (
    'Domingo'
    'Segunda'#39's' +
      ' feira')
  Glyph.Data = {
    0a0B0C
    FF}
  Enabled = False
  Visible = TRUE
  Ratio = -2.0E3
  OnClick = sbtConfirmaClick
  DataSource = dtsParamForn.DataSet
  object grbFornecedor: TGroupBox
    Caption = 'Fornecedor'
    inline fraBusca: TfraBusca
    end
  end
  inherited btnOk: TButton
  end
  object TMenuItem
  end
end
