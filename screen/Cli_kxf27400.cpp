#include "screen/Cli_kxf27400.h"
#include "screen/ParamLimits.h"

#include "Consiste.h"
#include "Pesqlista.h"
#include "Showavi.h"
#include "net/Brannox.h"
#include "rtl/ScopeGuard.h"
#include "rtl/Utf8.h"

#include <algorithm>
#include <charconv>
#include <memory>

namespace Cli_kxf27400 {

TfrmParamForne* frmParamForne = nullptr;
bool boStCriado = false;
TDateTime dtDataAtual;
String stProdSerConsidera;
static String stInscricao;

TfrmParamForne::TfrmParamForne(TComponent* Owner) : TfrmRotiGeral(Owner) {
    Publish("netParamForneBeforeConnect", &TfrmParamForne::netParamForneBeforeConnect);
    Publish("grbFornecedorEnter", &TfrmParamForne::grbFornecedorEnter);
    Publish("medNrInsJurNFlxChange", &TfrmParamForne::medNrInsJurNFlxChange);
    Publish("medNrInsJurNFlxEnter", &TfrmParamForne::medNrInsJurNFlxEnter);
    Publish("medNrInsJurNFlxExit", &TfrmParamForne::medNrInsJurNFlxExit);
    Publish("btpFornecedorBeforePesq", &TfrmParamForne::btpFornecedorBeforePesq);
    Publish("btpFornecedorAfterPesq", &TfrmParamForne::btpFornecedorAfterPesq);
    Publish("qryFornecedorNRINSJURFORNGetText", &TfrmParamForne::qryFornecedorNRINSJURFORNGetText);
    Publish("qryFornecedorIDTPIJURFORNGetText", &TfrmParamForne::qryFornecedorIDTPIJURFORNGetText);
    Publish("cdsParamForneBeforeEdit", &TfrmParamForne::cdsParamForneBeforeEdit);
    Publish("cdsParamForneAfterEdit", &TfrmParamForne::cdsParamForneAfterEdit);
    Publish("cdsParamForneBeforePost", &TfrmParamForne::cdsParamForneBeforePost);
    Publish("cdsParamForneAfterPost", &TfrmParamForne::cdsParamForneAfterPost);
    Publish("cdsParamForneAfterCancel", &TfrmParamForne::cdsParamForneAfterCancel);
    Publish("dtsParamFornStateChange", &TfrmParamForne::dtsParamFornStateChange);
    Publish("sbtConfirmaClick", &TfrmParamForne::sbtConfirmaClick);
    Publish("sbtCancelaClick", &TfrmParamForne::sbtCancelaClick);
    Publish("dbeNrDiasBloqNFKeyPress", &TfrmParamForne::dbeNrDiasBloqNFKeyPress);
    Publish("cdsParamForneNRDIASBLOQNFFORSetText",
            &TfrmParamForne::cdsParamForneNRDIASBLOQNFFORSetText);
    Publish("dckBloqNFRelacFornClick", &TfrmParamForne::dckBloqNFRelacFornClick);
    Publish("dckOImpXmlNFClick", &TfrmParamForne::dckOImpXmlNFClick);
    Publish("dckObrigCAcessoClick", &TfrmParamForne::dckObrigCAcessoClick);
    Publish("dckVerifCpfCnpjClick", &TfrmParamForne::dckVerifCpfCnpjClick);
    Publish("dckSimplesClick", &TfrmParamForne::dckSimplesClick);
    Publish("dckVencXMLClick", &TfrmParamForne::dckVencXMLClick);
    Publish("dckImpVencCTeClick", &TfrmParamForne::dckImpVencCTeClick);
    Publish("dckBloqAltProdRelacClick", &TfrmParamForne::dckBloqAltProdRelacClick);
    Publish("dckReaConfNFClick", &TfrmParamForne::dckReaConfNFClick);
    Publish("dckIdUtDescBCSTClick", &TfrmParamForne::dckIdUtDescBCSTClick);
    Publish("dckCfopCteClick", &TfrmParamForne::dckCfopCteClick);
    Publish("dckNGravaRelacClick", &TfrmParamForne::dckNGravaRelacClick);
    Publish("dbeValMaxPermKeyPress", &TfrmParamForne::dbeValMaxPermKeyPress);
    Publish("dbeCdGrupoPermLanChange", &TfrmParamForne::dbeCdGrupoPermLanChange);
    Publish("dbeCdGrupoPermLanExit", &TfrmParamForne::dbeCdGrupoPermLanExit);
    Publish("btnPesqGrupoBeforePesq", &TfrmParamForne::btnPesqGrupoBeforePesq);
    Publish("btnPesqGrupoAfterPesq", &TfrmParamForne::btnPesqGrupoAfterPesq);
    Publish("dckReaConsImpXmlClick", &TfrmParamForne::dckReaConsImpXmlClick);
    Publish("dbdDtReaConsImpXMLExit", &TfrmParamForne::dbdDtReaConsImpXMLExit);
    Publish("dbeQtRepeteProdNFChange", &TfrmParamForne::dbeQtRepeteProdNFChange);
    Publish("rbtTodosProdSerConsideraClick", &TfrmParamForne::rbtTodosProdSerConsideraClick);
    Publish("rbtListaProdSerConsideraClick", &TfrmParamForne::rbtListaProdSerConsideraClick);
    Publish("btpProdSerConsideraClick", &TfrmParamForne::btpProdSerConsideraClick);
    Publish("ProdSerConsideraKeyDown", &TfrmParamForne::ProdSerConsideraKeyDown);
    ReadDefinition("TfrmParamForne");
}

// ---------------------------------------------------------------------------------------------
// Lifecycle

void CriaParamForne() {
    TCursorScope ampulheta(crHourGlass);
    if (!boStCriado) {
        Application->CreateForm(frmParamForne);
        boStCriado = true;
    }
    frmParamForne->Show();
    frmParamForne->SetWindowState(wsNormal);
}

void TfrmParamForne::FormCreate(TObject* Sender) {
    TfrmRotiGeral::FormCreate(Sender);
    AddCommand({CmdHistorico, AtalhoHistorico, [this] { return cdsParamForne->Active(); },
                [this] { MostraHistorico(); }});
    Showavi::TBusyScope conectando(Application->MainForm(), 0);
    netParamForne->SetConnected(true);
    stProdSerConsidera = "";
}

void TfrmParamForne::netParamForneBeforeConnect(TObject*) {
    netParamForne->Host = Brannox::WebURL();
    netParamForne->Port = Brannox::WebPort();
}

void TfrmParamForne::FormClose(TObject* Sender, TCloseAction& Action) {
    netParamForne->SetConnected(false);
    boStCriado = false;
    TfrmRotiGeral::FormClose(Sender, Action);
}

// Closing with a pending edit asks as Cancel does: "Não" keeps the screen and the edit, "Sim"
// drops the edit before the screen goes.
void TfrmParamForne::FormCloseQuery(TObject*, bool& CanClose) {
    if (!EmEdicao()) return;
    if (msgPadrao->ShowMsg("Canc", mtConfirmation, {mbYes, mbNo}, 0) != mrYes) {
        CanClose = false;
        return;
    }
    cdsParamForne->CancelUpdates();
}

void initialization() {
    boStCriado = false;
}

void Finalization() {
    stInscricao.clear();
    stInscricao.shrink_to_fit();
    stProdSerConsidera.clear();
    stProdSerConsidera.shrink_to_fit();
}

// ---------------------------------------------------------------------------------------------
// Helpers

bool TfrmParamForne::EmEdicao() const {
    TDataSetState s = cdsParamForne->State();
    return s == dsEdit || s == dsInsert;
}

void TfrmParamForne::IniciaEdicao() {
    if (!EmEdicao()) cdsParamForne->Edit();
}

// Moving the focus back to the field at fault must not replace the failure being reported.
void TfrmParamForne::FocaSemFalhar(TWinControl* controle) {
    try {
        if (controle->CanFocus()) controle->SetFocus();
    } catch (...) {
    }
}

// A reload that fails (the server down) leaves the record as it was loaded: the inscription
// keeps the mask and the name of that supplier instead of the bare text a failed load leaves
// for the user to correct.
void TfrmParamForne::RecarregaFornecedor() {
    const String mascara = medNrInsJurNF->EditMask(), inscricao = medNrInsJurNF->Text();
    const String nome = edtNmRasSocForn->Text();
    try {
        Vd_Fornecedor(true);
    } catch (...) {
        try {
            if (!mascara.empty() && medNrInsJurNF->Text() == inscricao) {
                medNrInsJurNF->SetEditMask(mascara);
                edtNmRasSocForn->SetText(nome);
            }
        } catch (...) {
        }
        throw;
    }
}

// ---------------------------------------------------------------------------------------------
// Supplier selection and loading

void TfrmParamForne::medNrInsJurNFlxEnter(TObject*) {
    medNrInsJurNF->SetEditMask("");
    medNrInsJurNF->SetMaxLength(20);
}

void TfrmParamForne::medNrInsJurNFlxChange(TObject*) {
    edtNmRasSocForn->SetText("");
}

void TfrmParamForne::medNrInsJurNFlxExit(TObject*) {
    Vd_Fornecedor(true);
}

void TfrmParamForne::grbFornecedorEnter(TObject*) {
    dbeNrDiasBloqNF->Clear();
}

void TfrmParamForne::btpFornecedorBeforePesq(TObject*, bool&) {
    // Shows no animation of its own; a failed search leaves none behind, whoever showed it.
    try {
        qryFornecedor->Close();
        qryFornecedor->ParamByName("P_NRINSJURFORN").SetAsString("");
        qryFornecedor->ParamByName("P_TNRINSJURFORN").SetAsString("T");
        qryFornecedor->Open();
    } catch (...) {
        Showavi::DeactiveShowAvi();
        throw;
    }
}

void TfrmParamForne::btpFornecedorAfterPesq(TObject*) {
    TDataSet* q = qryFornecedor->Query();
    // The picked name must not sit beside another supplier's options until the box is left.
    if (cdsParamForne->Active() &&
        Campo("CDFORNECED")->AsString() != q->FieldByName("CDFORNECED")->AsString())
        DescarregaFornecedor();
    medNrInsJurNF->SetText(q->FieldByName("NRINSJURFORN")->AsString());
    edtNmRasSocForn->SetText(q->FieldByName("NMRAZSOCFORN")->AsString());
}

void TfrmParamForne::qryFornecedorNRINSJURFORNGetText(TField*, String& Text, bool) {
    TDataSet* q = qryFornecedor->Query();
    String inscricao = q->FieldByName("NRINSJURFORN")->AsString();
    String tipo = q->FieldByName("IDTPIJURFORN")->AsString();
    Text = FormatMaskText(Consiste::PictPess(tipo), inscricao);
}

void TfrmParamForne::qryFornecedorIDTPIJURFORNGetText(TField* Sender, String& Text, bool) {
    String tipo = Sender->AsString();
    if (tipo == "F")
        Text = msgPadrao->Msg("FISICA");
    else if (tipo == "J")
        Text = msgPadrao->Msg("JURIDICA");
    else if (tipo == "O")
        Text = msgPadrao->Msg("OUTROS");
    else if (tipo == "I")
        Text = msgPadrao->Msg("INSC_JURIDICA");
}

Variant TfrmParamForne::GetParamForn(const String& cdFornecedor) {
    Variant resposta = netParamForne->AppServer().Call("GetParamForn", {Variant(cdFornecedor)});
    return Consiste::CheckResultServ(resposta, true, 0);
}

void TfrmParamForne::CarregaParamForn(const Variant& resposta) {
    // Every answer but a success is a failed load, an error text as much as a refusal: the
    // record, dtDataAtual and the controls stay as they were and the inscription keeps the focus,
    // so the screen never names one supplier while it holds another's record.
    // The host runtime's string kinds: OLE string, string argument and its own string.
    uint16_t tipo = resposta.VarType();
    if (tipo == varOleStr || tipo == varStrArg || tipo == varString)
        Consiste::MensErro(resposta.AsString(), true);
    if (resposta[0].IsString() && resposta[0].AsString() == "N" && resposta.ArrayLength() > 1)
        Consiste::MensErro(resposta[1].AsString(), true);
    // Both parts are read before the row is replaced, so a bad date or a missing packet fails
    // the load with the previous row still whole; so does an answer too short to hold them.
    if (resposta.ArrayLength() < 3 || VarIsNull(resposta[1]))
        throw Exception("Resposta inválida do servidor de aplicação.");
    TDateTime hoje = DateOf(StrToDate(resposta[2].AsString()));
    cdsParamForne->SetData(resposta[1]);
    dtDataAtual = hoje;
    boRecarregar = false;
}

void TfrmParamForne::SetParamForn() {
    bool boDiasVazio = Consiste::EmptyString(dbeNrDiasBloqNF->Text());
    Variant delta = cdsParamForne->Delta();
    Variant resposta;
    try {
        resposta = netParamForne->AppServer().Call("SetParamForn", {delta, Variant(boDiasVazio)});
    } catch (const ENetOutcomeUnknown&) {
        // Sent again until the call timeout and still no answer: the row is read again from
        // the server before it can be edited.
        boRecarregar = true;
        throw Exception(MsgGravacaoIncerta);
    }
    resposta = Consiste::CheckResultServ(resposta, true, 0);
    // A save is done only on the success form; a refusal, an error text or any other answer is
    // the failure it is, and the caller discards the change log.
    if (resposta.IsString()) Consiste::MensErro(resposta.AsString(), true);
    String situacao = resposta[0].AsString();
    if (situacao == "S") return;
    if (situacao == "N" && resposta.ArrayLength() > 1)
        Consiste::MensErro(resposta[1].AsString(), true);
    throw Exception("Resposta inválida do servidor de aplicação: a gravação não foi confirmada.");
}

void TfrmParamForne::Vd_Fornecedor(bool boMensagem) {
    bool boVazio = Consiste::EmptyString(medNrInsJurNF->Text());
    try {
        if (!boVazio) {
            stInscricao = medNrInsJurNF->Text();
            stInscricao = Consiste::Ajusta_Inscricao(stInscricao);
            medNrInsJurNF->SetEditMask(Consiste::PictPess(stInscricao));
            medNrInsJurNF->SetMaxLength(20);
        }
        if (boMensagem && boVazio) Consiste::MensErro(msgPadrao->Msg("Forn_N_Inf"), true);

        auto procura = [this](const String& inscricao) {
            qryFornecedor->Close();
            qryFornecedor->ParamByName("P_NRINSJURFORN").SetAsString(inscricao);
            qryFornecedor->ParamByName("P_TNRINSJURFORN").SetAsString("");
            qryFornecedor->Open();
        };
        procura(medNrInsJurNF->Text());
        // Another program may have stored the inscription with its punctuation. Under a mask it
        // is looked up bare first and, when that finds nothing, as the mask shows it
        // ("98.765.432/0001-98"): two lookups by the inscription's index, never a scan.
        if (qryFornecedor->IsEmpty() && !boVazio && !medNrInsJurNF->EditMask().empty())
            procura(medNrInsJurNF->EditText());
        // Without a mask nothing strips punctuation or raises letters: it is looked up as typed
        // or picked first, and in the adjusted form only when that finds nothing.
        if (qryFornecedor->IsEmpty() && !boVazio && medNrInsJurNF->EditMask().empty() &&
            medNrInsJurNF->Text() != stInscricao) {
            medNrInsJurNF->SetText(stInscricao);
            procura(medNrInsJurNF->Text());
        }
        if (qryFornecedor->IsEmpty()) {
            medNrInsJurNF->SetMaxLength(20);
            Consiste::MensErro(msgPadrao->Msg("Forn_NCad"), true);
        }
        TDataSet* q = qryFornecedor->Query();
        edtNmRasSocForn->SetText(q->FieldByName("NMRAZSOCFORN")->AsString());

        try {
            Showavi::TBusyScope carregando(Application->MainForm(), 6);
            Variant resposta = GetParamForn(q->FieldByName("CDFORNECED")->AsString());
            carregando.Hide();
            CarregaParamForn(resposta);

            String homologado = Campo("IDFORNEHOMO")->AsString();
            if (homologado == "S")
                lblIdForne->SetCaption(msgPadrao->Msg("Homologado"));
            else if (homologado == "N")
                lblIdForne->SetCaption(msgPadrao->Msg("N_homologado"));
            else
                lblIdForne->SetCaption("");

            if (Campo("IDREACONSIMPXML")->AsString() == "S" && Campo("DTREACONSIMPXML")->IsNull()) {
                dbdDtReaConsImpXML->SetColor(clInfoBk);
                dbdDtReaConsImpXML->SetEnabled(true);
            } else {
                dbdDtReaConsImpXML->SetColor(clBtnFace);
                dbdDtReaConsImpXML->SetEnabled(false);
            }

            // Setting the radio buttons from the row must not start an edit: their click handlers
            // are off until the block ends.
            TScopedValue<TNotifyEvent> semTodos(rbtTodosProdSerConsidera->OnClick, nullptr);
            TScopedValue<TNotifyEvent> semLista(rbtListaProdSerConsidera->OnClick, nullptr);
            if (Consiste::EmptyString(Campo("CDPRODCONSREPE")->AsString())) {
                rbtTodosProdSerConsidera->SetChecked(true);
                rbtListaProdSerConsidera->SetChecked(false);
            } else {
                rbtTodosProdSerConsidera->SetChecked(false);
                rbtListaProdSerConsidera->SetChecked(true);
            }
            HabilitaProdutos(!Consiste::EmptyString(Campo("QTREPETEPRODNF")->AsString()));
            stProdSerConsidera = Campo("CDPRODCONSREPE")->AsString();
            nmFornecedor_ = edtNmRasSocForn->Text();
        } catch (...) {
            // The name found goes unless the record shown is that supplier's (a reload after a
            // save): the name never stands beside another supplier's options.
            if (!cdsParamForne->Active() ||
                Campo("CDFORNECED")->AsString() != q->FieldByName("CDFORNECED")->AsString())
                edtNmRasSocForn->SetText("");
            FocaSemFalhar(medNrInsJurNF);
            throw;
        }
    } catch (...) {
        medNrInsJurNF->SetEditMask("");
        medNrInsJurNF->SetMaxLength(20);
        FocaSemFalhar(medNrInsJurNF);
        throw;
    }
}

// No supplier on the screen: its record, homologation word, date box and product choice go.
void TfrmParamForne::DescarregaFornecedor() {
    cdsParamForne->Close();
    nmFornecedor_.clear();
    lblIdForne->SetCaption("");
    dbdDtReaConsImpXML->SetColor(clBtnFace);
    dbdDtReaConsImpXML->SetEnabled(false);
    TScopedValue<TNotifyEvent> semTodos(rbtTodosProdSerConsidera->OnClick, nullptr);
    TScopedValue<TNotifyEvent> semLista(rbtListaProdSerConsidera->OnClick, nullptr);
    rbtTodosProdSerConsidera->SetChecked(true);
    HabilitaProdutos(false);
    stProdSerConsidera = "";
}

// ---------------------------------------------------------------------------------------------
// Edit cycle, option flags and saving

void TfrmParamForne::AplicaAlteracoes(bool boRecarrega) {
    if (cdsParamForne->ChangeCount() <= 0) return;
    try {
        Showavi::TBusyScope aplicando(frmParamForne, 1, msgPadrao->Msg("Aplic_alter"));
        SetParamForn();
        cdsParamForne->MergeChangeLog();
        aplicando.Hide();
        // A word in the host's status line that the save went through; no dialog to dismiss.
        Application->ShowStatus("Parâmetros do fornecedor " + Campo("CDFORNECED")->AsString() +
                                " gravados às " + FormatDateTime("hh:nn", Now()));
        if (boRecarrega) RecarregaFornecedor();
    } catch (...) {
        cdsParamForne->CancelUpdates();
        throw;
    }
}

// After a save of unknown outcome the row shown may not be the stored one: it is reloaded before
// any new change, and the user repeats the change on what the server holds.
void TfrmParamForne::cdsParamForneBeforeEdit(TDataSet*) {
    if (!boRecarregar) return;
    RecarregaFornecedor();
    MessageDlg(MsgRecarregado, mtInformation, {mbOK}, 0);
    Abort();
}

void TfrmParamForne::cdsParamForneAfterEdit(TDataSet*) {
    sbtCancela->SetEnabled(true);
    sbtConfirma->SetEnabled(true);
    AplicaAlteracoes(false);
}

void TfrmParamForne::cdsParamForneBeforePost(TDataSet* DataSet) {
    if (dbdDtReaConsImpXML->Enabled()) Vd_Data();

    // The days are a whole number, like the repetition count: the key filter lets 'E' through,
    // and "9E99" would otherwise be stored as a number of days. Checked only when changed, so a
    // value stored by another program never blocks the other changes.
    TField* dias = Campo("NRDIASBLOQNFFOR");
    if (!Consiste::EmptyString(dbeNrDiasBloqNF->Text()) &&
        (VarIsNull(dias->OldValue()) || !(dias->OldValue() == dias->NewValue())))
        StrToInt(dbeNrDiasBloqNF->Text());

    if (Consiste::EmptyString(dbeQtRepeteProdNF->Text())) {
        Campo("CDPRODCONSREPE")->SetAsString("");
    } else if (StrToInt(dbeQtRepeteProdNF->Text()) < ParamLimits::kQtRepeteProdNF.minimum) {
        Consiste::MensErro(msgPadrao->Msg("QtRepeteProdNF_Maior"), true);
    }

    if (rbtTodosProdSerConsidera->Checked()) {
        stProdSerConsidera = "";
        Campo("CDPRODCONSREPE")->SetAsString("");
    }

    Consiste::Seta_Campo_Null(DataSet);
    Vd_GrupoOper();
}

void TfrmParamForne::cdsParamForneAfterPost(TDataSet*) {
    AplicaAlteracoes(true);
}

void TfrmParamForne::cdsParamForneAfterCancel(TDataSet*) {
    cdsParamForne->CancelUpdates();
    RecarregaFornecedor();
}

void TfrmParamForne::dtsParamFornStateChange(TObject*) {
    medNrInsJurNF->SetMaxLength(20);
    Consiste::SetChildEnabled(grbFornecedor, !EmEdicao());
}

void TfrmParamForne::sbtConfirmaClick(TObject*) {
    TDataSet* ds = dtsParamForn->DataSet();
    if (ds && (ds->State() == dsEdit || ds->State() == dsInsert)) ds->Post();
    sbtConfirma->SetEnabled(false);
    sbtCancela->SetEnabled(false);
}

void TfrmParamForne::sbtCancelaClick(TObject*) { // NOLINT(bugprone-virtual-near-miss)
    if (dtsParamForn->State() != dsEdit) return;
    if (msgPadrao->ShowMsg("Canc", mtConfirmation, {mbYes, mbNo}, 0) != mrYes) return;
    cdsParamForne->Cancel();
    sbtConfirma->SetEnabled(false);
    sbtCancela->SetEnabled(false);
}

void TfrmParamForne::FormKeyPress(TObject*, Char& Key) {
    if (Key != 27) return;
    // While an edit is pending Esc is the question, answered either way: the focused control
    // must not also take it as its own Esc and put back the field's value, which would undo the
    // user's change after "Não" and save the old value on the next Confirm.
    if (dtsParamForn->State() == dsEdit) Key = 0;
    sbtCancelaClick(sbtCancela);
}

void TfrmParamForne::dbeNrDiasBloqNFKeyPress(TObject*, Char& Key) {
    if (Key == U'+' || Key == U',' || Key == U'-' || Key == U'.' || Key == U'e') Key = 0;
}

// The days and the repetition count are whole numbers of no more digits than their limits allow
// (the limits the server checks too). The field, a floating-point one, would take "9E3" as 9000:
// the text must be plain digits, or the box is not left, as with any text its field cannot take,
// and nothing reaches the server.
void TfrmParamForne::cdsParamForneNRDIASBLOQNFFORSetText(TField* Sender, const String& Text) {
    const String numero = Trim(Text);
    if (numero.empty()) {
        Sender->Clear();
        return;
    }
    const ParamLimits::NumberLimit& limite = Sender->FieldName() == "QTREPETEPRODNF"
                                                 ? ParamLimits::kQtRepeteProdNF
                                                 : ParamLimits::kNrDiasBloqNFFor;
    if (numero.size() > static_cast<size_t>(limite.integerDigits) ||
        !std::all_of(numero.begin(), numero.end(), [](char c) { return c >= '0' && c <= '9'; }))
        throw EConvertError("'" + Text + "' não é um número inteiro válido para o campo " +
                            Sender->DisplayLabel() + ".");
    Sender->SetAsInteger(StrToInt(numero));
}

void TfrmParamForne::MarcaFlag(TDBCheckBox* dck, const char* campo) {
    if (dtsParamForn->State() != dsEdit) return;
    Campo(campo)->SetAsString(dck->Checked() ? "S" : "N");
}

void TfrmParamForne::dckBloqNFRelacFornClick(TObject*) {
    MarcaFlag(dckBloqNFRelacForn, "IDBLQNFRELAFOAF");
}
void TfrmParamForne::dckOImpXmlNFClick(TObject*) {
    MarcaFlag(dckOImpXmlNF, "IDOBRIMPXMLNF");
}
void TfrmParamForne::dckObrigCAcessoClick(TObject*) {
    MarcaFlag(dckObrigCAcesso, "IDOBRCHAVACESFO");
}
void TfrmParamForne::dckVerifCpfCnpjClick(TObject*) {
    MarcaFlag(dckVerifCpfCnpj, "IDVERINSFORCHNFE");
}
void TfrmParamForne::dckSimplesClick(TObject*) {
    MarcaFlag(dckSimples, "IDSIMPLESNACIONAL");
}
void TfrmParamForne::dckVencXMLClick(TObject*) {
    MarcaFlag(dckVencXML, "IMPVENCXML");
}
void TfrmParamForne::dckImpVencCTeClick(TObject*) {
    MarcaFlag(dckImpVencCTe, "IDIMPVENCXMLCTE");
}
void TfrmParamForne::dckBloqAltProdRelacClick(TObject*) {
    MarcaFlag(dckBloqAltProdRelac, "IDBLOQALTPRODREL");
}
void TfrmParamForne::dckReaConfNFClick(TObject*) {
    MarcaFlag(dckReaConfNF, "IDREACONFVRNF");
}
void TfrmParamForne::dckIdUtDescBCSTClick(TObject*) {
    MarcaFlag(dckIdUtDescBCST, "IDUTDESCITBCST");
}
void TfrmParamForne::dckCfopCteClick(TObject*) {
    MarcaFlag(dckCfopCte, "IDCFOPCTEXML");
}
void TfrmParamForne::dckNGravaRelacClick(TObject*) {
    MarcaFlag(dckNGravaRelac, "IDNGRAVARELAC");
}

// ---------------------------------------------------------------------------------------------
// Monthly purchase limit and operator group

void TfrmParamForne::dbeValMaxPermKeyPress(TObject*, Char& Key) {
    String texto = dbeValMaxPerm->Text();
    if (!(Key == 8 || Key == U',' || (Key >= U'0' && Key <= U'9'))) Key = 0;
    if (Key == U',' && texto.find(',') != String::npos) Key = 0;
    Consiste::MaxNumber(dbeValMaxPerm->Text(), ParamLimits::kVrMaxPermForn.integerDigits,
                        ParamLimits::kVrMaxPermForn.decimals, ToUtf8(Key),
                        dbeValMaxPerm->SelStart(), dbeValMaxPerm->SelLength());
}

void TfrmParamForne::btnPesqGrupoBeforePesq(TObject*, bool&) {
    qryGrupoPermLan->Close();
    qryGrupoPermLan->ParamByName("P_CDGRUPOPER").SetValue(Variant(String()));
    qryGrupoPermLan->ParamByName("P_TGRUPOPER").SetValue(Variant(String("T")));
    qryGrupoPermLan->Open();
}

void TfrmParamForne::btnPesqGrupoAfterPesq(TObject*) {
    IniciaEdicao();
    TDataSet* q = qryGrupoPermLan->Query();
    Campo("CDGRPERMLANMAX")->SetAsString(q->FieldByName("CDGRUPOPER")->AsString());
    Campo("DSGRUPOPER")->SetAsString(q->FieldByName("DSGRUPOPER")->AsString());
}

void TfrmParamForne::dbeCdGrupoPermLanChange(TObject*) {
    if (cdsParamForne->State() != dsBrowse) dbeDescGrupoXML->Clear();
}

void TfrmParamForne::dbeCdGrupoPermLanExit(TObject*) {
    Vd_GrupoOper();
}

void TfrmParamForne::Vd_GrupoOper() {
    auto procura = [this](const String& codigo) {
        qryGrupoPermLan->Close();
        qryGrupoPermLan->ParamByName("P_CDGRUPOPER").SetValue(Variant(codigo));
        qryGrupoPermLan->ParamByName("P_TGRUPOPER").SetValue(Variant(String()));
        qryGrupoPermLan->Open();
        if (qryGrupoPermLan->IsEmpty()) Consiste::MensErro(msgPadrao->Msg("Grupo_Oper"), true);
    };
    auto grava = [this] {
        TDataSet* q = qryGrupoPermLan->Query();
        Campo("CDGRPERMLANMAX")->SetAsString(q->FieldByName("CDGRUPOPER")->AsString());
        Campo("DSGRUPOPER")->SetAsString(q->FieldByName("DSGRUPOPER")->AsString());
    };
    try {
        if (EmEdicao()) {
            Campo("CDGRPERMLANMAX")->SetAsString(Consiste::Ajusta(dbeCdGrupoPermLan->Text(), 2));
            if (Consiste::EmptyString(Campo("CDGRPERMLANMAX")->AsString())) return;
            procura(Campo("CDGRPERMLANMAX")->AsString());
            grava();
        } else {
            if (cdsParamForne->State() == dsInactive) return;
            if (Consiste::EmptyString(Campo("CDGRPERMLANMAX")->AsString())) return;
            if (!Consiste::EmptyString(Campo("DSGRUPOPER")->AsString())) return;
            procura(Campo("CDGRPERMLANMAX")->AsString());
            cdsParamForne->Edit();
            grava();
        }
    } catch (...) {
        FocaSemFalhar(dbeCdGrupoPermLan);
        throw;
    }
}

// ---------------------------------------------------------------------------------------------
// Consistency start date

void TfrmParamForne::dckReaConsImpXmlClick(TObject*) {
    if (dtsParamForn->State() != dsEdit) return;
    if (dckReaConsImpXml->Checked()) {
        Campo("IDREACONSIMPXML")->SetAsString("S");
        // The date stored for the supplier decides, not what the record holds now: a date put in
        // since the load and dropped again by unticking must not keep the box closed.
        if (VarIsNull(Campo("DTREACONSIMPXML")->OldValue())) {
            dbdDtReaConsImpXML->SetDate(DateOf(dtDataAtual));
            dbdDtReaConsImpXML->SetColor(clInfoBk);
            dbdDtReaConsImpXML->SetEnabled(true);
        } else {
            dbdDtReaConsImpXML->SetColor(clBtnFace);
            dbdDtReaConsImpXML->SetEnabled(false);
        }
    } else {
        Campo("IDREACONSIMPXML")->SetAsString("N");
        if (dbdDtReaConsImpXML->Enabled()) dbdDtReaConsImpXML->Clear();
        dbdDtReaConsImpXML->SetColor(clBtnFace);
        dbdDtReaConsImpXML->SetEnabled(false);
    }
}

void TfrmParamForne::dbdDtReaConsImpXMLExit(TObject*) {
    dbdDtReaConsImpXML->CheckValidDate();
}

void TfrmParamForne::Vd_Data() {
    try {
        dbdDtReaConsImpXML->CheckValidDate();
        bool vazio = Consiste::EmptyString(dbdDtReaConsImpXML->Text());
        if (vazio && dckReaConsImpXml->Checked())
            Consiste::MensErro(msgPadrao->Msg("DT_INI_DEVE"), true);
        if (!vazio && dckReaConsImpXml->Checked() &&
            DateOf(dbdDtReaConsImpXML->GetDate()) < DateOf(dtDataAtual)) {
            Consiste::MensErro(Format(msgPadrao->Msg("DT_INI_MAIOR_ATUAL"), {DateToStr(Date())}),
                               true);
        }
        TField* data = Campo("DTREACONSIMPXML");
        Variant antes = data->OldValue(), depois = data->NewValue();
        bool mudou = antes.IsNull() || antes.IsEmpty()
                         ? !(depois.IsNull() || depois.IsEmpty())
                         : (depois.IsNull() || depois.IsEmpty() ||
                            DateOf(antes.AsDateTime()) != DateOf(depois.AsDateTime()));
        if (mudou) {
            String texto = Format(msgPadrao->Msg("CONF_DT_VAL_CONS"),
                                  {DateToStr(dbdDtReaConsImpXML->GetDate())});
            if (MessageDlg(texto, mtWarning, {mbYes, mbNo}, 0) != mrYes) {
                FocaSemFalhar(dbdDtReaConsImpXML);
                Abort();
            }
        }
    } catch (...) {
        if (dbdDtReaConsImpXML->Enabled()) FocaSemFalhar(dbdDtReaConsImpXML);
        throw;
    }
}

// ---------------------------------------------------------------------------------------------
// Product repetition limit

// Without a repetition count there is no product choice; with one, the search only under "Lista".
void TfrmParamForne::HabilitaProdutos(bool comQuantidade) {
    rbtTodosProdSerConsidera->SetEnabled(comQuantidade);
    rbtListaProdSerConsidera->SetEnabled(comQuantidade);
    btpProdSerConsidera->SetEnabled(comQuantidade && rbtListaProdSerConsidera->Checked());
    lblObsProdSerConsidera->SetEnabled(comQuantidade);
    grbProdSerConsidera->SetEnabled(comQuantidade);
}

void TfrmParamForne::dbeQtRepeteProdNFChange(TObject*) {
    HabilitaProdutos(!Consiste::EmptyString(dbeQtRepeteProdNF->Text()));
}

void TfrmParamForne::rbtTodosProdSerConsideraClick(TObject*) {
    IniciaEdicao();
    btpProdSerConsidera->SetEnabled(false);
}

void TfrmParamForne::rbtListaProdSerConsideraClick(TObject*) {
    IniciaEdicao();
    btpProdSerConsidera->SetEnabled(true);
}

void TfrmParamForne::btpProdSerConsideraClick(TObject*) {
    // The button never takes the focus, so a click would leave an inscription typed and not yet
    // validated (or refused) in its box while the list went to the supplier loaded before. The
    // box is left first, as Tab leaves it: the list then belongs to the supplier it names, or the
    // click ends with the box's own message.
    if (medNrInsJurNF->Focused()) {
        SelectNext(true);
        if (medNrInsJurNF->Focused() || !btpProdSerConsidera->Enabled()) return;
    }
    IniciaEdicao();
    qryProdSerConsidera->Close();
    qryProdSerConsidera->Open();
    String titulo = msgPadrao->Msg("Produto") + "|" + msgPadrao->Msg("Nao_Ha_Produto");
    if (Pesqlista::PesquisaLista(dtsProdSerConsidera, "CDARVPROD", titulo, false,
                                 stProdSerConsidera))
        Campo("CDPRODCONSREPE")->SetAsString(stProdSerConsidera);
}

void TfrmParamForne::ProdSerConsideraKeyDown(TObject*, Word& Key, TShiftState Shift) {
    if (!IsDropDownKey(Key, Shift)) return;
    Key = 0;
    if (btpProdSerConsidera->Showing() && btpProdSerConsidera->EnabledChain())
        btpProdSerConsidera->UserClick();
}

namespace {

// The supplier's changes as the list reads them: a page from the server whenever the list needs
// more rows. The first page is read before the list opens, so a failure there is the command's;
// a later page that fails ends the list with a line that says so.
class THistoricoFornecedor : public IPickSource {
public:
    static constexpr int Pagina = 100;

