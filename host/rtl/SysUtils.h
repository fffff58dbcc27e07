#pragma once
// Exceptions, number conversion and formatting of the runtime library.
// Formats follow FormatSettings(): Brazilian by default (decimal comma, dd/mm/yyyy).

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

using String = std::string;

class Variant;

// Base of every error raised by the component library.
class Exception : public std::exception {
public:
    explicit Exception(String message);
    const String& Message() const { return message_; }
    void SetMessage(String m) { message_ = std::move(m); }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    String message_;
};

// The silent abort: handlers let it through without showing a message.
class EAbort : public Exception {
public:
    EAbort();
    using Exception::Exception;
};

[[noreturn]] void Abort();

class EConvertError : public Exception {
public:
    using Exception::Exception;
};

class EDatabaseError : public Exception {
public:
    using Exception::Exception;
};

struct TFormatSettings {
    String ShortDateFormat = "dd/mm/yyyy";
    char DateSeparator = '/';
    String LongTimeFormat = "hh:nn:ss";
    String ShortTimeFormat = "hh:nn";
    char TimeSeparator = ':';
    char DecimalSeparator = ',';
    char ThousandSeparator = '.';
};

// The process-wide settings.
TFormatSettings& FormatSettings();

// Integers: optional sign and decimal digits, surrounding blanks ignored.
int StrToInt(const String& s);
bool TryStrToInt(const String& s, int& out);
int64_t StrToInt64(const String& s);
bool TryStrToInt64(const String& s, int64_t& out);
String IntToStr(int64_t v);

// Floats use FormatSettings().DecimalSeparator; the thousands separator is refused.
double StrToFloat(const String& s);
bool TryStrToFloat(const String& s, double& out);
String FloatToStr(double v); // 15 significant digits: 1.5 -> "1,5"
String FormatFloat(const String& format,
                   double v); // "#,##0.00", "0", "0.00", "#,##0", "#", sections ";"

// %[index:][-][width][.prec]type with type d u x f e g n m s, and %%; raises EConvertError for a
// format its arguments do not fit.
String Format(const String& format, const std::vector<Variant>& args);

// Trim removes blanks and control characters (bytes <= ' ').
String Trim(const String& s);
String TrimLeft(const String& s);
String TrimRight(const String& s);
// ASCII plus the accented Latin-1 letters in UTF-8 (á <-> Á, ç <-> Ç ...).
String UpperCase(const String& s);
String LowerCase(const String& s);
bool SameText(const String& a, const String& b);
