#include "hostapp/qt/QtParamsDialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cstdio>

#include "net/NetConnection.h"
#include "vcl/Dialogs.h"

namespace {

const char* const kModule = "Kxf27400.rdmParamForne";

QString Q(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<int>(s.size()));
}

QString OutcomeText(const std::string& outcome) {
    if (outcome == "change") return QString::fromUtf8("Alteração");
    if (outcome == "applied") return QString::fromUtf8("Aplicada");
    if (outcome == "repeated") return QString::fromUtf8("Já aplicada");
    if (outcome == "conflict") return QString::fromUtf8("Conflito");
    if (outcome == "refused") return QString::fromUtf8("Recusada");
    return Q(outcome);
}

std::unique_ptr<TNetConnection> Connection() {
    auto conn = std::make_unique<TNetConnection>();
    conn->ServerName = kModule;
    return conn;
}

} // namespace

TQtParamsImportDialog::TQtParamsImportDialog(QString path, QWidget* parent)
    : QDialog(parent), path_(std::move(path)), conn_(Connection()) {
    setWindowTitle(QString::fromUtf8("Importar parâmetros - %1").arg(QFileInfo(path_).fileName()));
    table_ = new QTableWidget(0, 5, this);
    table_->setHorizontalHeaderLabels({QString::fromUtf8("Linha"), QString::fromUtf8("Fornecedor"),
                                       QString::fromUtf8("Situação"), QString::fromUtf8("Coluna"),
                                       QString::fromUtf8("Detalhe")});
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->verticalHeader()->setVisible(false);
    table_->horizontalHeader()->setStretchLastSection(true);
    summary_ = new QLabel(this);
    summary_->setWordWrap(true);
    progress_ = new QProgressBar(this);
    progress_->setRange(0, 100);
    apply_ = new QPushButton(QString::fromUtf8("&Aplicar alterações"), this);
    apply_->setEnabled(false);
    cancel_ = new QPushButton(QString::fromUtf8("&Interromper"), this);
    cancel_->setEnabled(false);
    close_ = new QPushButton(QString::fromUtf8("&Fechar"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(progress_, 1);
    buttons->addWidget(cancel_);
    buttons->addWidget(apply_);
    buttons->addWidget(close_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table_, 1);
    layout->addWidget(summary_);
    layout->addLayout(buttons);
    resize(900, 480);
    connect(cancel_, &QPushButton::clicked, this, [this] { cancelled_ = true; });
    connect(apply_, &QPushButton::clicked, this, [this] { Apply(); });
    connect(close_, &QPushButton::clicked, this, [this] {
        if (!running_) accept();
    });
}

TQtParamsImportDialog::~TQtParamsImportDialog() = default;

void TQtParamsImportDialog::reject() {
    if (running_)
        cancelled_ = true;
    else
        QDialog::reject();
}

bool TQtParamsImportDialog::Check() {
    return Run(false);
}

void TQtParamsImportDialog::Apply() {
    // Through the host's dialogs, as every question of the client.
    const String question = "Aplicar as alterações de " + std::to_string(result_.changed) +
                            " fornecedores? As linhas recusadas ou em conflito não serão "
                            "aplicadas.";
    if (MessageDlg(question, mtConfirmation, {mbYes, mbNo}, 0) != mrYes) return;
    Run(true);
    apply_->setEnabled(false);
}

bool TQtParamsImportDialog::Run(bool apply) {
    running_ = true;
    cancelled_ = false;
    table_->setRowCount(0);
    apply_->setEnabled(false);
    close_->setEnabled(false);
    cancel_->setEnabled(true);
    progress_->setValue(0);
    summary_->setText(apply ? QString::fromUtf8("Aplicando…") : QString::fromUtf8("Conferindo…"));
    const auto addRow = [&](const ParamsTransfer::RowResult& r) {
        if (r.outcome == "unchanged") return; // counted in the summary only
        const auto put = [&](const QString& column, const QString& detail) {
            const int at = table_->rowCount();
            table_->insertRow(at);
            const QString cells[] = {QString::number(r.line), Q(r.code), OutcomeText(r.outcome),
                                     column, detail};
            for (int c = 0; c < 5; ++c) {
                auto* item = new QTableWidgetItem(cells[c]);
                item->setToolTip(cells[c]); // a long message is read whole here
                table_->setItem(at, c, item);
            }
        };
        for (const auto& [column, before, after] : r.changes)
            put(Q(column), QString::fromUtf8("de \"%1\" para \"%2\"").arg(Q(before), Q(after)));
        for (const auto& [column, message] : r.errors)
            put(Q(column), Q(message));
        if (r.changes.empty() && r.errors.empty()) put(QString(), QString());
    };
    bool ok = true;
    try {
        result_ = ParamsTransfer::Import(
            *conn_, path_.toStdString(), {{}, apply}, addRow,
            [this](const ParamsTransfer::Progress& p) {
                if (p.totalBytes > 0)
                    progress_->setValue(static_cast<int>(100 * p.bytes / p.totalBytes));
                QApplication::processEvents();
                return !cancelled_;
            });
        summary_->setText(Q(ParamsTransfer::Describe(result_, apply)));
        ok = !result_.cancelled;
    } catch (const Exception& e) {
        summary_->setText(Q(e.Message()));
        result_ = {};
        ok = false;
    }
    table_->resizeColumnsToContents();
    cancel_->setEnabled(false);
    close_->setEnabled(true);
    apply_->setEnabled(ok && !apply && result_.changed > 0);
    running_ = false;
    return ok;
}

void ExportParamsToFile(QWidget* parent) {
    const QString path = QFileDialog::getSaveFileName(
        parent, QString::fromUtf8("Exportar parâmetros"), QString::fromUtf8("parametros.csv"),
        QString::fromUtf8("Planilha CSV (*.csv)"));
    if (path.isEmpty()) return;
    QProgressDialog progress(QString::fromUtf8("Exportando os parâmetros dos fornecedores…"),
                             QString::fromUtf8("Interromper"), 0, 0, parent);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300);
    const std::string partial = path.toStdString() + ".parcial";
    std::FILE* out = std::fopen(partial.c_str(), "wb");
    if (!out) {
        QMessageBox::warning(parent, QString::fromUtf8("Exportar parâmetros"),
                             QString::fromUtf8("Não foi possível criar %1.").arg(path));
        return;
    }
    auto conn = Connection();
    try {
        const long long rows =
            ParamsTransfer::Export(*conn, {}, out, [&](const ParamsTransfer::Progress& p) {
                progress.setLabelText(
                    QString::fromUtf8("Exportando: %1 fornecedores…").arg(p.rows));
                QApplication::processEvents();
                return !progress.wasCanceled();
            });
        // The file appears whole or not at all.
        const bool closed = std::fclose(out) == 0;
        out = nullptr;
        if (!closed || std::rename(partial.c_str(), path.toStdString().c_str()) != 0)
            throw Exception("Falha ao gravar o arquivo exportado.");
        progress.reset();
        QMessageBox::information(
            parent, QString::fromUtf8("Exportar parâmetros"),
            QString::fromUtf8("%1 fornecedores exportados para %2.").arg(rows).arg(path));
    } catch (const Exception& e) {
        if (out) std::fclose(out);
        std::remove(partial.c_str());
        progress.reset();
        if (!dynamic_cast<const EAbort*>(&e))
            QMessageBox::warning(parent, QString::fromUtf8("Exportar parâmetros"), Q(e.Message()));
    }
}

void ImportParamsFromFile(QWidget* parent) {
    const QString path = QFileDialog::getOpenFileName(
        parent, QString::fromUtf8("Importar parâmetros"), QString(),
        QString::fromUtf8("Planilha CSV (*.csv);;Todos os arquivos (*)"));
    if (path.isEmpty()) return;
    TQtParamsImportDialog dialog(path, parent);
    dialog.show();
    dialog.Check();
    dialog.exec();
}