    THistoricoFornecedor(TfrmParamForne* tela, String codigo)
        : tela_(tela), codigo_(std::move(codigo)) {
        LePagina();
    }
    int RowCount() override {
        while (mais_)
            LePaginaSemFalhar();
        return static_cast<int>(linhas_.size());
    }
    std::vector<String> Row(int index) override {
        while (mais_ && index >= static_cast<int>(linhas_.size()))
            LePaginaSemFalhar();
        return index < static_cast<int>(linhas_.size()) ? linhas_[index] : std::vector<String>();
    }
    int Fetch(int wanted) override {
        while (mais_ && wanted > static_cast<int>(linhas_.size()))
            LePaginaSemFalhar();
        return std::min(wanted, static_cast<int>(linhas_.size()));
    }

private:
    void LePagina() {
        const Variant resposta = Consiste::CheckResultServ(
            tela_->netParamForne->AppServer().Call(
                "GetLogParamForn",
                {Variant(codigo_), Variant(static_cast<int>(linhas_.size())), Variant(Pagina)}),
            true, 0);
        if (resposta.IsString()) throw Exception(resposta.AsString());
        if (resposta[0].IsString() && resposta[0].AsString() == "N")
            throw Exception(resposta[1].AsString());
        const nlohmann::json pagina = resposta[1].ToJson();
        if (!pagina.is_object() || !pagina.contains("rows") || !pagina["rows"].is_array())
            throw Exception("Resposta inválida do servidor de aplicação.");
        for (const nlohmann::json& r : pagina["rows"]) {
            if (!r.is_array() || r.size() != 5)
                throw Exception("Resposta inválida do servidor de aplicação.");
            const auto texto = [](const nlohmann::json& v) {
                return v.is_string() ? v.get<String>() : String();
            };
            const String campo = texto(r[2]);
            linhas_.push_back({Quando(texto(r[0])), texto(r[1]), tela_->LegendaCampo(campo),
                               Valor(campo, texto(r[3])), Valor(campo, texto(r[4]))});
        }
        mais_ = pagina.value("more", false);
    }
    void LePaginaSemFalhar() {
        try {
            LePagina();
        } catch (const std::exception& e) {
            mais_ = false;
            linhas_.push_back({"", "",
                               String("Não foi possível ler as alterações seguintes: ") + e.what(),
                               "", ""});
        }
    }
    // "YYYY-MM-DD HH:MM:SS" as the workstation writes dates.
    static String Quando(const String& iso) {
        if (iso.size() < 10) return iso;
        return FormatDateTime("dd/mm/yyyy", ISOToDateTime(iso.substr(0, 10))) + iso.substr(10);
    }
    // A value as the screen shows it: flags "Sim"/"Não", dates dd/mm/yyyy, numbers with the
    // decimal comma and the field's display format (the limit as 1.500,50). What does not read
    // as its field's kind is shown as stored.
    String Valor(const String& campo, const String& v) {
        TField* f = tela_->cdsParamForne->FindField(campo);
        if (!f) return v;
        if (f->Size() == 1 && campo != "IDFORNEHOMO" && (v == "S" || v == "N"))
            return v == "S" ? "Sim" : "Não";
        if (f->DataType() == ftDateTime) {
            TDateTime d;
            if (TryISOToDateTime(v, d))
                return FormatDateTime(d == DateOf(d) ? "dd/mm/yyyy" : "dd/mm/yyyy hh:nn:ss", d);
        }
        if (auto* n = dynamic_cast<TFloatField*>(f)) {
            double d = 0;
            const auto [fim, erro] = std::from_chars(v.data(), v.data() + v.size(), d);
            if (!v.empty() && erro == std::errc() && fim == v.data() + v.size())
                return n->DisplayFormat().empty() ? FloatToStr(d)
                                                  : FormatFloat(n->DisplayFormat(), d);
        }
        return v;
    }

