#include "QtTestSupport.h"

#include <QBuffer>
#include <QImage>

#include "qt/QtText.h"

TTestForm::TTestForm(TComponent* owner, TFormStyle style) : TForm(owner) {
    SetName("frmTeste");
    SetFormStyle(style);
    SetCaption("Teste de Componentes");
    SetClientSize(420, 250);
    OnDestroy = [this](TObject*) {
        if (destroyed) *destroyed = true;
    };

    auto place = [](TControl* c, TWinControl* parent, const char* name, int l, int t, int w,
                    int h) {
        c->SetName(name);
        c->SetParent(parent);
        c->SetBounds(l, t, w, h);
    };
    grbDados = new TGroupBox(this);
    place(grbDados, this, "grbDados", 8, 8, 404, 110);
    grbDados->SetCaption("Dados");
    grbDados->SetFontBold(true);

    lblNome = new TLabel(this);
    place(lblNome, grbDados, "lblNome", 10, 22, 40, 13);
    lblNome->SetCaption("&Nome");
    edtNome = new TEdit(this);
    place(edtNome, grbDados, "edtNome", 60, 18, 200, 21);
    edtNome->SetFontBold(false);
    medCpf = new TMaskEdit(this);
    place(medCpf, grbDados, "medCpf", 60, 48, 120, 21);
    medCpf->SetEditMask("999.999.999-99;0;_");
    medCpf->SetFontBold(false);
    sbtOk = new TSpeedButton(this);
    place(sbtOk, grbDados, "sbtOk", 190, 48, 40, 21);
    sbtOk->SetHint("Confirmar");
    sbtOk->SetShowHint(true);
    sbtOk->Flat = true;
    // Within the group box the CPF comes first, whatever the creation order.
    medCpf->SetTabOrder(0);

    grbOpcoes = new TGroupBox(this);
    place(grbOpcoes, this, "grbOpcoes", 8, 126, 404, 110);
    grbOpcoes->SetCaption("Opções");
    chkAtivo = new TCheckBox(this);
    place(chkAtivo, grbOpcoes, "chkAtivo", 10, 20, 120, 17);
    chkAtivo->SetCaption("Ativo");
    chkBloq = new TCheckBox(this);
    place(chkBloq, grbOpcoes, "chkBloq", 10, 44, 120, 17);
    chkBloq->SetCaption("Bloqueado");
    chkBloq->SetTabOrder(0);
    rbtTodos = new TRadioButton(this);
    place(rbtTodos, grbOpcoes, "rbtTodos", 200, 20, 100, 17);
    rbtTodos->SetCaption("Todos");
    rbtTodos->SetChecked(true);
    rbtLista = new TRadioButton(this);
    place(rbtLista, grbOpcoes, "rbtLista", 200, 44, 100, 17);
    rbtLista->SetCaption("Lista");

    auto logEvents = [this](TWinControl* c) {
        c->OnEnter = [this](TObject* s) { Log("Enter:" + dynamic_cast<TComponent*>(s)->Name()); };
        c->OnExit = [this](TObject* s) { Log("Exit:" + dynamic_cast<TComponent*>(s)->Name()); };
    };
    for (TWinControl* c : std::initializer_list<TWinControl*>{edtNome, medCpf, chkAtivo, chkBloq,
                                                              rbtTodos, rbtLista})
        logEvents(c);
    for (TControl* c :
         std::initializer_list<TControl*>{chkAtivo, chkBloq, rbtTodos, rbtLista, sbtOk})
        c->OnClick = [this](TObject* s) { Log("Click:" + dynamic_cast<TComponent*>(s)->Name()); };
}

String GlyphHex(int size, const std::vector<QColor>& colours) {
    QImage img(size * static_cast<int>(colours.size()), size, QImage::Format_ARGB32);
    for (size_t i = 0; i < colours.size(); ++i)
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                img.setPixelColor(static_cast<int>(i) * size + x, y, colours[i]);
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, "PNG");
    return bytes.toHex().toUpper().toStdString();
}

void QtFormTest::SetUp() {
    SetDialogService(&dialogs);
    ws = std::make_unique<TQtWidgetSet>();
    ws->Install();
    form = new TTestForm(Application);
    form->destroyed = &destroyed;
}

void QtFormTest::ShowForm() {
    form->Show();
    peer = ws->FormPeer(form);
    ASSERT_NE(peer, nullptr);
    QWidget* win = peer->Window();
    win->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(win));
    Settle();
}

void Settle() {
    for (int i = 0; i < 3; ++i) {
        QApplication::processEvents();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

void QtFormTest::TearDown() {
    if (!destroyed) delete form;
    ws.reset();
    Settle();
    SetDialogService(nullptr);
}
