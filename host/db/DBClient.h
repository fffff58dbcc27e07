#pragma once
// An in-memory data set with a change log. Its fields are its own persistent fields; a data
// packet must match them exactly (names, order, kinds, string sizes) or it is refused.
//
// Packet:  {"fields":[{"name":"CDFORNECED","type":"string","size":21},
//                     {"name":"NRDIASBLOQNFFOR","type":"float"},
//                     {"name":"DTREACONSIMPXML","type":"datetime"}, ...],
//           "rows":[["000001", 30, ..., "2026-12-08"], ...]}
// Values in field order: texts, numbers, dates "YYYY-MM-DD" (or "YYYY-MM-DDTHH:MM:SS" when a
// time is set), null.
// Delta:   {"fields":[...as above...],
//           "changes":[{"op":"update","old":[...the row as loaded or merged...],
//                       "new":{"FIELD":value, ...only the fields that now differ...}}]}
// The posts of one row merge into one change; a row whose fields all came back to their
// original values has no change.
// A packet may add "stored": [{"FIELD": value, ...}, ...], one object per row, with the values
// its source holds in a form the field cannot carry (a text in a number column, a date that
// cannot be read). The row carries null for them, so they show empty; they are kept and go back
// as the original of the delta, until the field is changed.
#include "db/DB.h"

#include <map>

class TClientDataSet : public TDataSet {
public:
    explicit TClientDataSet(TComponent* owner);
    ~TClientDataSet() override;
    String ClassName() const override { return "TClientDataSet"; }

    // The rows with the posted changes, as a packet (Variant::Json).
    Variant Data() const;
    // Replaces the rows and the change log: closes, loads and opens again, so links see the
    // data set inactive and then browsing. A packet that does not fit changes nothing.
    // Null or empty closes the data set and leaves it without rows.
    void SetData(const Variant& packet);

    // One entry per post since the last load, merge or cancel of the updates.
    int ChangeCount() const { return changeCount_; }
    Variant Delta() const;
    // The posted changes become the original values (OldValue follows); the edit buffer of a
    // pending edit is kept.
    void MergeChangeLog();
    // Drops the log and restores the rows as last loaded or merged. A pending edit is
    // discarded first without the cancel events (the state still goes back to browse, which
    // the data sources announce): the caller is throwing the whole change away.
    void CancelUpdates();

    Variant FieldOldValue(const TField* f) const override;

protected:
    void InternalOpen() override {}
    void InternalClose() override;
    bool RowExists(int index) override;
    int InternalRecordCount() override { return static_cast<int>(rows_.size()); }
    const std::vector<Variant>& RowValues(int index) override;
    void InternalPost(int index, const std::vector<Variant>& values) override;

private:
    using Row = std::vector<Variant>;
    using Stored = std::map<size_t, nlohmann::json>; // by field index
    nlohmann::json FieldsJson() const;
    std::vector<Row> ReadPacket(const nlohmann::json& packet, std::vector<Stored>& stored) const;
    nlohmann::json RowJson(const Row& row, const Stored* stored = nullptr) const;
    static nlohmann::json ValueJson(const TField* f, const Variant& v);
    std::vector<Row> base_;      // as loaded or last merged
    std::vector<Row> rows_;      // with the posted changes
    std::vector<Stored> stored_; // per row of base_: the values its fields could not carry
    int changeCount_ = 0;
};
