// The host client's desktop: the main window around the real screen (menu entry, status bar,
// closing), and the real hostapp run offscreen with a script, checked through its screenshot.
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QProcess>
#include <QTest>

#include <fstream>

#include "QtHostFixture.h"
#include "qt/QtText.h"
#include "vcl/Input.h"

namespace {

// The screen's designed place, moved in just as far as the MDI area needs to show it whole.
QPoint DesignedPlace(const QMdiSubWindow* sub) {
    QSize room = sub->mdiArea()->viewport()->size();
    auto* f = Cli_kxf27400::frmParamForne;
    return {std::max(0, std::min(f->Left(), room.width() - sub->width())),
            std::max(0, std::min(f->Top(), room.height() - sub->height()))};
}

TEST_F(QtHostTest, TheMainWindowShowsTheHostsSettings) {
    TQtHostWindow& w = qtHost_->Window();
    EXPECT_EQ(w.windowTitle(), ToQ(Application->MainForm()->Caption()));
    EXPECT_EQ(w.ServerLabel()->text(), "Servidor: " + ToQ(address_));
    EXPECT_EQ(w.DatabaseLabel()->text(), "Banco: " + ToQ(db_->Url()));
    EXPECT_EQ(w.OperatorLabel()->text(), QString("Operador: MARIA"));
    QAction* entry = qtHost_->ScreenAction();
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(StripMnemonic(entry->text()), QString::fromUtf8("Parâmetros por Fornecedor"));
}

TEST_F(QtHostTest, TheMenuEntryOpensTheScreenAndBringsTheSameWindowBack) {
    OpenFromMenu();
    ASSERT_NE(Form(), nullptr);
    TQtFormPeer* fp = ScreenPeer();
    ASSERT_NE(fp, nullptr);
    QMdiSubWindow* sub = fp->SubWindow();
    ASSERT_NE(sub, nullptr);
    QMdiArea* area = qtHost_->Window().MdiArea();
    EXPECT_EQ(area->activeSubWindow(), sub);
    EXPECT_EQ(sub->pos(), DesignedPlace(sub));
    EXPECT_EQ(fp->Client()->size(), QSize(Form()->ClientWidth(), Form()->ClientHeight()));
    // The load busy animation went over the main form, the window that stands for it.
    ASSERT_FALSE(dialogs_.busy.empty());
    EXPECT_EQ(dialogs_.busy[0].kind, 0);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the hourglass outlived the opening";

    // The user minimises the screen, then uses the menu entry again.
    sub->showMinimized();
    Settle();
    ASSERT_EQ(Form()->WindowState(), wsMinimized);
    TCustomForm* first = Form();
    OpenFromMenu();
    EXPECT_EQ(Form(), first);
    EXPECT_EQ(ScreenPeer()->SubWindow(), sub);
    EXPECT_EQ(area->subWindowList().size(), 1);
    EXPECT_EQ(Form()->WindowState(), wsNormal);
    EXPECT_FALSE(sub->isMinimized());
    EXPECT_TRUE(sub->isVisible());
    EXPECT_EQ(area->activeSubWindow(), sub);
    EXPECT_EQ(sub->pos(), DesignedPlace(sub));
}

// The real screen driven through its widgets: the inscription typed into the masked edit loads the
// supplier on leaving it, and a click on a bound check box starts the edit and enables the buttons.
TEST_F(QtHostTest, TypingAndClickingInTheWidgetsDriveTheScreen) {
    OpenFromMenu();
    ASSERT_NE(Form(), nullptr);
    TQtFormPeer* fp = ScreenPeer();
    QWidget* inscricao = fp->WidgetOf(Component<TControl>("medNrInsJurNF"));
    ASSERT_NE(inscricao, nullptr);
    QTest::keyClicks(inscricao, "11.222.333/0001-81");
    Settle();
    EXPECT_EQ(Component<TMaskEdit>("medNrInsJurNF")->Text(), "11.222.333/0001-81");
    QTest::keyClick(inscricao, Qt::Key_Tab);
    Settle();
    EXPECT_EQ(Component<TEdit>("edtNmRasSocForn")->Text(), "Distribuidora Alfa Ltda");
    EXPECT_EQ(Component<TMaskEdit>("medNrInsJurNF")->EditMask(), ">AA.AAA.AAA/AAAA-99;0;_");

    auto* simples = Component<TCustomCheckBox>("dckSimples");
    bool before = simples->Checked();
    QWidget* box = fp->WidgetOf(simples);
    ASSERT_NE(box, nullptr);
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
    Settle();
    auto* screen = static_cast<Cli_kxf27400::TfrmParamForne*>(Form());
    EXPECT_EQ(screen->cdsParamForne->State(), dsEdit);
    EXPECT_NE(simples->Checked(), before);
    EXPECT_EQ(screen->cdsParamForne->FieldByName("IDSIMPLESNACIONAL")->AsString(),
              simples->Checked() ? "S" : "N");
    EXPECT_TRUE(fp->WidgetOf(screen->sbtConfirma)->isEnabled());
    EXPECT_TRUE(fp->WidgetOf(screen->sbtCancela)->isEnabled());
    EXPECT_FALSE(inscricao->isEnabled()) << "the supplier box is locked while editing";
    EXPECT_TRUE(dialogs_.dialogs.empty());
}

TEST_F(QtHostTest, ClosingTheMainWindowClosesTheScreenFirst) {
    OpenFromMenu();
    ASSERT_NE(Form(), nullptr);
    auto* inscricao = Component<TMaskEdit>("medNrInsJurNF");
    UserInput::TypeText(inscricao, kInscricao); // a pending edit must not keep the window open
    Settle();
    EXPECT_TRUE(qtHost_->Window().close());
    Settle();
    EXPECT_EQ(Form(), nullptr);
    EXPECT_FALSE(Cli_kxf27400::boStCriado);
    EXPECT_FALSE(qtHost_->Window().isVisible());
    EXPECT_TRUE(qtHost_->Window().MdiArea()->subWindowList().isEmpty());
    EXPECT_TRUE(dialogs_.dialogs.empty());
}

TEST_F(QtHostTest, AScreenThatStaysOpenKeepsTheMainWindowOpen) {
    OpenFromMenu();
    ASSERT_NE(Form(), nullptr);
    // A close the screen refuses (as a close query would).
    auto previous = Form()->OnClose;
    Form()->OnClose = [](TObject*, TCloseAction& action) { action = caNone; };
    EXPECT_FALSE(qtHost_->Window().close());
    Settle();
    EXPECT_NE(Form(), nullptr);
    EXPECT_TRUE(qtHost_->Window().isVisible());
    Form()->OnClose = previous;
    // Without a screen the window simply closes.
    UserInput::Close(Form());
    Settle();
    ASSERT_EQ(Form(), nullptr);
    EXPECT_TRUE(qtHost_->Window().close());
}

TEST_F(QtHostTest, TheHourglassTheModelAskedForBeforeTheWindowIsShown) {
    qtHost_.reset();
    Screen->SetCursor(crHourGlass);
    qtHost_ = std::make_unique<TQtHost>(host_.get());
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    Screen->SetCursor(crDefault);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// ---------------------------------------------------------------------------------------------
// The real hostapp, offscreen, with a script and a screenshot.

struct HostappRun {
    int exitCode = -1;
    QStringList lines;
    QString err;
};

class HostappScreenshotTest : public QtHostTest {
protected:
    bool OverTheWire() const override { return true; }
    HostappRun Run(const std::string& script, const QString& png) {
        std::string file = db_->Dir() + "/script.jsonl";
        std::ofstream(file) << script;
        return RunWith(QString::fromStdString(file), png);
    }
    HostappRun RunWith(const QString& script, const QString& png) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        p.setProcessEnvironment(env);
        p.start(QString(KX_BIN_DIR) + "/hostapp",
                {"--db", ToQ(db_->Url()), "--server", ToQ(address_), "--today", kToday,
                 "--operator", "MARIA", "--script", script, "--screenshot", png});
        HostappRun r;
        if (!p.waitForFinished(60000)) {
            p.kill();
            p.waitForFinished();
            ADD_FAILURE() << "hostapp did not finish";
            return r;
        }
        r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.lines = QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }
    static QRgb Rgb(TColor c) { return ToQColor(c).rgb() & 0xFFFFFF; }
};

// Where `glyph`'s opaque pixels appear unchanged in `shot` inside `area`; empty when nowhere.
std::optional<QPoint> FindGlyph(const QImage& shot, const QImage& glyph, QRect area) {
    for (int y = area.top(); y + glyph.height() <= area.bottom() + 1; ++y)
        for (int x = area.left(); x + glyph.width() <= area.right() + 1; ++x) {
            bool same = true;
            for (int gy = 0; gy < glyph.height() && same; ++gy)
                for (int gx = 0; gx < glyph.width() && same; ++gx) {
                    QColor g = glyph.pixelColor(gx, gy);
                    if (g.alpha() < 255) continue;
                    QColor s = shot.pixelColor(x + gx, y + gy);
                    same = std::abs(g.red() - s.red()) <= 2 &&
                           std::abs(g.green() - s.green()) <= 2 &&
                           std::abs(g.blue() - s.blue()) <= 2;
                }
            if (same) return QPoint(x, y);
        }
    return std::nullopt;
}

TEST_F(HostappScreenshotTest, TheScreenAfterLoadingASupplier) {
    QString png = QString(KX_BUILD_DIR) + "/hostapp-screen.png";
    QFile::remove(png);
    HostappRun run = Run(R"({"do":"open"}
# the supplier of the demo data with a numeric CNPJ
{"do":"type","control":"medNrInsJurNF","text":"11222333000181"}
{"do":"tab"}
{"do":"state"}
)",
                         png);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    ASSERT_EQ(run.lines.size(), 4) << run.lines.join('\n').toStdString();
    for (const QString& line : run.lines)
        EXPECT_TRUE(json::parse(line.toStdString()).value("ok", false)) << line.toStdString();
    json state = json::parse(run.lines.back().toStdString())["state"];
    // Named: SOCI runs the statement when the expression ends, after its temporaries are gone.
    std::string razao, numero = kInscricao;
    db_->Sql() << "SELECT NMRAZSOCFORN FROM FORNECEDOR WHERE NRINSJURFORN = :i", soci::use(numero),
        soci::into(razao);
    ASSERT_EQ(state["controls"]["edtNmRasSocForn"]["text"], razao) << "the supplier was not loaded";

