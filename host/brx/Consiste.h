#pragma once
// Consistency helpers of the host library, shared by every screen.
#include "rtl/Variant.h"

class TWinControl;
class TDataSet;

namespace Consiste {

// True when the text holds nothing but blanks.
bool EmptyString(const String& text);

// The code at its stored width: blanks trimmed, a code of digits left-padded with zeros ("5" ->
// "05" for width 2); an empty text stays empty; other codes are returned trimmed.
String Ajusta(const String& text, int width);

// The inscription as stored: letters and digits only, letters in upper case. Changes `text` and
// returns it.
String Ajusta_Inscricao(String& text);

// The edit mask for an inscription, given a person type (F, J, O, I) or a normalised inscription:
// CPF "999.999.999-99;0;_" for F or 11 digits; CNPJ ">AA.AAA.AAA/AAAA-99;0;_" for J or 14
// characters ending in two digits (numeric or alphanumeric CNPJ); "" otherwise.
String PictPess(const String& typeOrInscription);

// Shows `text` as an error; with `abort` true it then ends the operation with the silent abort.
void MensErro(const String& text, bool abort);

// Ends the key press silently (EAbort) when the key would leave `text` with more than `intDigits`
// digits before the decimal comma or `decDigits` after it. `key` is the typed character as a text.
void MaxNumber(const String& text, int intDigits, int decDigits, const String& key, int selStart,
               int selLength);

// Disables the controls inside `container`, or enables again the ones that this call disabled;
// a control that was disabled for its own reasons stays disabled.
void SetChildEnabled(TWinControl* container, bool on);

// Sets to null every field of the current record whose text is empty. A field that still holds
// the value it was read with is left alone: a blank another program stored is not turned into a
// change nobody made.
void Seta_Campo_Null(TDataSet* dataSet);

// First treatment of a server answer. Accepts a string (an error text the caller shows) and a
// one-dimensional array whose element 0 is a string ("S" success, "N" refusal); returns it
// unchanged. Raises for anything else (empty, null, other kinds, an empty array), so a broken
// answer is never taken for success. `raiseOnError` and `context` are taken and unused: the check
// is the same for every caller.
Variant CheckResultServ(const Variant& answer, bool raiseOnError, int context);

} // namespace Consiste
