// SPDX-License-Identifier: GPL-3.0-or-later
// Parses arbitrary text as a decimal number and checks what the number formatting relies on:
// the plain text reads back as the same number, rescaling gives exactly the asked scale and
// stays within one unit of the last place on the side its rounding mode says, and division
// agrees with multiplication. Any crash, sanitizer report or failed check is a finding.
#include "omvara/util/Decimal.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

using omvara::util::ArithmeticError;
using omvara::util::Decimal;
using omvara::util::RoundingMode;

namespace {

void check(bool condition, const char *what, std::string_view input)
{
    if (!condition) {
        std::fprintf(
            stderr, "check failed: %s (input %.*s)\n", what, static_cast<int>(input.size()), input.data());
        std::abort();
    }
}

constexpr std::array<RoundingMode, 7> kModes = { RoundingMode::UP, RoundingMode::DOWN, RoundingMode::CEILING,
    RoundingMode::FLOOR, RoundingMode::HALF_UP, RoundingMode::HALF_DOWN, RoundingMode::HALF_EVEN };

// Digits before the mark of d (1 for numbers below one, and for zero whatever its scale).
long long integerDigits(const Decimal &d)
{
    if (d.signum() == 0)
        return 1;
    const long long digits = static_cast<long long>(d.precision()) - d.scale();
    return digits < 1 ? 1 : digits;
}

void checkRescale(const Decimal &d, int places, std::string_view input)
{
    const Decimal ulp(1, places);
    for (RoundingMode mode : kModes) {
        Decimal r;
        try {
            r = d.setScale(places, mode);
        } catch (const ArithmeticError &) {
            // Only rounding up across the digit limit may fail.
            check(integerDigits(d) >= Decimal::DigitLimit, "rescale failed below the limit", input);
            continue;
        }
        check(r.scale() == places, "rescale gives the asked scale", input);
        const Decimal error = r.subtract(d);
        const Decimal distance = error.abs();
        check(distance < ulp, "rescale moves less than one unit", input);
        if (d.scale() <= places)
            check(distance.signum() == 0, "growing the scale is exact", input);
        switch (mode) {
        case RoundingMode::UP:
            check(r.abs() >= d.abs(), "UP never shrinks", input);
            break;
        case RoundingMode::DOWN:
            check(r.abs() <= d.abs(), "DOWN never grows", input);
            break;
        case RoundingMode::CEILING:
            check(r >= d, "CEILING never goes down", input);
            break;
        case RoundingMode::FLOOR:
            check(r <= d, "FLOOR never goes up", input);
            break;
        default:
            check(distance.multiply(Decimal(2)) <= ulp, "HALF modes take the nearest neighbour", input);
            break;
        }
    }
}

void checkDivision(const Decimal &d, int places, std::string_view input)
{
    static const Decimal three(3);
    Decimal q;
    try {
        q = d.divide(three, places, RoundingMode::HALF_EVEN);
    } catch (const ArithmeticError &) {
        // A third of a number in range, at most 7 places, is always in range.
        check(false, "division by three failed", input);
        return;
    }
    check(q.scale() == places, "division gives the asked scale", input);
    // |q × 3 − d| ≤ 1.5 units of the last place.
    const Decimal slack = q.multiply(three).subtract(d).abs().multiply(Decimal(2));
    check(slack <= Decimal(3, places), "division is the nearest quotient", input);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    const std::optional<Decimal> parsed = Decimal::tryParse(input);

    // The text path agrees with the byte path for ASCII input.
    bool ascii = true;
    for (char c : input)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) {
        const std::optional<Decimal> viaText
            = Decimal::tryParse(QString::fromLatin1(input.data(), qsizetype(size)));
        check(parsed.has_value() == viaText.has_value(), "both parse entry points agree", input);
        if (parsed)
            check(parsed->identicalTo(*viaText), "both parse entry points give the same number", input);
    }
    if (!parsed)
        return 0;
    const Decimal &d = *parsed;

    check(d.scale() >= -Decimal::DigitLimit && d.scale() <= Decimal::DigitLimit, "scale within the limit",
        input);
    check(integerDigits(d) <= Decimal::DigitLimit, "integer digits within the limit", input);

    const std::string plain = d.toPlainString();
    check(plain.size() <= 2 * std::size_t(Decimal::DigitLimit) + 3, "plain text bounded", input);
    check(plain.find_first_of("eE") == std::string::npos, "plain text has no exponent", input);
    const Decimal again = Decimal::parse(plain);
    check(again == d, "plain text reads back as the same number", input);
    if (d.scale() >= 0)
        check(again.identicalTo(d), "plain text keeps the scale", input);

    std::string comma = d.toPlainString(',');
    for (char &c : comma) {
        if (c == ',')
            c = '.';
    }
    check(comma == plain, "the comma form differs only in the mark", input);

    check(d.subtract(d).signum() == 0, "d - d is zero", input);
    check(d.compareTo(d.negate()) == d.signum(), "comparison with the negation", input);

    const int places = size > 0 ? data[0] % 8 : 0;
    checkRescale(d, places, input);
    checkDivision(d, places, input);
    return 0;
}