    // The same screen in this process gives the model's geometry and where the window system puts
    // the client area of the MDI child inside the main window.
    OpenFromMenu();
    ASSERT_NE(ScreenPeer(), nullptr);
    TQtHostWindow& reference = qtHost_->Window();
    QPoint client = ScreenPeer()->Client()->mapTo(&reference, QPoint(0, 0));
    ASSERT_EQ(client - ScreenPeer()->SubWindow()->mapTo(&reference, QPoint(0, 0)),
              ScreenPeer()->Client()->mapTo(ScreenPeer()->SubWindow(), QPoint(0, 0)));

    QImage shot(png);
    ASSERT_FALSE(shot.isNull()) << "no picture at " << png.toStdString();
    ASSERT_EQ(shot.size(), reference.size());
    auto at = [&](const TControl* c, int dx, int dy) {
        QPoint p = client + ModelPos(c) + QPoint(dx, dy);
        return shot.pixelColor(p).rgb() & 0xFFFFFF;
    };

    // The inscription edit keeps its info background; right of the formatted number.
    auto* inscricao = Component<TMaskEdit>("medNrInsJurNF");
    ASSERT_EQ(inscricao->Color(), clInfoBk);
    EXPECT_EQ(at(inscricao, inscricao->Width() - 6, inscricao->Height() / 2), Rgb(clInfoBk));
    EXPECT_EQ(at(inscricao, inscricao->Width() - 6, inscricao->Height() - 5), Rgb(clInfoBk));

