// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gmpxx.h>

#include <QString>
#include <QStringView>

#include <compare>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace omvara::util {

// How a value that lies between two representable neighbours is reduced to one of them.
enum class RoundingMode {
    UP, // away from zero
    DOWN, // towards zero
    CEILING, // towards positive infinity
    FLOOR, // towards negative infinity
    HALF_UP, // nearest neighbour, ties away from zero
    HALF_DOWN, // nearest neighbour, ties towards zero
    HALF_EVEN, // nearest neighbour, ties to the even neighbour
};

// A text that is not a decimal number, or one outside the range a Decimal can hold.
class NumberFormatError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// An arithmetic operation that has no result: division by zero, or a result outside the range.
class ArithmeticError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// An exact decimal number: an unscaled integer of any size and a scale, the value being
// unscaled × 10^-scale. The scale counts the digits after the decimal mark; a negative scale
// stands for zeros before the mark (12 with scale -2 is 1200). 1.50 and 1.5 are equal numbers
// with different scales; the scale is kept as written, so trailing zeros survive.
//
// Range: every Decimal has at most DigitLimit digits before the mark and a scale from
// -DigitLimit to DigitLimit, so its plain text never exceeds about 2 × DigitLimit characters.
// Parsing refuses texts outside that range (NumberFormatError) and arithmetic refuses results
// outside it (ArithmeticError). Without the bound a short text such as "1e-999999999" would
// ask for a billion digits when written out. No instrument comes anywhere near the limit.
//
// There is no negative zero: "-0.00" is zero with scale 2 and is written "0.00".
class Decimal
{
public:
    static constexpr int DigitLimit = 400;

    // Zero with scale 0.
    Decimal() = default;
    // unscaled × 10^-scale; ArithmeticError when outside the range.
    explicit Decimal(long long unscaled, int scale = 0);
    Decimal(const mpz_class &unscaled, int scale);

    // Parses the decimal syntax: an optional sign ("+" or "-"), decimal digits with at most one
    // point (at least one digit in all, before or after it), then optionally "e" or "E", an
    // optional sign and at least one digit. The scale is the number of digits after the point
    // minus the exponent. Only ASCII digits count; no blanks are allowed anywhere, and a comma
    // is not a decimal mark here (callers that accept commas replace them first).
    // Throws NumberFormatError for any other text and for numbers outside the range.
    static Decimal parse(std::string_view text);
    static Decimal parse(QStringView text);
    static Decimal parse(const QString &text) { return parse(QStringView(text)); }
    static Decimal parse(const char *text) { return parse(std::string_view(text)); }
    // As parse, but gives nothing instead of throwing.
    static std::optional<Decimal> tryParse(std::string_view text) noexcept;
    static std::optional<Decimal> tryParse(QStringView text) noexcept;
    static std::optional<Decimal> tryParse(const QString &text) noexcept
    {
        return tryParse(QStringView(text));
    }
    static std::optional<Decimal> tryParse(const char *text) noexcept
    {
        return tryParse(std::string_view(text));
    }

    const mpz_class &unscaledValue() const { return unscaled_; }
    int scale() const { return scale_; }
    // -1, 0 or 1.
    int signum() const { return sgn(unscaled_); }
    // Number of digits of the unscaled value (1 for zero).
    int precision() const;

    // Exact product; the scale is the sum of both scales.
    Decimal multiply(const Decimal &other) const;
    // Exact difference; the scale is the larger of both scales.
    Decimal subtract(const Decimal &other) const;
    Decimal add(const Decimal &other) const;
    Decimal abs() const;
    Decimal negate() const;
    // this / divisor with exactly `scale` digits after the mark, rounded with `mode`.
    // ArithmeticError when the divisor is zero or the scale is outside the range.
    Decimal divide(const Decimal &divisor, int scale, RoundingMode mode) const;
    // The same number with the new scale: exact when the scale grows, rounded with `mode` when
    // it shrinks. ArithmeticError when the scale is outside the range.
    Decimal setScale(int newScale, RoundingMode mode) const;

    // Numeric comparison, ignoring the scale: 1.5 and 1.50 compare equal.
    int compareTo(const Decimal &other) const;
    friend bool operator==(const Decimal &a, const Decimal &b) { return a.compareTo(b) == 0; }
    friend std::strong_ordering operator<=>(const Decimal &a, const Decimal &b)
    {
        return a.compareTo(b) <=> 0;
    }
    // Same number and same scale.
    bool identicalTo(const Decimal &other) const
    {
        return scale_ == other.scale_ && unscaled_ == other.unscaled_;
    }

    // Plain positional form, never with an exponent: a leading "-" for negative numbers, at
    // least one digit before the mark, exactly max(scale, 0) digits after it, no grouping.
    // 1200 with scale -2 is written "1200", 5 with scale 3 "0.005".
    std::string toPlainString(char decimalMark = '.') const;
    QString toPlainText(QChar decimalMark = u'.') const;

private:
    struct Unchecked
    {
    };
    Decimal(mpz_class unscaled, int scale, Unchecked)
        : unscaled_(std::move(unscaled))
        , scale_(scale)
    {
    }
    // Throws ArithmeticError when unscaled/scale lie outside the range.
    static Decimal checked(mpz_class unscaled, long long scale);
    static bool inRange(const mpz_class &unscaled, long long scale);

    mpz_class unscaled_;
    int scale_ = 0;
};

} // namespace omvara::util
