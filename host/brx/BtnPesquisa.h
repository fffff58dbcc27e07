#pragma once
// The search button: lists the visible fields of a data source's rows by display label, lets the
// user pick one and leaves the data set on it. An assigned OnClick replaces all of this.
#include "db/DB.h"
#include "vcl/Dialogs.h"
#include "vcl/StdCtrls.h"

using TBeforePesqEvent = std::function<void(TObject* sender, bool& proceed)>;

class TBtnPesquisa : public TSpeedButton {
public:
    explicit TBtnPesquisa(TComponent* owner);
    String ClassName() const override { return "TBtnPesquisa"; }

    TWinControl* Associate = nullptr;
    String Title;
    TDataSource* DataSource = nullptr;
    String EmptyError;
    TBeforePesqEvent OnBeforePesq;
    TNotifyEvent OnAfterPesq;

    void Click() override;
    TDrawnGlyph DrawnGlyph() const override { return TDrawnGlyph::Search; }
    TWinControl* SearchEdit() const override { return Associate; }
    // Before-search, the list, and after a pick: the data set on that row, the focus in the
    // associated edit (so leaving it validates the choice), then after-search.
    void Pesquisa();

    bool ReadProperty(const DfmProperty& p, TFormReader& reader) override;
    void Notification(TComponent* c, bool removing) override;
};

// The row (0-based) of the first of `values` in `field`, for the row a list opens on; -1 when
// none is among the first kCurrentRowScan rows. The data set's current row is kept.
constexpr int kCurrentRowScan = 1000;
int FindPickRow(TDataSet* ds, TField* field, const std::vector<String>& values);

// The rows of a data set for a pick list, read as the list asks for them.
class TDataSetPickSource : public IPickSource {
public:
    TDataSetPickSource(TDataSet* ds, std::vector<TField*> fields)
        : ds_(ds), fields_(std::move(fields)) {}
    int RowCount() override;
    std::vector<String> Row(int index) override;
    int Fetch(int wanted) override;

private:
    TDataSet* ds_;
    std::vector<TField*> fields_;
};