    // The disabled, read-only company name shows the button face, not the window colour.
    auto* razaoEdit = Component<TEdit>("edtNmRasSocForn");
    ASSERT_EQ(state["controls"]["edtNmRasSocForn"]["enabled"], false);
    ASSERT_EQ(state["controls"]["edtNmRasSocForn"]["color"], "clBtnFace");
    EXPECT_EQ(at(razaoEdit, razaoEdit->Width() - 6, razaoEdit->Height() / 2), Rgb(clBtnFace));
    EXPECT_NE(Rgb(clBtnFace), Rgb(clWindow));

    // The disabled Confirm button shows the disabled glyph of its strip, never the normal one.
    ASSERT_EQ(state["controls"]["sbtConfirma"]["enabled"], false);
    auto* confirma = Component<TSpeedButton>("sbtConfirma");
    QImage strip =
        QImage::fromData(QByteArray::fromHex(QByteArray::fromStdString(confirma->GlyphData)));
    ASSERT_FALSE(strip.isNull());
    ASSERT_EQ(confirma->NumGlyphs, 2);
    int w = strip.width() / 2;
    QImage normal = strip.copy(0, 0, w, strip.height()).convertToFormat(QImage::Format_ARGB32);
    QImage disabled = strip.copy(w, 0, w, strip.height()).convertToFormat(QImage::Format_ARGB32);
    ASSERT_NE(normal, disabled);
    QRect button(client + ModelPos(confirma), QSize(confirma->Width(), confirma->Height()));
    EXPECT_TRUE(FindGlyph(shot, disabled, button).has_value()) << "no disabled glyph";
    EXPECT_FALSE(FindGlyph(shot, normal, button).has_value()) << "the normal glyph is shown";
}