    TfrmParamForne* tela_;
    String codigo_;
    std::vector<std::vector<String>> linhas_;
    bool mais_ = false;
};

String SemAtalho(String s) {
    s.erase(std::remove(s.begin(), s.end(), '&'), s.end());
    while (!s.empty() && (s.back() == ' ' || s.back() == ':'))
        s.pop_back();
    while (!s.empty() && s.front() == ' ')
        s.erase(s.begin());
    return s;
}

} // namespace

String TfrmParamForne::LegendaCampo(const String& campo) {
    // Bound check boxes carry their own caption; the other fields are named by the label or the
    // group around their edit.
    for (int i = 0; i < ComponentCount(); ++i)
        if (auto* dck = dynamic_cast<TDBCheckBox*>(Components(i)); dck && dck->DataField() == campo)
            return SemAtalho(dck->Caption());
    static const std::pair<const char*, const char*> rotulos[] = {
        {"NRDIASBLOQNFFOR", "lblNrDiasBloqNF"},  {"VRMAXPERMFORN", "lblValMaxPerm"},
        {"CDGRPERMLANMAX", "GroupBox2"},         {"DTREACONSIMPXML", "lblDtReaConsImpXML"},
        {"QTREPETEPRODNF", "lblQtRepeteProdNF"}, {"CDPRODCONSREPE", "grbProdSerConsidera"},
    };
    for (const auto& [nome, rotulo] : rotulos)
        if (campo == nome)
            if (auto* c = dynamic_cast<TControl*>(FindComponent(rotulo)))
                return SemAtalho(c->Caption());
    return campo;
}

void TfrmParamForne::MostraHistorico() {
    const String codigo = Campo("CDFORNECED")->AsString();
    std::unique_ptr<THistoricoFornecedor> historico;
    {
        Showavi::TBusyScope lendo(Application->MainForm(), 6);
        historico = std::make_unique<THistoricoFornecedor>(this, codigo);
    }
    TPickRequest pedido;
    pedido.title = "Histórico de alterações - " + codigo + " " + nmFornecedor_;
    pedido.columns = {"Data e hora", "Operador", "Campo", "Valor anterior", "Valor novo"};
    pedido.rows = historico.get();
    pedido.widths = {19, 14, 50, 16, 16};
    DialogService().ShowList(pedido);
}

} // namespace Cli_kxf27400
