#pragma once
// Parâmetros por Fornecedor (KXF27400): for one supplier at a time, how its invoices and transport
// documents are entered and their XML imported. The layout lives in Cli_kxf27400.dfm; this class
// declares the components the screen uses, set by the form reader by name, and holds the handlers
// the definition binds by name.
#include "brx/BtnPesquisa.h"
#include "brx/DBDateEditPlus.h"
#include "brx/RotiGeral.h"
#include "db/ADOIBQuery.h"
#include "db/DBClient.h"
#include "db/DBCtrls.h"
#include "net/NetConnection.h"
#include "rtl/DateUtils.h"
#include "vcl/Mask.h"

namespace Cli_kxf27400 {

class TfrmParamForne : public TfrmRotiGeral {
public:
    explicit TfrmParamForne(TComponent* Owner);
    String ClassName() const override { return "TfrmParamForne"; }

    // Supplier box
    TGroupBox* grbFornecedor = Published(grbFornecedor, "grbFornecedor");
    TLabel* lblInscricao = Published(lblInscricao, "lblInscricao");
    TMaskEdit* medNrInsJurNF = Published(medNrInsJurNF, "medNrInsJurNF");
    TBtnPesquisa* btpFornecedor = Published(btpFornecedor, "btpFornecedor");
    TLabel* lblIdForne = Published(lblIdForne, "lblIdForne");
    TLabel* lblRazSocForn = Published(lblRazSocForn, "lblRazSocForn");
    TEdit* edtNmRasSocForn = Published(edtNmRasSocForn, "edtNmRasSocForn");
    // Days of blocking and the options
    TGroupBox* grbNrDiasBloqNF = Published(grbNrDiasBloqNF, "grbNrDiasBloqNF");
    TLabel* lblNrDiasBloqNF = Published(lblNrDiasBloqNF, "lblNrDiasBloqNF");
    TDBEdit* dbeNrDiasBloqNF = Published(dbeNrDiasBloqNF, "dbeNrDiasBloqNF");
    TGroupBox* grbBloqNFRelacForn = Published(grbBloqNFRelacForn, "grbBloqNFRelacForn");
    TDBCheckBox* dckBloqNFRelacForn = Published(dckBloqNFRelacForn, "dckBloqNFRelacForn");
    TGroupBox* grbOImpXmlNF = Published(grbOImpXmlNF, "grbOImpXmlNF");
    TDBCheckBox* dckOImpXmlNF = Published(dckOImpXmlNF, "dckOImpXmlNF");
    TDBCheckBox* dckObrigCAcesso = Published(dckObrigCAcesso, "dckObrigCAcesso");
    TDBCheckBox* dckVerifCpfCnpj = Published(dckVerifCpfCnpj, "dckVerifCpfCnpj");
    TDBCheckBox* dckSimples = Published(dckSimples, "dckSimples");
    TDBCheckBox* dckVencXML = Published(dckVencXML, "dckVencXML");
    TDBCheckBox* dckImpVencCTe = Published(dckImpVencCTe, "dckImpVencCTe");
    TDBCheckBox* dckBloqAltProdRelac = Published(dckBloqAltProdRelac, "dckBloqAltProdRelac");
    TDBCheckBox* dckProcNotaDebCre = Published(dckProcNotaDebCre, "dckProcNotaDebCre");
    TDBCheckBox* dckProdIGXML = Published(dckProdIGXML, "dckProdIGXML");
    TDBCheckBox* dckReaConfNF = Published(dckReaConfNF, "dckReaConfNF");
    TDBCheckBox* dckIdUtDescBCST = Published(dckIdUtDescBCST, "dckIdUtDescBCST");
    TDBCheckBox* dckCfopCte = Published(dckCfopCte, "dckCfopCte");
    TDBCheckBox* dckNGravaRelac = Published(dckNGravaRelac, "dckNGravaRelac");
    // Monthly purchase limit
    TGroupBox* GroupBox1 = Published(GroupBox1, "GroupBox1");
    TLabel* lblValMaxPerm = Published(lblValMaxPerm, "lblValMaxPerm");
    TDBEdit* dbeValMaxPerm = Published(dbeValMaxPerm, "dbeValMaxPerm");
    TGroupBox* GroupBox2 = Published(GroupBox2, "GroupBox2");
    TLabel* Label15 = Published(Label15, "Label15");
    TDBEdit* dbeCdGrupoPermLan = Published(dbeCdGrupoPermLan, "dbeCdGrupoPermLan");
    TBtnPesquisa* btnPesqGrupo = Published(btnPesqGrupo, "btnPesqGrupo");
    TDBEdit* dbeDescGrupoXML = Published(dbeDescGrupoXML, "dbeDescGrupoXML");
    // Consistency start date
    TGroupBox* grbLancNFSimplificado = Published(grbLancNFSimplificado, "grbLancNFSimplificado");
    TDBCheckBox* dckReaConsImpXml = Published(dckReaConsImpXml, "dckReaConsImpXml");
    TLabel* lblDtReaConsImpXML = Published(lblDtReaConsImpXML, "lblDtReaConsImpXML");
    TDBDateEditPlus* dbdDtReaConsImpXML = Published(dbdDtReaConsImpXML, "dbdDtReaConsImpXML");
    // Product repetition limit
    TGroupBox* grbLimiteProdNF = Published(grbLimiteProdNF, "grbLimiteProdNF");
    TLabel* lblQtRepeteProdNF = Published(lblQtRepeteProdNF, "lblQtRepeteProdNF");
    TDBEdit* dbeQtRepeteProdNF = Published(dbeQtRepeteProdNF, "dbeQtRepeteProdNF");
    TGroupBox* grbProdSerConsidera = Published(grbProdSerConsidera, "grbProdSerConsidera");
    TRadioButton* rbtTodosProdSerConsidera =
        Published(rbtTodosProdSerConsidera, "rbtTodosProdSerConsidera");
    TRadioButton* rbtListaProdSerConsidera =
        Published(rbtListaProdSerConsidera, "rbtListaProdSerConsidera");
    TBtnPesquisa* btpProdSerConsidera = Published(btpProdSerConsidera, "btpProdSerConsidera");
    TLabel* lblObsProdSerConsidera = Published(lblObsProdSerConsidera, "lblObsProdSerConsidera");
    TButtonFlat* sbtCancela = Published(sbtCancela, "sbtCancela");
    // Non-visual
    TNetConnection* netParamForne = Published(netParamForne, "netParamForne");
    TClientDataSet* cdsParamForne = Published(cdsParamForne, "cdsParamForne");
    TDataSource* dtsParamForn = Published(dtsParamForn, "dtsParamForn");
    TADOIBQuery* qryFornecedor = Published(qryFornecedor, "qryFornecedor");
    TDataSource* dtsFornecedor = Published(dtsFornecedor, "dtsFornecedor");
    TADOIBQuery* qryGrupoPermLan = Published(qryGrupoPermLan, "qryGrupoPermLan");
    TDataSource* dtsGrupoPermLan = Published(dtsGrupoPermLan, "dtsGrupoPermLan");
    TADOIBQuery* qryProdSerConsidera = Published(qryProdSerConsidera, "qryProdSerConsidera");
    TDataSource* dtsProdSerConsidera = Published(dtsProdSerConsidera, "dtsProdSerConsidera");

