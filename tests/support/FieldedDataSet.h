// A client data set on a form of its own, with persistent fields added one by one as a form
// definition declares them: the record the data-set tests and the packet fuzz target load
// packets into.
#pragma once

#include "db/DBClient.h"
#include "vcl/Forms.h"

#include <memory>

struct FieldedDataSet {
    std::unique_ptr<TForm> root = std::make_unique<TForm>(nullptr);
    TClientDataSet* cds = new TClientDataSet(root.get());

    // A field of the data set, owned by the form; size 0 leaves the type's own.
    template <class F> F* AddField(const char* name, int size = 0) {
        F* f = new F(root.get());
        f->SetFieldName(name);
        if (size) f->SetSize(size);
        f->SetDataSet(cds);
        return f;
    }
};
