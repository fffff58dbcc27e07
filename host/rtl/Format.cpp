// Format: the runtime's printf, with the host's decimal comma and its argument checks.
#include <cctype>
#include <cmath>
#include <cstdio>

#include "rtl/Utf8.h"
#include "rtl/Variant.h"

namespace {
// The first `chars` code points of s.
String Utf8Prefix(const String& s, size_t chars) {
    size_t n = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
            if (n == chars) return s.substr(0, i);
            ++n;
        }
    }
    return s;
}

bool ArgToInt(const Variant& v, int64_t& out) {
    switch (v.VarType()) {
    case varInteger:
    case varInt64:
    case varBoolean:
        out = v.AsInteger();
        return true;
    case varDouble: {
        // a fraction printed with %d would silently lose it
        const double d = v.AsDouble();
        if (d != std::trunc(d)) return false;
        try {
            out = v.AsInteger();
        } catch (const EConvertError&) {
            return false; // beyond int64
        }
        return true;
    }
    default:
        return v.IsString() && TryStrToInt64(v.AsString(), out);
    }
}

bool ArgToDouble(const Variant& v, double& out) {
    switch (v.VarType()) {
    case varInteger:
    case varInt64:
    case varDouble:
    case varDate:
        out = v.AsDouble();
        return true;
    default:
        return v.IsString() && TryStrToFloat(v.AsString(), out);
    }
}
} // namespace

String Format(const String& fmt, const std::vector<Variant>& args) {
    auto fail = [&]() -> EConvertError {
        return EConvertError("Formato '" + fmt + "' inválido ou incompatível com o argumento");
    };
    String out;
    size_t next = 0; // next argument
    const char* p = fmt.c_str();
    const char* end = p + fmt.size();
    auto readNumber = [&](int& v) {
        if (p < end && *p == '*') {
            ++p;
            int64_t n = 0;
            if (next >= args.size() || !ArgToInt(args[next++], n) || n < 0 || n > 4096)
                throw fail();
            v = static_cast<int>(n);
            return true;
        }
        if (p >= end || !std::isdigit(static_cast<unsigned char>(*p))) return false;
        v = 0;
        while (p < end && std::isdigit(static_cast<unsigned char>(*p))) {
            v = v * 10 + (*p++ - '0');
            if (v > 4096) throw fail();
        }
        return true;
    };
    while (p < end) {
        if (*p != '%') {
            out += *p++;
            continue;
        }
        ++p;
        if (p < end && *p == '%') {
            out += '%';
            ++p;
            continue;
        }
        int width = -1, prec = -1, n = 0;
        bool left = false;
        const char* mark = p;
        if (readNumber(n) && p < end && *p == ':') {
            next = static_cast<size_t>(n);
            ++p;
        } else {
            p = mark;
        }
        if (p < end && *p == '-') left = true, ++p;
        readNumber(width);
        if (p < end && *p == '.') {
            ++p;
            if (!readNumber(prec)) throw fail();
        }
        if (p >= end || next >= args.size()) throw fail();
        const char type = static_cast<char>(std::tolower(static_cast<unsigned char>(*p++)));
        const Variant& arg = args[next++];
        String text;
        int64_t i = 0;
        double d = 0;
        switch (type) {
        case 'd':
        case 'u':
        case 'x': {
            if (!ArgToInt(arg, i) || (type == 'u' && i < 0)) throw fail();
            const bool neg = i < 0 && type != 'x';
            if (type == 'x') {
                char buf[32];
                std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(i));
                text = buf;
            } else {
                text = std::to_string(i);
                if (neg) text.erase(0, 1);
            }
            if (prec > static_cast<int>(text.size()))
                text.insert(0, static_cast<size_t>(prec) - text.size(), '0');
            if (neg) text.insert(0, "-");
            break;
        }
        case 'f':
        case 'n':
        case 'm': {
            if (!ArgToDouble(arg, d)) throw fail();
            const int decimals = prec < 0 ? 2 : prec;
            String f = type == 'f' ? "0" : "#,##0";
            if (decimals > 0) f += "." + String(static_cast<size_t>(decimals), '0');
            if (type == 'm') f = "\"R$ \"" + f;
            text = FormatFloat(f, d);
            break;
        }
        case 'e':
        case 'g': {
            if (!ArgToDouble(arg, d)) throw fail();
            if (type == 'g' && prec < 0) {
                text = FloatToStr(d);
            } else {
                char buf[512];
                const int digits = prec < 0 ? 15 : std::max(prec, 1);
                std::snprintf(buf, sizeof buf, type == 'e' ? "%.*E" : "%.*G",
                              type == 'e' ? digits - 1 : digits, d);
                text = buf;
                for (char& c : text)
                    if (c == '.') c = FormatSettings().DecimalSeparator;
            }
            break;
        }
        case 's':
            if (arg.IsArray()) throw fail();
            text = arg.AsString();
            if (prec >= 0) text = Utf8Prefix(text, static_cast<size_t>(prec));
            break;
        default:
            throw fail();
        }
        const size_t len = Utf8Length(text);
        if (width > 0 && len < static_cast<size_t>(width)) {
            const String pad(static_cast<size_t>(width) - len, ' ');
            text = left ? text + pad : pad + text;
        }
        out += text;
    }
    return out;
}