    // Lifecycle
    void FormCreate(TObject* Sender) override;
    void FormClose(TObject* Sender, TCloseAction& Action) override;
    void FormCloseQuery(TObject* Sender, bool& CanClose) override;
    void FormKeyPress(TObject* Sender, Char& Key) override;
    void netParamForneBeforeConnect(TObject* Sender);

    // Supplier selection and loading
    void Vd_Fornecedor(bool boMensagem);
    void grbFornecedorEnter(TObject* Sender);
    void medNrInsJurNFlxChange(TObject* Sender);
    void medNrInsJurNFlxEnter(TObject* Sender);
    void medNrInsJurNFlxExit(TObject* Sender);
    void btpFornecedorBeforePesq(TObject* Sender, bool& boContinua);
    void btpFornecedorAfterPesq(TObject* Sender);
    void qryFornecedorNRINSJURFORNGetText(TField* Sender, String& Text, bool DisplayText);
    void qryFornecedorIDTPIJURFORNGetText(TField* Sender, String& Text, bool DisplayText);

    // The two server calls. GetParamForn answers the value that CheckResultServ passed;
    // CarregaParamForn classifies it and loads the record, raising for anything but a success;
    // SetParamForn sends the pending changes and raises unless the server confirms them.
    Variant GetParamForn(const String& cdFornecedor);
    void CarregaParamForn(const Variant& resposta);
    void SetParamForn();

