#pragma once
// A screen's message catalogue: lines "key|text", fetched by key.
#include "vcl/Classes.h"
#include "vcl/Dialogs.h"

class TMessages : public TComponent {
public:
    explicit TMessages(TComponent* owner) : TComponent(owner) {}
    String ClassName() const override { return "TMessages"; }

    TStrings& Messages() { return messages_; }
    const TStrings& Messages() const { return messages_; }
    // The text of a key, "%s" left as it is. A missing key is a fault of the screen: it raises
    // rather than showing an empty message.
    String Msg(const String& key) const;
    bool HasKey(const String& key) const;
    // Shows the text of a key and returns the button pressed.
    int ShowMsg(const String& key, TMsgDlgType type, const TMsgDlgButtons& buttons,
                int helpContext);

    bool ReadProperty(const DfmProperty& p, TFormReader& reader) override;

private:
    TStrings messages_;
};
