#include "Pesqlista.h"

#include <algorithm>
#include <vector>

#include "brx/BtnPesquisa.h"
#include "rtl/Utf8.h"
#include "vcl/Dialogs.h"

namespace Pesqlista {

namespace {
constexpr size_t kStoredSize = 255;

// The keys of a list text in their order, each once.
std::vector<String> SplitKeys(const String& list) {
    std::vector<String> keys;
    String cur;
    for (char c : list + ";") {
        if (c == ';') {
            String k = Trim(cur);
            if (!k.empty() && std::find(keys.begin(), keys.end(), k) == keys.end())
                keys.push_back(k);
            cur.clear();
        } else {
            cur += c;
        }
    }
    return keys;
}
} // namespace

bool PesquisaLista(TDataSource* dataSource, const String& keyField, const String& titleAndError,
                   bool requireOne, String& list) {
    auto bar = titleAndError.find('|');
    String title = titleAndError.substr(0, bar);
    String emptyError = bar == String::npos ? String() : titleAndError.substr(bar + 1);
    TDataSet* ds = dataSource ? dataSource->DataSet() : nullptr;
    if (!ds) throw Exception("A pesquisa em lista não tem fonte de dados.");
    if (!ds->Active() || ds->IsEmpty()) {
        MessageDlg(emptyError, mtWarning, {mbOK}, 0);
        return false;
    }
    // The key first, so the list and its filter read the code before the description.
    TField* key = ds->FieldByName(keyField);
    std::vector<TField*> fields{key};
    TMultiPickRequest request{title, {key->DisplayLabel()}, nullptr, {}, {}, {key->DisplayWidth()}};
    for (TField* f : ds->Fields())
        if (f != key && f->Visible()) {
            fields.push_back(f);
            request.columns.push_back(f->DisplayLabel());
            request.widths.push_back(f->DisplayWidth());
        }
    TDataSetPickSource rows(ds, fields);
    request.rows = &rows;
    // The list marks the rows of the current choice as it reads them.
    for (const String& k : SplitKeys(list))
        request.checkedKeys.push_back(k);
    // It opens on the first row of that choice.
    request.current = FindPickRow(ds, key, request.checkedKeys);
    std::optional<std::vector<int>> chosen = DialogService().PickRows(request);
    if (!chosen) return false;
    if (requireOne && chosen->empty()) {
        MessageDlg("Escolha ao menos um item da lista.", mtWarning, {mbOK}, 0);
        return false;
    }
    String result;
    for (int row : *chosen) {
        ds->SetRecNo(row + 1);
        if (!result.empty()) result += ";";
        result += key->AsString();
    }
    // Keys of the current choice that the list does not offer (another program may have stored
    // codes the source leaves out) were never shown, so the user could not uncheck them: they
    // stay, after the checked ones, in their order. The rows are read only until all are found.
    std::vector<String> unseen = SplitKeys(list);
    for (int i = 0; !unseen.empty() && ds->FetchRows(i + 1) > i; ++i) {
        ds->SetRecNo(i + 1);
        std::erase(unseen, Trim(key->AsString()));
    }
    for (const String& k : unseen) {
        if (!result.empty()) result += ";";
        result += k;
    }
    if (Utf8Length(result) > kStoredSize)
        throw Exception("A lista escolhida tem " + std::to_string(Utf8Length(result)) +
                        " caracteres e não cabe nos " + std::to_string(kStoredSize) +
                        " do campo. Escolha menos itens.");
    list = result;
    return true;
}

} // namespace Pesqlista