    // Edit cycle, option flags and saving
    void AplicaAlteracoes(bool boRecarrega);
    void cdsParamForneBeforeEdit(TDataSet* DataSet);
    void cdsParamForneAfterEdit(TDataSet* DataSet);
    void cdsParamForneBeforePost(TDataSet* DataSet);
    void cdsParamForneAfterPost(TDataSet* DataSet);
    void cdsParamForneAfterCancel(TDataSet* DataSet);
    void dtsParamFornStateChange(TObject* Sender);
    void sbtConfirmaClick(TObject* Sender);
    // The screen's own Cancel button, beside the base form's sbtCancelClick, which it does not
    // replace.
    void sbtCancelaClick(TObject* Sender); // NOLINT(bugprone-virtual-near-miss)
    void dbeNrDiasBloqNFKeyPress(TObject* Sender, Char& Key);
    void cdsParamForneNRDIASBLOQNFFORSetText(TField* Sender, const String& Text);
    void dckBloqNFRelacFornClick(TObject* Sender);
    void dckOImpXmlNFClick(TObject* Sender);
    void dckObrigCAcessoClick(TObject* Sender);
    void dckVerifCpfCnpjClick(TObject* Sender);
    void dckSimplesClick(TObject* Sender);
    void dckVencXMLClick(TObject* Sender);
    void dckImpVencCTeClick(TObject* Sender);
    void dckBloqAltProdRelacClick(TObject* Sender);
    void dckReaConfNFClick(TObject* Sender);
    void dckIdUtDescBCSTClick(TObject* Sender);
    void dckCfopCteClick(TObject* Sender);
    void dckNGravaRelacClick(TObject* Sender);

    // Monthly purchase limit and operator group
    void Vd_GrupoOper();
    void dbeValMaxPermKeyPress(TObject* Sender, Char& Key);
    void dbeCdGrupoPermLanChange(TObject* Sender);
    void dbeCdGrupoPermLanExit(TObject* Sender);
    void btnPesqGrupoBeforePesq(TObject* Sender, bool& boContinua);
    void btnPesqGrupoAfterPesq(TObject* Sender);

    // Consistency start date
    void Vd_Data();
    void dckReaConsImpXmlClick(TObject* Sender);
    void dbdDtReaConsImpXMLExit(TObject* Sender);

    // Product repetition limit
    void dbeQtRepeteProdNFChange(TObject* Sender);
    void rbtTodosProdSerConsideraClick(TObject* Sender);
    void rbtListaProdSerConsideraClick(TObject* Sender);
    void btpProdSerConsideraClick(TObject* Sender);
    // F4 or Alt+Down on "Lista" or on the repetition count opens the product list, which the
    // search button (never focused) could otherwise only open by the mouse.
    void ProdSerConsideraKeyDown(TObject* Sender, Word& Key, TShiftState Shift);

    // History of the loaded supplier's changes, newest first, read page by page from the server
    // (the host's menu entry and Ctrl+H while a supplier is loaded).
    void MostraHistorico();
    // The caption the user knows a field by ("Fornecedor optante pelo Simples Nacional").
    String LegendaCampo(const String& campo);

private:
    // A save whose outcome is unknown left the row on screen possibly behind the server's.
    bool boRecarregar = false;
    // The name of the supplier whose record is loaded, which the history names.
    String nmFornecedor_;
    void DescarregaFornecedor();
    void MarcaFlag(TDBCheckBox* dck, const char* campo);
    void HabilitaProdutos(bool comQuantidade);
    void IniciaEdicao();
    bool EmEdicao() const;
    void FocaSemFalhar(TWinControl* controle);
    // Vd_Fornecedor for the supplier already shown, after a save or a cancel.
    void RecarregaFornecedor();
    TField* Campo(const char* nome) const { return cdsParamForne->FieldByName(nome); }
};

// Messages of the screen beyond those of the catalogue, which keeps its designed entries: what the
// user is told when a save's answer never came, and when the row was read again because of it.
inline constexpr const char* MsgGravacaoIncerta =
    "Não foi possível confirmar se as alterações foram gravadas: o servidor de aplicação não "
    "respondeu. O registro será recarregado do servidor quando ele voltar a responder; confira "
    "então os valores.";
inline constexpr const char* CmdHistorico = "&Histórico de alterações do fornecedor";
inline constexpr const char* AtalhoHistorico = "Ctrl+H";
inline constexpr const char* MsgRecarregado =
    "O registro foi recarregado do servidor de aplicação. Confira os valores e repita a "
    "alteração, se ainda for necessária.";

extern TfrmParamForne* frmParamForne;
extern bool boStCriado;
extern TDateTime dtDataAtual;
extern String stProdSerConsidera;

// Creates the screen if it does not exist, then shows it in normal window state.
void CriaParamForne();
void initialization();
void Finalization();

} // namespace Cli_kxf27400
