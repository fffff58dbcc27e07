inherited frmParamForne: TfrmParamForne
  Left = 515
  Top = 49
  BorderStyle = bsSingle
  Caption = 'Par'#226'metros por Fornecedor'
  ClientHeight = 613
  ClientWidth = 572
  FormStyle = fsMDIChild
  Visible = True
  PixelsPerInch = 96
  TextHeight = 13
  inherited grbDadosRel: TGroupBox
    Width = 517
    Height = 613
    object grbFornecedor: TGroupBox
      Left = 4
      Top = 6
      Width = 505
      Height = 67
      Caption = 'Fornecedor '
      ParentFont = False
      Font.Charset = DEFAULT_CHARSET
      Font.Color = clWindowText
      Font.Height = -11
      Font.Name = 'MS Sans Serif'
      Font.Style = [fsBold]
      TabOrder = 0
      OnEnter = grbFornecedorEnter
      object lblInscricao: TLabel
        Left = 6
        Top = 20
        Height = 13
        Caption = 'Inscri'#231#227'o'
      end
      object medNrInsJurNF: TMaskEdit
        Left = 89
        Top = 16
        Width = 128
        Height = 21
        Color = clInfoBk
        ParentFont = False
        Font.Charset = DEFAULT_CHARSET
        Font.Color = clWindowText
        Font.Height = -11
        Font.Name = 'MS Sans Serif'
        Font.Style = []
        MaxLength = 20
        TabOrder = 0
        OnChange = medNrInsJurNFlxChange
        OnEnter = medNrInsJurNFlxEnter
        OnExit = medNrInsJurNFlxExit
      end
      object btpFornecedor: TBtnPesquisa
        Left = 222
        Top = 16
        Width = 21
        Height = 21
        Hint = 'Pesquisar'
        Glyph.Data = {
          89504E470D0A1A0A0000000D494844520000002000000010080600000077007D
          59000000844944415478DA636018AC4043A3E23F25FA274C98F09F2C4B716162
          2DC58549B2FCC4C3FF704CAC23902D3B79F2241C13ED086C96A33B821807205B
          8EEE08820EC06639B2230839009BE5C88E20CBF7C484023EDF131D0A031A0283
          260D0C682E20540E90EA08B2CB035C25213985122EC751543C93E2087C2134EA
          08AA398292DA128401BBE20EEC47F370830000000049454E44AE426082
          }
        NumGlyphs = 2
        ParentShowHint = False
        ShowHint = True
        TabOrder = 1
        Associate = medNrInsJurNF
        Title = 'Fornecedor'
        DataSource = dtsFornecedor
        EmptyError = 'N'#227'o h'#225' fornecedor cadastrado.'
        OnBeforePesq = btpFornecedorBeforePesq
        OnAfterPesq = btpFornecedorAfterPesq
      end
      object lblIdForne: TLabel
        Left = 276
        Top = 20
        Width = 3
        Height = 13
        Alignment = taCenter
        Caption = ''
        ParentFont = False
        Font.Charset = DEFAULT_CHARSET
        Font.Color = clWindowText
        Font.Height = -11
        Font.Name = 'MS Sans Serif'
        Font.Style = []
      end
      object lblRazSocForn: TLabel
        Left = 6
        Top = 44
        Height = 13
        Caption = 'Raz'#227'o Social'
      end
      object edtNmRasSocForn: TEdit
        Left = 89
        Top = 40
        Width = 369
        Height = 21
        Color = clBtnFace
        Enabled = False
        ParentFont = False
        Font.Charset = DEFAULT_CHARSET
        Font.Color = clWindowText
        Font.Height = -11
        Font.Name = 'MS Sans Serif'
        Font.Style = []
        TabOrder = 2
      end
    end
    object grbNrDiasBloqNF: TGroupBox
      Left = 4
      Top = 72
      Width = 505
      Height = 36
      ParentFont = False
      Font.Charset = DEFAULT_CHARSET
      Font.Color = clWindowText
      Font.Height = -11
      Font.Name = 'MS Sans Serif'
      Font.Style = []
      TabOrder = 1
      object lblNrDiasBloqNF: TLabel
        Left = 6
        Top = 13
        Width = 363
        Height = 13
        AutoSize = False
        Caption = 'N'#186' de dias para bloqueio do n'#250'mero de NF repetido para fornecedor e s'#233'rie'
      end
      object dbeNrDiasBloqNF: TDBEdit
        Left = 373
        Top = 9
        Width = 37
        Height = 21
        DataField = 'NRDIASBLOQNFFOR'
        DataSource = dtsParamForn
        ParentFont = False
        Font.Charset = DEFAULT_CHARSET
        Font.Color = clWindowText
        Font.Height = -11
        Font.Name = 'MS Sans Serif'
        Font.Style = []
        MaxLength = 4
        TabOrder = 0
        OnKeyPress = dbeNrDiasBloqNFKeyPress
      end
    end
    object grbBloqNFRelacForn: TGroupBox
      Left = 4
      Top = 107
      Width = 505
      Height = 29
      ParentFont = False
      Font.Charset = DEFAULT_CHARSET
      Font.Color = clWindowText
      Font.Height = -11
      Font.Name = 'MS Sans Serif'
      Font.Style = []
      TabOrder = 2
      object dckBloqNFRelacForn: TDBCheckBox
        Left = 6
        Top = 8
        Width = 456
        Height = 17
        Caption = 'Bloqueia fechamento de NF caso utilize relacionamento de fornecedor na Importa'#231#227'o da AF'
        Color = clBtnFace
        DataField = 'IDBLQNFRELAFOAF'
        DataSource = dtsParamForn
        ParentFont = False
        Font.Charset = DEFAULT_CHARSET
        Font.Color = clWindowText
        Font.Height = -11
        Font.Name = 'MS Sans Serif'
        Font.Style = []
        TabOrder = 0
        ValueChecked = 'S'
        ValueUnchecked = 'N'
        OnClick = dckBloqNFRelacFornClick
      end
    end
    object grbOImpXmlNF: TGroupBox
      Left = 4
      Top = 135
      Width = 505
      Height = 229
      ParentFont = False
      Font.Charset = DEFAULT_CHARSET
      Font.Color = clWindowText
      Font.Height = -11
      Font.Name = 'MS Sans Serif'
      Font.Style = []
      TabOrder = 3
      object dckOImpXmlNF: TDBCheckBox
        Left = 6
        Top = 8
        Width = 480
        Height = 17
        Caption = 'Obriga Importa'#231#227'o de XML (NFe-) no Lan'#231'amento de Nota Fiscal'
        DataField = 'IDOBRIMPXMLNF'
        DataSource = dtsParamForn
        ParentFont = False
        Font.Charset = DEFAULT_CHARSET
        Font.Color = clWindowText
        Font.Height = -11
        Font.Name = 'MS Sans Serif'
        Font.Style = []
        TabOrder = 0
        ValueChecked = 'S'
        ValueUnchecked = 'N'
        OnClick = dckOImpXmlNFClick
      end
      object dckObrigCAcesso: TDBCheckBox
        Left = 6
        Top = 25
        Width = 480
        Height = 17
        Caption = 'Obriga informar Chave de Acesso no Lan'#231'amento de Nota Fiscal'
        DataField = 'IDOBRCHAVACESFO'
        DataSource = dtsParamForn
        ParentFont = False
        Font.Charset = DEFAULT_CHARSET
        Font.Color = clWindowText
        Font.Height = -11
        Font.Name = 'MS Sans Serif'
        Font.Style = []
        TabOrder = 1
        ValueChecked = 'S'
        ValueUnchecked = 'N'
        OnClick = dckObrigCAcessoClick
      end
      object dckVerifCpfCnpj: TDBCheckBox
        Left = 6
        Top = 42
        Width = 480
        Height = 17
        Caption = 'Verifica CPF/CNPJ do fornecedor na chave de acesso NF-e'
        DataField = 'IDVERINSFORCHNFE'
        DataSource = dtsParamForn
        ParentFont = False
        Font.Charset = DEFAULT_CHARSET
        Font.Color = clWindowText
        Font.Height = -11
        Font.Name = 'MS Sans Serif'
        Font.Style = []
        TabOrder = 2
        ValueChecked = 'S'
        ValueUnchecked = 'N'
        OnClick = dckVerifCpfCnpjClick
      end
      object dckSimples: TDBCheckBox
        Left = 6
        Top = 59
        Width = 480
        Height = 17
        Caption = 'Fornecedor optante pelo Simples Nacional'
        DataField = 'IDSIMPLESNACIONAL'
        DataSource = dtsParamForn
        ParentFont = False
        Font.Charset = DEFAULT_CHARSET
        Font.Color = clWindowText
        Font.Height = -11
        Font.Name = 'MS Sans Serif'
        Font.Style = []
        TabOrder = 3
        ValueChecked = 'S'
        ValueUnchecked = 'N'
        OnClick = dckSimplesClick
      end
      object dckVencXML: TDBCheckBox
        Left = 6
        Top = 76
        Width = 480
        Height = 17
        Caption = 'Importar vencimentos do XML da NF-e'
        DataField = 'IMPVENCXML'
        DataSource = dtsParamForn
        ParentFont = False
        Font.Charset = DEFAULT_CHARSET
        Font.Color = clWindowText
        Font.Height = -11
        Font.Name = 'MS Sans Serif'
        Font.Style = []
        TabOrder = 4
        ValueChecked = 'S'
        ValueUnchecked = 'N'
        OnClick = dckVencXMLClick
      end
      object dckImpVencCTe: TDBCheckBox
        Left = 6
        Top = 93
        Width = 480
        Height = 17
        Caption = 'Importar vencimentos do XML do CT-e'
        DataField = 'IDIMPVENCXMLCTE'
        DataSource = dtsParamForn
        ParentFont = False
        Font.Charset = DEFAULT_CHARSET
        Font.Color = clWindowText
        Font.Height = -11
        Font.Name = 'MS Sans Serif'
        Font.Style = []
        TabOrder = 11
        ValueChecked = 'S'
        ValueUnchecked = 'N'
        OnClick = dckImpVencCTeClick
      end
      object dckBloqAltProdRelac: TDBCheckBox
        Left = 6
        Top = 110
        Width = 480
        Height = 17
        Caption = 'Bloqueia Altera'#231#227'o de Produto Relacionado(Importa'#231#227'o XML)'
        DataField = 'IDBLOQALTPRODREL'
        DataSource = dtsParamForn
        ParentFont = False
        Font.Charset = DEFAULT_CHARSET
        Font.Color = clWindowText
        Font.Height = -11
        Font.Name = 'MS Sans Serif'
        Font.Style = []
        TabOrder = 5
        ValueChecked = 'S'
        ValueUnchecked = 'N'
        OnClick = dckBloqAltProdRelacClick
      end
      object dckProcNotaDebCre: TDBCheckBox
        Left = 6
        Top = 127
        Width = 480
        Height = 17
        Caption = 'Processa nota de cr'#233'dito no SAP'
        DataField = 'IDPROCNOTADEBCRE'
        DataSource = dtsParamForn
        ParentFont = False
        Font.Charset = DEFAULT_CHARSET
        Font.Color = clWindowText
        Font.Height = -11
        Font.Name = 'MS Sans Serif'
        Font.Style = []
        TabOrder = 6
        ValueChecked = 'S'
        ValueUnchecked = 'N'
      end
      object dckProdIGXML: TDBCheckBox
        Left = 6
        Top = 144
        Width = 480
        Height = 17
        Caption = 'Utiliza o C'#243'digo do Produto igual Arquivo XML(OL)'
        DataField = 'IDUTPRIGXML'
        DataSource = dtsParamForn
        ParentFont = False
        Font.Charset = DEFAULT_CHARSET
        Font.Color = clWindowText
        Font.Height = -11
        Font.Name = 'MS Sans Serif'
        Font.Style = []
        TabOrder = 7
        ValueChecked = 'S'
        ValueUnchecked = 'N'
      end
      object dckReaConfNF: TDBCheckBox
        Left = 6
        Top = 160
        Width = 480
        Height = 17
        Caption = 'Realiza confer'#234'ncia do valor da NF'
        DataField = 'IDREACONFVRNF'
        DataSource = dtsParamForn
        ParentFont = False
        Font.Charset = DEFAULT_CHARSET
        Font.Color = clWindowText
        Font.Height = -11
        Font.Name = 'MS Sans Serif'
        Font.Style = []
        TabOrder = 8
        ValueChecked = 'S'
        ValueUnchecked = 'N'
        OnClick = dckReaConfNFClick
      end
      object dckIdUtDescBCST: TDBCheckBox
        Left = 6
        Top = 177
        Width = 480
        Height = 17
        Caption = 'Considera Desconto do Produto na Base de C'#225'lculo do ST'
        DataField = 'IDUTDESCITBCST'
        DataSource = dtsParamForn
        ParentFont = False
        Font.Charset = DEFAULT_CHARSET
        Font.Color = clWindowText
        Font.Height = -11
        Font.Name = 'MS Sans Serif'
        Font.Style = []
        TabOrder = 9
        ValueChecked = 'S'
        ValueUnchecked = 'N'
        OnClick = dckIdUtDescBCSTClick
      end
      object dckCfopCte: TDBCheckBox
        Left = 6
        Top = 194
        Width = 480
        Height = 17
        Caption = 'Utiliza 1 D'#237'gito CFOP CT-e de acordo com arquivo XML'
        DataField = 'IDCFOPCTEXML'
        DataSource = dtsParamForn
        ParentFont = False
        Font.Charset = DEFAULT_CHARSET
        Font.Color = clWindowText
        Font.Height = -11
        Font.Name = 'MS Sans Serif'
        Font.Style = []
        TabOrder = 10
        ValueChecked = 'S'
        ValueUnchecked = 'N'
        OnClick = dckCfopCteClick
      end
      object dckNGravaRelac: TDBCheckBox
        Left = 6
        Top = 211
        Width = 480
        Height = 17
        Caption = 'N'#227'o grava relacionamento do produto (tela Relacionamento Produtos AF X Produtos NF-e)'
        DataField = 'IDNGRAVARELAC'
        DataSource = dtsParamForn
        ParentFont = False
        Font.Charset = DEFAULT_CHARSET
        Font.Color = clWindowText
        Font.Height = -11
        Font.Name = 'MS Sans Serif'
        Font.Style = []
        TabOrder = 12
        ValueChecked = 'S'
        ValueUnchecked = 'N'
        OnClick = dckNGravaRelacClick
      end
    end
    object GroupBox1: TGroupBox
      Left = 4
      Top = 513
      Width = 505
      Height = 95
      Caption = ' Limite de Compras Mensal '
      ParentFont = False
      Font.Charset = DEFAULT_CHARSET
      Font.Color = clWindowText
      Font.Height = -11
      Font.Name = 'MS Sans Serif'
      Font.Style = [fsBold]
      TabOrder = 4
      object lblValMaxPerm: TLabel
        Left = 11
        Top = 19
        Height = 13
        Caption = 'Valor M'#225'ximo Permitido'
        ParentFont = False
        Font.Charset = DEFAULT_CHARSET
        Font.Color = clWindowText
        Font.Height = -11
        Font.Name = 'MS Sans Serif'
        Font.Style = []
      end
      object dbeValMaxPerm: TDBEdit
        Left = 130
        Top = 15
        Width = 111
        Height = 21
        DataField = 'VRMAXPERMFORN'
        DataSource = dtsParamForn
        ParentFont = False
        Font.Charset = DEFAULT_CHARSET
        Font.Color = clWindowText
        Font.Height = -11
        Font.Name = 'MS Sans Serif'
        Font.Style = []
        TabOrder = 0
        OnKeyPress = dbeValMaxPermKeyPress
      end
      object GroupBox2: TGroupBox
        Left = 11
        Top = 35
        Width = 486
        Height = 56
        Caption = ' Grupo com Permiss'#227'o para Lan'#231'amento Acima do Limite Permitido '
        ParentFont = False
        Font.Charset = DEFAULT_CHARSET
        Font.Color = clWindowText
        Font.Height = -11
        Font.Name = 'MS Sans Serif'
        Font.Style = [fsBold]
        TabOrder = 1
        object Label15: TLabel
          Left = 8
          Top = 24
          Height = 13
          Caption = 'C'#243'digo'
        end
        object dbeCdGrupoPermLan: TDBEdit
          Left = 54
          Top = 20
          Width = 26
          Height = 21
          DataField = 'CDGRPERMLANMAX'
          DataSource = dtsParamForn
          ParentFont = False
          Font.Charset = DEFAULT_CHARSET
          Font.Color = clWindowText
          Font.Height = -11
          Font.Name = 'MS Sans Serif'
          Font.Style = []
          TabOrder = 0
          OnChange = dbeCdGrupoPermLanChange
          OnExit = dbeCdGrupoPermLanExit
        end
        object btnPesqGrupo: TBtnPesquisa
          Left = 82
          Top = 20
          Width = 21
          Height = 21
          Hint = 'Pesquisar'
          Glyph.Data = {
            89504E470D0A1A0A0000000D494844520000002000000010080600000077007D
            59000000844944415478DA636018AC4043A3E23F25FA274C98F09F2C4B716162
            2DC58549B2FCC4C3FF704CAC23902D3B79F2241C13ED086C96A33B821807205B
            8EEE08820EC06639B2230839009BE5C88E20CBF7C484023EDF131D0A031A0283
            260D0C682E20540E90EA08B2CB035C25213985122EC751543C93E2087C2134EA
            08AA398292DA128401BBE20EEC47F370830000000049454E44AE426082
            }
          NumGlyphs = 2
          ParentShowHint = False
          ShowHint = True
          TabOrder = 1
          Associate = dbeCdGrupoPermLan
          Title = 'Grupo de Operadores'
          DataSource = dtsGrupoPermLan
          EmptyError = 'N'#227'o h'#225' grupo de operadores cadastrado.'
          OnBeforePesq = btnPesqGrupoBeforePesq
          OnAfterPesq = btnPesqGrupoAfterPesq
        end
        object dbeDescGrupoXML: TDBEdit
          Left = 106
          Top = 20
          Width = 369
          Height = 21
          Color = clBtnFace
          DataField = 'DSGRUPOPER'
          DataSource = dtsParamForn
          Enabled = False
          ParentFont = False
          Font.Charset = DEFAULT_CHARSET
          Font.Color = clWindowText
          Font.Height = -11
          Font.Name = 'MS Sans Serif'
          Font.Style = []
          TabOrder = 2
        end
      end
    end
    object grbLancNFSimplificado: TGroupBox
      Left = 4
      Top = 365
      Width = 505
      Height = 58
      Caption = 'Lan'#231'amento Simplificado '
      ParentFont = False
      Font.Charset = DEFAULT_CHARSET
      Font.Color = clWindowText
      Font.Height = -11
      Font.Name = 'MS Sans Serif'
      Font.Style = [fsBold]
      TabOrder = 5
      object dckReaConsImpXml: TDBCheckBox
        Left = 6
        Top = 14
        Width = 435
        Height = 17
        Caption = 'Realiza Consist'#234'ncias na Importa'#231#227'o de XML (gera'#231#227'o de painel)'
        DataField = 'IDREACONSIMPXML'
        DataSource = dtsParamForn
        ParentFont = False
        Font.Charset = DEFAULT_CHARSET
        Font.Color = clWindowText
        Font.Height = -11
        Font.Name = 'MS Sans Serif'
        Font.Style = []
        TabOrder = 0
        ValueChecked = 'S'
        ValueUnchecked = 'N'
        OnClick = dckReaConsImpXmlClick
      end
      object lblDtReaConsImpXML: TLabel
        Left = 6
        Top = 34
        Height = 13
        Caption = 'Data inicial para valida'#231#245'es das consist'#234'ncias'
        ParentFont = False
        Font.Charset = DEFAULT_CHARSET
        Font.Color = clWindowText
        Font.Height = -11
        Font.Name = 'MS Sans Serif'
        Font.Style = []
      end
      object dbdDtReaConsImpXML: TDBDateEditPlus
        Left = 230
        Top = 31
        Width = 90
        Height = 21
        DataField = 'DTREACONSIMPXML'
        DataSource = dtsParamForn
        ParentFont = False
        Font.Charset = DEFAULT_CHARSET
        Font.Color = clWindowText
        Font.Height = -11
        Font.Name = 'MS Sans Serif'
        Font.Style = []
        TabOrder = 1
        OnExit = dbdDtReaConsImpXMLExit
        Glyph.Data = {
          89504E470D0A1A0A0000000D494844520000002000000010080600000077007D
          590000006F4944415478DA6360186CC0C6C6E63F3972303065CA94FF24CB810C
          2607231B4C0E4671C0090D0D304666A3637475C80E983B772E1823B3D131BA3A
          AC0E2016E37200B118C301A40274075CBD7A95248CD501C80E21C4C6E6006487
          10620FCE10188D82D12818D95130A075C14002001BEF5EB733AB3FD100000000
          49454E44AE426082
          }
        NumGlyphs = 2
        ValidDateColor = clBlue
        NomeSemana.Strings = (
          'Domingo'
          'Segunda'
          'Ter'#231'a'
          'Quarta'
          'Quinta'
          'Sexta'
          'S'#225'bado')
        SaveTime = False
      end
    end
    object grbLimiteProdNF: TGroupBox
      Left = 4
      Top = 424
      Width = 505
      Height = 88
      Caption = 'Limita'#231#227'o de Produtos na Nota Fiscal '
      ParentFont = False
      Font.Charset = DEFAULT_CHARSET
      Font.Color = clWindowText
      Font.Height = -11
      Font.Name = 'MS Sans Serif'
      Font.Style = [fsBold]
      TabOrder = 6
      object lblQtRepeteProdNF: TLabel
        Left = 6
        Top = 14
        Width = 332
        Height = 13
        AutoSize = False
        Caption = 'N'#186' de vezes que um produto poder'#225' se repetir no lan'#231'amento da NF'
        ParentFont = False
        Font.Charset = DEFAULT_CHARSET
        Font.Color = clWindowText
        Font.Height = -11
        Font.Name = 'MS Sans Serif'
        Font.Style = []
      end
      object dbeQtRepeteProdNF: TDBEdit
        Left = 342
        Top = 11
        Width = 37
        Height = 21
        DataField = 'QTREPETEPRODNF'
        DataSource = dtsParamForn
        ParentFont = False
        Font.Charset = DEFAULT_CHARSET
        Font.Color = clWindowText
        Font.Height = -11
        Font.Name = 'MS Sans Serif'
        Font.Style = []
        MaxLength = 4
        TabOrder = 0
        OnChange = dbeQtRepeteProdNFChange
        OnKeyDown = ProdSerConsideraKeyDown
        OnKeyPress = dbeNrDiasBloqNFKeyPress
      end
      object grbProdSerConsidera: TGroupBox
        Left = 6
        Top = 32
        Width = 403
        Height = 51
        Caption = 'Produtos a serem considerados '
        ParentFont = False
        Font.Charset = DEFAULT_CHARSET
        Font.Color = clWindowText
        Font.Height = -11
        Font.Name = 'MS Sans Serif'
        Font.Style = []
        TabOrder = 1
        object rbtTodosProdSerConsidera: TRadioButton
          Left = 6
          Top = 16
          Width = 55
          Height = 17
          Caption = 'Todos'
          Checked = True
          TabOrder = 0
          TabStop = True
          OnClick = rbtTodosProdSerConsideraClick
        end
        object rbtListaProdSerConsidera: TRadioButton
          Left = 68
          Top = 16
          Width = 50
          Height = 17
          Caption = 'Lista'
          TabOrder = 1
          OnClick = rbtListaProdSerConsideraClick
          OnKeyDown = ProdSerConsideraKeyDown
        end
        object btpProdSerConsidera: TBtnPesquisa
          Left = 122
          Top = 14
          Width = 21
          Height = 21
          Hint = 'Pesquisar'
          Enabled = False
          Glyph.Data = {
            89504E470D0A1A0A0000000D494844520000002000000010080600000077007D
            59000000844944415478DA636018AC4043A3E23F25FA274C98F09F2C4B716162
            2DC58549B2FCC4C3FF704CAC23902D3B79F2241C13ED086C96A33B821807205B
            8EEE08820EC06639B2230839009BE5C88E20CBF7C484023EDF131D0A031A0283
            260D0C682E20540E90EA08B2CB035C25213985122EC751543C93E2087C2134EA
            08AA398292DA128401BBE20EEC47F370830000000049454E44AE426082
            }
          NumGlyphs = 2
          ParentShowHint = False
          ShowHint = True
          TabOrder = 2
          Associate = medNrInsJurNF
          Title = 'Fornecedor'
          DataSource = dtsFornecedor
          EmptyError = 'N'#227'o h'#225' fornecedor cadastrado.'
          OnClick = btpProdSerConsideraClick
        end
        object lblObsProdSerConsidera: TLabel
          Left = 6
          Top = 34
          Height = 13
          Caption = '* Produtos n'#227'o selecionado poder'#227'o se repetir v'#225'rias vezes no lan'#231'amento da NF'
        end
      end
    end
  end
  inherited panMenu: TPanel
    Left = 517
    Height = 613
    inherited lblCodTela: TLabel
      Top = 596
      Width = 51
      Caption = 'KXF27400'
    end
    inherited panBotoes: TPanel
      Height = 92
      inherited sbtConfirma: TButtonFlat
        Enabled = False
        Glyph.Data = {
          89504E470D0A1A0A0000000D494844520000002000000010080600000077007D
          590000005F4944415478DA63601805431188F468FC076172F5CF9F3FFF3F0853
          6439B90E80594E960306D4F2E11FF4F80C27C6727C861315F4B82C21D6E7B82C
          2129DEB159464AB063B38CE47847760439F18EEC08B2533DB996E372C4D0CB72
          230A00005AFDBE1CD18DAE530000000049454E44AE426082
          }
        NumGlyphs = 2
        OnClick = sbtConfirmaClick
      end
      object sbtCancela: TButtonFlat
        Left = 4
        Top = 25
        Width = 40
        Height = 21
        Hint = 'Cancelar'
        Enabled = False
        Flat = True
        Glyph.Data = {
          89504E470D0A1A0A0000000D494844520000002000000010080600000077007D
          59000000624944415478DA6360180583095C1211F90FC2E4AA993973E67F10C6
          A71FAF1A98E1B82C20240F331C970584E4F15A42C87242961065392ECB88B51C
          976524598ECD11A4588ECD11245B4E6AB0931A1D833F0406340D0C682E18F072
          60C04BC2110900E77B0F7B8261733F0000000049454E44AE426082
          }
        NumGlyphs = 2
        ParentShowHint = False
        ShowHint = True
        OnClick = sbtCancelaClick
      end
      inherited sbtCancel: TButtonFlat
        Top = 68
      end
    end
    inherited panHelp: TPanel
      Top = 104
    end
  end
  inherited msgPadrao: TMessages
    Messages.Strings = (
      'Forn_N_Inf|Fornecedor deve ser informado.'
      'Forn_NCad|Fornecedor n'#227'o cadastrado.'
      'Aplic_alter|Aplicando altera'#231#245'es no servidor...'
      'Canc|Cancelar opera'#231#227'o?'
      'JURIDICA|Jur'#237'dica'
      'FISICA|F'#237'sica'
      'OUTROS|OUTROS'
      'INSC_JURIDICA|Insc. Juridica'
      'Homologado|Homologado'
      'N_homologado|N'#227'o Homologado'
      'Grupo_Oper|Grupo de Operadores n'#227'o cadastrado.'
      'CONF_DT_VAL_CONS|Confirma a data inicial para as valida'#231#245'es das consist'#234'ncias na importa'#231#227'o XML (gera'#231#227'o de painel) para o dia %s? Essa data n'#227'o poder'#225' ser alterada ap'#243's a confirma'#231#227'o.'
      'DT_INI_MAIOR_ATUAL|Opera'#231#227'o bloqueada. Data inicial para valida'#231#245'es das consist'#234'ncias deve ser maior ou igual ao dia de hoje (%s).'
      'DT_INI_DEVE|Data inicial para valida'#231#245'es das consist'#234'ncias deve ser informada quando o par'#226'metro "Realiza Consist'#234'ncias na Importa'#231#227'o de XML (gera'#231#227'o de painel)" estiver selecionado.'
      'Produto|Produto'
      'Nao_Ha_Produto|N'#227'o h'#225' produto cadastrado.'
      'QtRepeteProdNF_Maior|N'#186' de vezes que um produto poder'#225' se repetir no lan'#231'amento da NF deve ser maior que 0 (zero).')
  end
  object netParamForne: TNetConnection
    ServerName = 'Kxf27400.rdmParamForne'
    ThrowException = False
    BeforeConnect = netParamForneBeforeConnect
    Left = 456
    Top = 8
  end
  object cdsParamForne: TClientDataSet
    BeforeEdit = cdsParamForneBeforeEdit
    AfterEdit = cdsParamForneAfterEdit
    BeforePost = cdsParamForneBeforePost
    AfterPost = cdsParamForneAfterPost
    AfterCancel = cdsParamForneAfterCancel
    Left = 424
    Top = 8
    object cdsParamForneCDFORNECED: TStringField
      FieldName = 'CDFORNECED'
      Size = 21
    end
    object cdsParamForneNRDIASBLOQNFFOR: TFloatField
      FieldName = 'NRDIASBLOQNFFOR'
      DisplayLabel = 'N'#186' de dias para bloqueio do n'#250'mero de NF repetido'
      OnSetText = cdsParamForneNRDIASBLOQNFFORSetText
    end
    object cdsParamForneIDFORNEHOMO: TStringField
      FieldName = 'IDFORNEHOMO'
      Visible = False
      Size = 1
    end
    object cdsParamForneIDBLQNFRELAFOAF: TStringField
      FieldName = 'IDBLQNFRELAFOAF'
      Size = 1
    end
    object cdsParamForneIDOBRIMPXMLNF: TStringField
      FieldName = 'IDOBRIMPXMLNF'
      Size = 1
    end
    object cdsParamForneIDOBRCHAVACESFO: TStringField
      FieldName = 'IDOBRCHAVACESFO'
      Size = 1
    end
    object cdsParamForneIDVERINSFORCHNFE: TStringField
      FieldName = 'IDVERINSFORCHNFE'
      Size = 1
    end
    object cdsParamForneIDSIMPLESNACIONAL: TStringField
      FieldName = 'IDSIMPLESNACIONAL'
      Size = 1
    end
    object cdsParamForneIMPVENCXML: TStringField
      FieldName = 'IMPVENCXML'
      Size = 1
    end
    object cdsParamForneIDREACONSIMPXML: TStringField
      FieldName = 'IDREACONSIMPXML'
      Size = 1
    end
    object cdsParamForneIDBLOQALTPRODREL: TStringField
      FieldName = 'IDBLOQALTPRODREL'
      Size = 1
    end
    object cdsParamForneIDPROCNOTADEBCRE: TStringField
      FieldName = 'IDPROCNOTADEBCRE'
      Size = 1
    end
    object cdsParamForneIDUTPRIGXML: TStringField
      FieldName = 'IDUTPRIGXML'
      Size = 1
    end
    object cdsParamForneVRMAXPERMFORN: TFloatField
      FieldName = 'VRMAXPERMFORN'
      DisplayLabel = 'Valor M'#225'ximo Permitido'
      DisplayFormat = '#,##0.00'
    end
    object cdsParamForneCDGRPERMLANMAX: TStringField
      FieldName = 'CDGRPERMLANMAX'
      DisplayLabel = 'C'#243'digo do grupo com permiss'#227'o'
      Size = 2
    end
    object cdsParamForneDSGRUPOPER: TStringField
      FieldName = 'DSGRUPOPER'
      DisplayLabel = 'Descri'#231#227'o do grupo'
      Size = 30
    end
    object cdsParamForneIDREACONFVRNF: TStringField
      FieldName = 'IDREACONFVRNF'
      Size = 1
    end
    object cdsParamForneIDUTDESCITBCST: TStringField
      FieldName = 'IDUTDESCITBCST'
      Size = 1
    end
    object cdsParamForneIDCFOPCTEXML: TStringField
      FieldName = 'IDCFOPCTEXML'
      Size = 1
    end
    object cdsParamForneIDIMPVENCXMLCTE: TStringField
      FieldName = 'IDIMPVENCXMLCTE'
      Size = 1
    end
    object cdsParamForneIDNGRAVARELAC: TStringField
      FieldName = 'IDNGRAVARELAC'
      Size = 1
    end
    object cdsParamForneDTREACONSIMPXML: TDateTimeField
      FieldName = 'DTREACONSIMPXML'
      DisplayLabel = 'Data inicial para valida'#231#245'es das consist'#234'ncias'
    end
    object cdsParamForneQTREPETEPRODNF: TFloatField
      FieldName = 'QTREPETEPRODNF'
      DisplayLabel = 'N'#186' de vezes que um produto poder'#225' se repetir'
      OnSetText = cdsParamForneNRDIASBLOQNFFORSetText
    end
    object cdsParamForneCDPRODCONSREPE: TStringField
      FieldName = 'CDPRODCONSREPE'
      DisplayLabel = 'Produtos a serem considerados'
      Size = 255
    end
  end
  object dtsParamForn: TDataSource
    DataSet = cdsParamForne
    OnStateChange = dtsParamFornStateChange
    Left = 392
    Top = 8
  end
  object qryFornecedor: TADOIBQuery
    Active = False
    AutoCalcFields = True
    ADOConnection = dtmDBGeral.adcGeral
    DataBase = dtmDBGeral.dtbGeral
    Transaction = dtmDBGeral.ibtGeral
    ADOCursorLocation = clUseClient
    ADOCursorType = ctKeyset
    ADOLockType = ltReadOnly
    ADOCacheSize = 1
    ADOMaxRecords = 0
    ADOEnableBCD = False
    ADOExecuteOptions = []
    ADOFiltered = False
    ADOMarshalOptions = moMarshalAll
    ADOPrepared = False
    ParamCheck = True
    CachedUpdates = False
    ObjectView = False
    Params.Strings = (
      'P_NRINSJURFORN ftString ptUnknown'
      'P_TNRINSJURFORN ftString ptUnknown')
    SQL.Strings = (
      'SELECT'
      '   CDFORNECED,'
      '   NRINSJURFORN,'
      '   NMRAZSOCFORN,'
      '   IDTPIJURFORN'
      'FROM'
      '   FORNECEDOR'
      'WHERE'
      '   (NRINSJURFORN = :P_NRINSJURFORN OR :P_TNRINSJURFORN = ''T'')'
      'ORDER BY'
      '   IDTPIJURFORN,'
      '   NRINSJURFORN'
      ''
      ' '
      ' ')
    object qryFornecedorCDFORNECED: TADOIBStringField
      FieldName = 'CDFORNECED'
      DisplayWidth = 21
      Visible = False
      Origin = 'FORNECEDOR.CDFORNECED'
      Size = 21
    end
    object qryFornecedorNRINSJURFORN: TADOIBStringField
      FieldName = 'NRINSJURFORN'
      DisplayLabel = 'Inscri'#231#227'o'
      Origin = 'FORNECEDOR.NRINSJURFORN'
      OnGetText = qryFornecedorNRINSJURFORNGetText
    end
    object qryFornecedorNMRAZSOCFORN: TADOIBStringField
      FieldName = 'NMRAZSOCFORN'
      DisplayLabel = 'Raz'#227'o Social'
      Origin = 'FORNECEDOR.NMRAZSOCFORN'
      Size = 40
    end
    object qryFornecedorIDTPIJURFORN: TADOIBStringField
      FieldName = 'IDTPIJURFORN'
      DisplayLabel = 'Tipo'
      DisplayWidth = 15
      Origin = 'FORNECEDOR.IDTPIJURFORN'
      OnGetText = qryFornecedorIDTPIJURFORNGetText
      Size = 1
    end
  end
  object dtsFornecedor: TDataSource
    DataSet = qryFornecedor
    Left = 360
    Top = 40
  end
  object qryGrupoPermLan: TADOIBQuery
    Active = False
    AutoCalcFields = True
    ADOConnection = dtmDBGeral.adcGeral
    DataBase = dtmDBGeral.dtbGeral
    Transaction = dtmDBGeral.ibtGeral
    ADOCursorLocation = clUseClient
    ADOCursorType = ctKeyset
    ADOLockType = ltReadOnly
    ADOCacheSize = 1
    ADOMaxRecords = 0
    ADOEnableBCD = False
    ADOExecuteOptions = []
    ADOFiltered = False
    ADOMarshalOptions = moMarshalAll
    ADOPrepared = False
    ParamCheck = True
    CachedUpdates = False
    ObjectView = False
    DataSource = dtsGrupoPermLan
    Params.Strings = (
      'P_CDGRUPOPER ftString ptUnknown'
      'P_TGRUPOPER ftString ptUnknown')
    SQL.Strings = (
      'SELECT CDGRUPOPER, DSGRUPOPER'
      '  FROM GRUPOPER'
      ' WHERE ((CDGRUPOPER = :P_CDGRUPOPER) OR (:P_TGRUPOPER = ''T''))'
      ' ORDER BY CDGRUPOPER'
      ' ')
    object qryGrupoPermLanCDGRUPOPER: TADOIBStringField
      FieldName = 'CDGRUPOPER'
      DisplayLabel = 'C'#243'digo'
      Size = 2
    end
    object qryGrupoPermLanDSGRUPOPER: TADOIBStringField
      FieldName = 'DSGRUPOPER'
      DisplayLabel = 'Descri'#231#227'o'
      Size = 30
    end
  end
  object dtsGrupoPermLan: TDataSource
    DataSet = qryGrupoPermLan
    Left = 424
    Top = 40
  end
  object qryProdSerConsidera: TADOIBQuery
    Active = False
    AutoCalcFields = True
    ADOConnection = dtmDBGeral.adcGeral
    DataBase = dtmDBGeral.dtbGeral
    Transaction = dtmDBGeral.ibtGeral
    ADOCursorLocation = clUseClient
    ADOCursorType = ctKeyset
    ADOLockType = ltReadOnly
    ADOCacheSize = 1
    ADOMaxRecords = 0
    ADOEnableBCD = False
    ADOExecuteOptions = []
    ADOFiltered = False
    ADOMarshalOptions = moMarshalAll
    ADOPrepared = False
    ParamCheck = True
    CachedUpdates = False
    ObjectView = False
    DataSource = dtsProdSerConsidera
    SQL.Strings = (
      'SELECT CDARVPROD, NMPRODUTO'
      '  FROM PRODUTO'
      ' WHERE CDNVPRODUTO = ''1'''
      ' ORDER BY CDARVPROD')
    object qryProdSerConsideraCDARVPROD: TADOIBStringField
      FieldName = 'CDARVPROD'
      DisplayLabel = 'C'#243'digo'
    end
    object qryProdSerConsideraNMPRODUTO: TADOIBStringField
      FieldName = 'NMPRODUTO'
      DisplayLabel = 'Nome'
      Size = 50
    end
  end
  object dtsProdSerConsidera: TDataSource
    DataSet = qryProdSerConsidera
    Left = 488
    Top = 40
  end
end
