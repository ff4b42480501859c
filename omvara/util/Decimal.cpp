// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/util/Decimal.h"

#include <algorithm>
#include <cstdint>

namespace omvara::util {

namespace {

constexpr unsigned long kPow10Small[] = {
    1UL,
    10UL,
    100UL,
    1000UL,
    10000UL,
    100000UL,
    1000000UL,
    10000000UL,
    100000000UL,
    1000000000UL,
    10000000000UL,
    100000000000UL,
    1000000000000UL,
    10000000000000UL,
    100000000000000UL,
    1000000000000000UL,
    10000000000000000UL,
    100000000000000000UL,
    1000000000000000000UL,
    10000000000000000000UL,
};
constexpr unsigned long kPow10SmallCount = sizeof(kPow10Small) / sizeof(kPow10Small[0]);
static_assert(sizeof(unsigned long) >= 8, "the power table needs 64-bit unsigned long");

mpz_class pow10(unsigned long n)
{
    if (n < kPow10SmallCount)
        return mpz_class(kPow10Small[n]);
    mpz_class p;
    mpz_ui_pow_ui(p.get_mpz_t(), 10, n);
    return p;
}

void multiplyPow10(mpz_class &x, unsigned long n)
{
    if (n == 0 || x == 0)
        return;
    if (n < kPow10SmallCount)
        x *= kPow10Small[n];
    else
        x *= pow10(n);
}

// Exact count of decimal digits of |x| (1 for zero). mpz_sizeinbase may be one too large.
long long digitCount(const mpz_class &x)
{
    if (x == 0)
        return 1;
    const auto n = static_cast<long long>(mpz_sizeinbase(x.get_mpz_t(), 10));
    if (n == 1)
        return 1;
    if (mpz_cmpabs(x.get_mpz_t(), pow10(static_cast<unsigned long>(n - 1)).get_mpz_t()) < 0)
        return n - 1;
    return n;
}

// q is the quotient truncated towards zero, r the remainder of that division (its sign is the
// numerator's) and den the divisor; resultSign is the sign of the exact quotient. Moves q one
// step away from zero where the mode asks for it.
void roundQuotient(mpz_class &q, const mpz_class &r, const mpz_class &den, int resultSign, RoundingMode mode)
{
    if (r == 0)
        return;
    bool increment = false;
    switch (mode) {
    case RoundingMode::UP:
        increment = true;
        break;
    case RoundingMode::DOWN:
        increment = false;
        break;
    case RoundingMode::CEILING:
        increment = resultSign > 0;
        break;
    case RoundingMode::FLOOR:
        increment = resultSign < 0;
        break;
    case RoundingMode::HALF_UP:
    case RoundingMode::HALF_DOWN:
    case RoundingMode::HALF_EVEN: {
        mpz_class twice = r;
        twice *= 2;
        const int c = mpz_cmpabs(twice.get_mpz_t(), den.get_mpz_t());
        if (mode == RoundingMode::HALF_UP)
            increment = c >= 0;
        else if (mode == RoundingMode::HALF_DOWN)
            increment = c > 0;
        else
            increment = c > 0 || (c == 0 && mpz_odd_p(q.get_mpz_t()));
        break;
    }
    }
    if (increment) {
        if (resultSign > 0)
            q += 1;
        else
            q -= 1;
    }
}

std::string quoteForMessage(std::string_view text)
{
    constexpr std::size_t maxShown = 64;
    std::string shown(text.substr(0, maxShown));
    if (text.size() > maxShown)
        shown += "...";
    return "\"" + shown + "\"";
}

[[noreturn]] void throwNotANumber(std::string_view text)
{
    throw NumberFormatError(quoteForMessage(text) + " is not a decimal number");
}

[[noreturn]] void throwOutOfRange(std::string_view text)
{
    throw NumberFormatError(quoteForMessage(text) + " is outside the range of decimal numbers (at most "
        + std::to_string(Decimal::DigitLimit) + " digits before and after the mark)");
}

[[noreturn]] void throwResultOutOfRange()
{
    throw ArithmeticError("Result outside the range of decimal numbers (at most "
        + std::to_string(Decimal::DigitLimit) + " digits before and after the mark)");
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

bool Decimal::inRange(const mpz_class &unscaled, long long scale)
{
    if (scale < -DigitLimit || scale > DigitLimit)
        return false;
    if (unscaled == 0)
        return true;
    // Digits before the mark: digits of the unscaled value minus the scale.
    const auto upper = static_cast<long long>(mpz_sizeinbase(unscaled.get_mpz_t(), 10));
    if (upper - scale <= DigitLimit)
        return true;
    return digitCount(unscaled) - scale <= DigitLimit;
}

Decimal Decimal::checked(mpz_class unscaled, long long scale)
{
    if (!inRange(unscaled, scale))
        throwResultOutOfRange();
    return Decimal(std::move(unscaled), static_cast<int>(scale), Unchecked {});
}

Decimal::Decimal(long long unscaled, int scale)
    : Decimal(checked(mpz_class(static_cast<signed long>(unscaled)), scale))
{
    static_assert(sizeof(signed long) == sizeof(long long), "64-bit long expected");
}

Decimal::Decimal(const mpz_class &unscaled, int scale)
    : Decimal(checked(unscaled, scale))
{
}

Decimal Decimal::parse(std::string_view text)
{
    std::size_t i = 0;
    const std::size_t n = text.size();
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Significand: collect the digits without the point, dropping leading zeros.
    std::string digits;
    long long fractionDigits = 0;
    bool seenPoint = false;
    bool anyDigit = false;
    for (; i < n; ++i) {
        const char c = text[i];
        if (isDigit(c)) {
            anyDigit = true;
            if (seenPoint)
                ++fractionDigits;
            if (!(digits.empty() && c == '0'))
                digits.push_back(c);
        } else if (c == '.' && !seenPoint) {
            seenPoint = true;
        } else {
            break;
        }
    }
    if (!anyDigit)
        throwNotANumber(text);

    long long exponent = 0;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool negativeExponent = false;
        if (i < n && (text[i] == '+' || text[i] == '-')) {
            negativeExponent = text[i] == '-';
            ++i;
        }
        if (i >= n || !isDigit(text[i]))
            throwNotANumber(text);
        // Saturate: any exponent beyond this is out of range anyway.
        constexpr long long saturation = 1'000'000'000'000LL;
        for (; i < n && isDigit(text[i]); ++i) {
            if (exponent < saturation)
                exponent = exponent * 10 + (text[i] - '0');
        }
        if (negativeExponent)
            exponent = -exponent;
    }
    if (i != n)
        throwNotANumber(text);

    const long long scale = fractionDigits - exponent;
    if (scale < -DigitLimit || scale > DigitLimit)
        throwOutOfRange(text);
    if (digits.empty())
        return Decimal(mpz_class(0), static_cast<int>(scale), Unchecked {});
    // The first kept digit is not zero, so this is the exact count of digits before the mark.
    if (static_cast<long long>(digits.size()) - scale > DigitLimit)
        throwOutOfRange(text);
    mpz_class unscaled(digits, 10);
    if (negative)
        unscaled = -unscaled;
    return Decimal(std::move(unscaled), static_cast<int>(scale), Unchecked {});
}

Decimal Decimal::parse(QStringView text)
{
    std::string latin;
    latin.reserve(static_cast<std::size_t>(text.size()));
    for (QChar c : text) {
        if (c.unicode() >= 0x80)
            throwNotANumber(text.toString().toStdString());
        latin.push_back(static_cast<char>(c.unicode()));
    }
    return parse(std::string_view(latin));
}

std::optional<Decimal> Decimal::tryParse(std::string_view text) noexcept
{
    try {
        return parse(text);
    } catch (const std::exception &) {
        return std::nullopt;
    }
}

std::optional<Decimal> Decimal::tryParse(QStringView text) noexcept
{
    try {
        return parse(text);
    } catch (const std::exception &) {
        return std::nullopt;
    }
}

int Decimal::precision() const
{
    return static_cast<int>(digitCount(unscaled_));
}

Decimal Decimal::multiply(const Decimal &other) const
{
    return checked(unscaled_ * other.unscaled_, static_cast<long long>(scale_) + other.scale_);
}

Decimal Decimal::add(const Decimal &other) const
{
    const int s = std::max(scale_, other.scale_);
    mpz_class a = unscaled_;
    mpz_class b = other.unscaled_;
    multiplyPow10(a, static_cast<unsigned long>(s - scale_));
    multiplyPow10(b, static_cast<unsigned long>(s - other.scale_));
    return checked(a + b, s);
}

Decimal Decimal::subtract(const Decimal &other) const
{
    return add(other.negate());
}

Decimal Decimal::abs() const
{
    return Decimal(::abs(unscaled_), scale_, Unchecked {});
}

Decimal Decimal::negate() const
{
    return Decimal(-unscaled_, scale_, Unchecked {});
}

Decimal Decimal::divide(const Decimal &divisor, int scale, RoundingMode mode) const
{
    if (divisor.unscaled_ == 0)
        throw ArithmeticError("Division by zero");
    if (scale < -DigitLimit || scale > DigitLimit)
        throwResultOutOfRange();
    // this / divisor = (u1 / u2) × 10^(s2 - s1); wanted: q with q × 10^-scale ≈ that,
    // so q ≈ u1 × 10^(scale - s1 + s2) / u2.
    const long long e = static_cast<long long>(scale) - scale_ + divisor.scale_;
    mpz_class num = unscaled_;
    mpz_class den = divisor.unscaled_;
    if (e >= 0)
        multiplyPow10(num, static_cast<unsigned long>(e));
    else
        multiplyPow10(den, static_cast<unsigned long>(-e));
    mpz_class q;
    mpz_class r;
    mpz_tdiv_qr(q.get_mpz_t(), r.get_mpz_t(), num.get_mpz_t(), den.get_mpz_t());
    roundQuotient(q, r, den, sgn(num) * sgn(den), mode);
    return checked(std::move(q), scale);
}

Decimal Decimal::setScale(int newScale, RoundingMode mode) const
{
    if (newScale < -DigitLimit || newScale > DigitLimit)
        throwResultOutOfRange();
    if (newScale >= scale_) {
        mpz_class u = unscaled_;
        multiplyPow10(u, static_cast<unsigned long>(newScale - scale_));
        return checked(std::move(u), newScale);
    }
    const mpz_class den = pow10(static_cast<unsigned long>(scale_ - newScale));
    mpz_class q;
    mpz_class r;
    mpz_tdiv_qr(q.get_mpz_t(), r.get_mpz_t(), unscaled_.get_mpz_t(), den.get_mpz_t());
    roundQuotient(q, r, den, signum(), mode);
    return checked(std::move(q), newScale);
}

int Decimal::compareTo(const Decimal &other) const
{
    const int a = signum();
    const int b = other.signum();
    if (a != b)
        return a < b ? -1 : 1;
    if (a == 0)
        return 0;
    if (scale_ == other.scale_) {
        const int c = cmp(unscaled_, other.unscaled_);
        return (c > 0) - (c < 0);
    }
    const int s = std::max(scale_, other.scale_);
    mpz_class x = unscaled_;
    mpz_class y = other.unscaled_;
    multiplyPow10(x, static_cast<unsigned long>(s - scale_));
    multiplyPow10(y, static_cast<unsigned long>(s - other.scale_));
    const int c = cmp(x, y);
    return (c > 0) - (c < 0);
}

std::string Decimal::toPlainString(char decimalMark) const
{
    if (unscaled_ == 0) {
        if (scale_ <= 0)
            return "0";
        std::string s = "0";
        s.push_back(decimalMark);
        s.append(static_cast<std::size_t>(scale_), '0');
        return s;
    }
    // Digits of |unscaled| straight from GMP into the buffer.
    const std::size_t room = mpz_sizeinbase(unscaled_.get_mpz_t(), 10) + 2;
    std::string digits(room, '\0');
    mpz_get_str(digits.data(), 10, unscaled_.get_mpz_t());
    digits.resize(std::char_traits<char>::length(digits.data()));
    const bool negative = digits.front() == '-';
    if (negative)
        digits.erase(0, 1);

    std::string out;
    out.reserve(digits.size() + static_cast<std::size_t>(std::max(scale_, -scale_)) + 3);
    if (negative)
        out.push_back('-');
    if (scale_ <= 0) {
        out += digits;
        out.append(static_cast<std::size_t>(-scale_), '0');
        return out;
    }
    const auto fraction = static_cast<std::size_t>(scale_);
    if (digits.size() <= fraction) {
        out.push_back('0');
        out.push_back(decimalMark);
        out.append(fraction - digits.size(), '0');
        out += digits;
    } else {
        out.append(digits, 0, digits.size() - fraction);
        out.push_back(decimalMark);
        out.append(digits, digits.size() - fraction, std::string::npos);
    }
    return out;
}

QString Decimal::toPlainText(QChar decimalMark) const
{
    const char mark = decimalMark.unicode() < 0x80 ? static_cast<char>(decimalMark.unicode()) : '.';
    QString text = QString::fromLatin1(toPlainString(mark));
    if (decimalMark.unicode() >= 0x80)
        text.replace(u'.', decimalMark);
    return text;
}

} // namespace omvara::util