TEST_F(HostappScreenshotTest, FailuresEndWithAnErrorCode) {
    // A picture that cannot be written.
    HostappRun run =
        Run("{\"do\":\"open\"}\n", QString::fromStdString(db_->Dir()) + "/no/such/dir/x.png");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.lines.size(), 1);
    EXPECT_TRUE(run.err.contains(QString::fromUtf8("não foi possível gravar a imagem")))
        << run.err.toStdString();

    // A script that cannot be read: nothing runs.
    QString png = QString::fromStdString(db_->Dir()) + "/x.png";
    run = RunWith(QString::fromStdString(db_->Dir()) + "/missing.jsonl", png);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.lines.isEmpty());
    EXPECT_TRUE(run.err.contains(QString::fromUtf8("não foi possível ler o roteiro")))
        << run.err.toStdString();
    EXPECT_FALSE(QFile::exists(png));
}

} // namespace

namespace {

// The history: an entry of the host's menu and Ctrl+H while the screen is open, enabled once a
// supplier is loaded; both show the read-only list.
TEST_F(QtHostTest, TheHistoryIsInTheMenuAndOnCtrlHOnceASupplierIsLoaded) {
    TQtHostWindow& w = qtHost_->Window();
    EXPECT_TRUE(!w.CommandMenu() || !w.CommandMenu()->menuAction()->isVisible());
    OpenFromMenu();
    ASSERT_NE(w.CommandMenu(), nullptr);
    EXPECT_TRUE(w.CommandMenu()->menuAction()->isVisible());
    ASSERT_EQ(w.CommandMenu()->actions().size(), 1);
    QAction* history = w.CommandMenu()->actions().front();
    EXPECT_EQ(history->text(), QString::fromUtf8("&Histórico de alterações do fornecedor"));
    EXPECT_EQ(history->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_H));
    w.UpdateCommands();
    EXPECT_FALSE(history->isEnabled()) << "no supplier loaded yet";

    QWidget* inscricao = ScreenPeer()->WidgetOf(Component<TControl>("medNrInsJurNF"));
    QTest::keyClicks(inscricao, "11222333000181");
    QTest::keyClick(inscricao, Qt::Key_Tab);
    Settle();
    w.UpdateCommands();
    EXPECT_TRUE(history->isEnabled());
    history->trigger();
    Settle();
    ASSERT_EQ(dialogs_.lists.size(), 1u);
    EXPECT_TRUE(dialogs_.lists[0].readOnly);
    EXPECT_EQ(dialogs_.lists[0].title, "Histórico de alterações - 000001 Distribuidora Alfa Ltda");
    QTest::keyClick(ScreenPeer()->WidgetOf(Component<TControl>("dckSimples")), Qt::Key_H,
                    Qt::ControlModifier);
    Settle();
    EXPECT_EQ(dialogs_.lists.size(), 2u) << "Ctrl+H";

    UserInput::Close(Form());
    Settle();
    EXPECT_FALSE(w.CommandMenu()->menuAction()->isVisible());
}

} // namespace
