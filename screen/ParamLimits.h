// The limits of the supplier parameters' numbers, written once for the screen's boxes and the
// application server's checks. Header only and without dependencies, so the server includes it
// without linking the screen.
#pragma once

namespace ParamLimits {

// A number from `minimum` with at most `integerDigits` digits before the decimal comma and
// `decimals` after it; its greatest value follows from the digits (9999, 999999999.99).
struct NumberLimit {
    double minimum = 0;
    int integerDigits = 0;
    int decimals = 0;

    // 10 to the power n, exact for the few digits a limit has.
    static constexpr double Pow10(int n) {
        double p = 1;
        for (int i = 0; i < n; ++i)
            p *= 10;
        return p;
    }
    // The greatest value counted in units of its last decimal (cents for 2 decimals).
    constexpr double MaximumUnits() const { return Pow10(integerDigits + decimals) - 1; }
    constexpr double Maximum() const { return MaximumUnits() / Pow10(decimals); }
};

// NRDIASBLOQNFFOR: days during which a repeated invoice number is blocked.
inline constexpr NumberLimit kNrDiasBloqNFFor{.minimum = 0, .integerDigits = 4, .decimals = 0};
// QTREPETEPRODNF: how often one product may repeat on an invoice.
inline constexpr NumberLimit kQtRepeteProdNF{.minimum = 1, .integerDigits = 4, .decimals = 0};
// VRMAXPERMFORN: the monthly purchase limit.
inline constexpr NumberLimit kVrMaxPermForn{.minimum = 0, .integerDigits = 9, .decimals = 2};

} // namespace ParamLimits
