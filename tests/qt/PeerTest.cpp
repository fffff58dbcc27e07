// The peers mirror the model: geometry, texts, fonts, colours, states, hints and glyphs, whether
// the model changes before or after the peers exist, and without echoing pushes back into the
// model.
#include <QCalendarWidget>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QToolButton>

#include "QtTestSupport.h"
#include "brx/DBDateEditPlus.h"
#include "db/DBClient.h"
#include "qt/QtButtonPeers.h"
#include "qt/QtEditPeers.h"
#include "qt/QtText.h"
#include "vcl/EditButton.h"

namespace {

using PeerTest = QtFormTest;

TEST_F(PeerTest, WidgetsTakeTheModelsGeometryTextsAndFonts) {
    ShowForm();
    EXPECT_EQ(peer->Client()->size(), QSize(420, 250));
    EXPECT_EQ(peer->Window()->windowTitle(), QString("Teste de Componentes"));
    for (TControl* c :
         std::initializer_list<TControl*>{form->grbDados, form->edtNome, form->medCpf,
                                          form->chkAtivo, form->rbtLista, form->sbtOk}) {
        ASSERT_NE(W(c), nullptr) << c->Name();
        EXPECT_EQ(W(c)->geometry(), QRect(c->Left(), c->Top(), c->Width(), c->Height()))
            << c->Name();
    }
    // Children sit in their group box, so positions are relative to it as in the model.
    EXPECT_EQ(W(form->edtNome)->parentWidget(), W(form->grbDados));

    EXPECT_EQ(W<QGroupBox>(form->grbOpcoes)->title(), QString("Opções"));
    EXPECT_EQ(W<QLabel>(form->lblNome)->text(), QString("Nome")); // the mnemonic mark is not shown
    EXPECT_EQ(W<QCheckBox>(form->chkAtivo)->text(), QString("Ativo"));

    QFont title = W(form->grbDados)->font();
    EXPECT_EQ(title.family(), QString("DejaVu Sans"));
    EXPECT_EQ(title.pixelSize(), 11);
    EXPECT_TRUE(title.bold());
    EXPECT_TRUE(W(form->lblNome)->font().bold()); // takes its group box's font
    EXPECT_FALSE(W(form->edtNome)->font().bold());
    EXPECT_FALSE(W(form->grbOpcoes)->font().bold());
}

TEST_F(PeerTest, ModelChangesReachTheWidgetsWithoutEcho) {
    ShowForm();
    form->Take();
    form->chkBloq->SetCaption("Bloqueado para compras");
    form->edtNome->SetColor(clInfoBk);
    form->grbOpcoes->SetEnabled(false);
    form->rbtLista->SetChecked(true);
    form->edtNome->SetText("Fornecedor Ltda");
    form->sbtOk->SetVisible(false);

    EXPECT_EQ(W<QCheckBox>(form->chkBloq)->text(), QString("Bloqueado para compras"));
    EXPECT_EQ(W(form->edtNome)->palette().color(QPalette::Base), ToQColor(clInfoBk));
    EXPECT_EQ(W(form->edtNome)->palette().color(QPalette::Base), QColor(0xFF, 0xFF, 0xE1));
    EXPECT_FALSE(W(form->chkAtivo)->isEnabled()); // disabled with its container
    EXPECT_TRUE(W<QRadioButton>(form->rbtLista)->isChecked());
    EXPECT_FALSE(W<QRadioButton>(form->rbtTodos)->isChecked());
    EXPECT_EQ(W<QLineEdit>(form->edtNome)->text(), QString("Fornecedor Ltda"));
    EXPECT_FALSE(W(form->sbtOk)->isVisible());
    // Only the model's own event ran: pushing the new state did not click anything.
    EXPECT_EQ(form->Take(), "Click:rbtLista");

    form->grbOpcoes->SetEnabled(true);
    form->SetCaption("Outro título");
    form->grbOpcoes->SetBounds(8, 130, 300, 100);
    EXPECT_TRUE(W(form->chkAtivo)->isEnabled());
    EXPECT_EQ(peer->Window()->windowTitle(), QString("Outro título"));
    EXPECT_EQ(W(form->grbOpcoes)->geometry(), QRect(8, 130, 300, 100));
}

TEST_F(PeerTest, HintsAreTooltipsOnlyWhenShown) {
    form->edtNome->SetHint("Razão social|Nome registrado do fornecedor");
    ShowForm();
    EXPECT_EQ(W(form->sbtOk)->toolTip(), QString("Confirmar"));
    EXPECT_TRUE(W(form->edtNome)->toolTip().isEmpty());
    form->edtNome->SetShowHint(true);
    EXPECT_EQ(W(form->edtNome)->toolTip(), QString("Razão social"));
}

TEST_F(PeerTest, PeersCreatedLaterTakeTheWholeState) {
    form->medCpf->SetText("12345678909");
    form->chkAtivo->SetChecked(true);
    form->edtNome->SetEnabled(false);
    form->edtNome->SetMaxLength(30);
    form->lblNome->SetCaption("Razão social do fornecedor");
    ShowForm();
    EXPECT_EQ(W<QLineEdit>(form->medCpf)->text(), QString("123.456.789-09"));
    EXPECT_TRUE(W<QCheckBox>(form->chkAtivo)->isChecked());
    EXPECT_FALSE(W(form->edtNome)->isEnabled());
    EXPECT_EQ(W<QLineEdit>(form->edtNome)->maxLength(), 30);
    // An auto-sized label grows with its text instead of clipping it.
    QLabel* l = W<QLabel>(form->lblNome);
    EXPECT_GE(l->width(), l->fontMetrics().horizontalAdvance(l->text()));
}

TEST_F(PeerTest, SpeedButtonGlyphsCarryNormalAndDisabledImages) {
    form->sbtOk->GlyphData = GlyphHex(16, {Qt::red, Qt::gray});
    form->sbtOk->NumGlyphs = 2;
    ShowForm();
    QIcon icon = W<QToolButton>(form->sbtOk)->icon();
    ASSERT_FALSE(icon.isNull());
    QImage normal = icon.pixmap(QSize(16, 16), QIcon::Normal).toImage();
    QImage disabled = icon.pixmap(QSize(16, 16), QIcon::Disabled).toImage();
    EXPECT_EQ(normal.size(), QSize(16, 16));
    EXPECT_EQ(normal.pixelColor(8, 8), QColor(Qt::red));
    EXPECT_EQ(disabled.pixelColor(8, 8), QColor(Qt::gray));
}

TEST_F(PeerTest, ButtonsWithoutOrWithBadGlyphDataGetADrawnGlyph) {
    for (String data : {String(), String("not hex"), String("89504E47")}) {
        TQtGlyph g = GlyphFromData(data, 2, TDrawnGlyph::Search);
        EXPECT_EQ(g.normal.size(), QSize(16, 16)) << data;
        EXPECT_FALSE(g.normal.toImage() == g.disabled.toImage()) << data;
    }
    ShowForm();
    EXPECT_FALSE(W<QToolButton>(form->sbtOk)->icon().isNull());
}

TEST_F(PeerTest, DateEditShowsACalendarButtonAndAValidDateInItsColour) {
    auto* d = new TDBDateEditPlus(form);
    d->SetName("dbdData");
    d->SetParent(form->grbDados);
    d->SetBounds(270, 18, 90, 21);
    d->ValidDateColor = clBlue;
    ShowForm();
    auto* le = W<QLineEdit>(d);
    ASSERT_NE(le, nullptr);
    auto* button = le->findChild<QToolButton*>("calendar");
    ASSERT_NE(button, nullptr);
    EXPECT_LE(button->geometry().right(), le->width());
    EXPECT_FALSE(button->icon().isNull());
    QColor plain = le->palette().color(QPalette::Text);

    d->SetEditText("08/12/2026");
    EXPECT_EQ(le->text(), QString("08/12/2026"));
    EXPECT_EQ(le->palette().color(QPalette::Text), QColor(0, 0, 0xFF));
    d->SetEditText("");
    EXPECT_EQ(le->palette().color(QPalette::Text), plain);
}

TEST_F(PeerTest, TheCalendarButtonTypesThePickedDateIntoABoundDateEdit) {
    auto* cds = new TClientDataSet(form);
    auto* dts = new TDataSource(form);
    auto* field = new TDateTimeField(form);
    field->SetFieldName("DTREACONSIMPXML");
    field->SetDataSet(cds);
    dts->SetDataSet(cds);
    cds->SetData(Variant::Json(
        {{"fields", nlohmann::json::parse(R"([{"name":"DTREACONSIMPXML","type":"datetime"}])")},
         {"rows", nlohmann::json::array({nlohmann::json::array({nullptr})})}}));
    auto* d = new TDBDateEditPlus(form);
    d->SetName("dbdData");
    d->SetParent(form->grbDados);
    d->SetBounds(270, 18, 90, 21);
    d->ValidDateColor = clBlue;
    d->SetDataSource(dts);
    d->SetDataField("DTREACONSIMPXML");
    ShowForm();

    auto* le = W<QLineEdit>(d);
    QTest::mouseClick(le->findChild<QToolButton*>("calendar"), Qt::LeftButton);
    Settle();
    EXPECT_EQ(form->ActiveControl(), d); // the button focuses its edit first
    QPointer<QCalendarWidget> calendar = le->findChild<QCalendarWidget*>("calendarPopup");
    ASSERT_NE(calendar, nullptr);
    ASSERT_TRUE(calendar->isVisible());
    QMetaObject::invokeMethod(calendar.data(), "clicked", Q_ARG(QDate, QDate(2026, 12, 8)));
    Settle();
    EXPECT_EQ(d->EditText(), "08/12/2026");
    EXPECT_EQ(le->text(), QString("08/12/2026"));
    EXPECT_EQ(le->palette().color(QPalette::Text), QColor(0, 0, 0xFF));
    EXPECT_EQ(cds->State(), dsEdit); // typed as the user would: the record went into edit
    EXPECT_TRUE(calendar.isNull());  // the popup closed and went away
}

// Peers come by class from the widgetset's factory: an edit with a button of its own gets the
// button whichever library defines it, and a peer registered later for a class takes its
// components.
TEST_F(PeerTest, PeersComeByClassFromTheFactory) {
    struct TPickEdit : TEdit, IEditButton {
        using TEdit::TEdit;
        TEditButtonKind ButtonKind() const override { return TEditButtonKind::Calendar; }
        const String& ButtonGlyph() const override { return glyph; }
        int ButtonNumGlyphs() const override { return 1; }
        String glyph;
    };
    struct TCodeEdit : TEdit {
        using TEdit::TEdit;
    };
    struct TQtCodeEditPeer : TQtEditPeer {
        TQtCodeEditPeer(IQtFormSite& site, TControl* c, QWidget* parent)
            : TQtEditPeer(site, c, parent) {
            Widget()->setProperty("codeEdit", true);
        }
    };
    ws->Peers().Register<TQtCodeEditPeer, TCodeEdit>();
    auto* pick = new TPickEdit(form);
    pick->SetName("edtEscolha");
    pick->SetParent(form->grbDados);
    pick->SetBounds(270, 18, 90, 21);
    auto* code = new TCodeEdit(form);
    code->SetName("edtCodigo");
    code->SetParent(form->grbDados);
    code->SetBounds(270, 48, 90, 21);
    ShowForm();

    EXPECT_NE(W(pick)->findChild<QToolButton*>("calendar"), nullptr);
    EXPECT_EQ(W(form->edtNome)->findChild<QToolButton*>("calendar"), nullptr);
    EXPECT_TRUE(W(code)->property("codeEdit").toBool());
    EXPECT_FALSE(W(form->edtNome)->property("codeEdit").toBool());
    code->SetText("123");
    EXPECT_EQ(W<QLineEdit>(code)->text(), QString("123"));
}

} // namespace
