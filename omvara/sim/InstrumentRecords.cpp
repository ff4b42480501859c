// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/sim/InstrumentRecords.h"

#include <cmath>

namespace omvara::sim {

namespace {

// The number right-aligned in `width` characters with its sign where the device puts one.
QByteArray number(double value, int decimals, int width, bool forceSign = false, int zeroPadTo = 0)
{
    QByteArray digits = QByteArray::number(std::fabs(value), 'f', decimals);
    if (zeroPadTo > 0)
        digits = digits.rightJustified(zeroPadTo, '0');
    QByteArray sign;
    if (value < 0)
        sign = "-";
    else if (forceSign)
        sign = "+";
    return (sign + digits).rightJustified(width, ' ');
}

QByteArray sartorius(const Reading &r)
{
    // 16 characters: sign, value right-aligned, unit; the unit is left out while unstable.
    if (r.overload)
        return "    High        ";
    const QByteArray sign = r.value < 0 ? "-" : "+";
    const QByteArray digits = QByteArray::number(std::fabs(r.value), 'f', r.decimals).rightJustified(10, ' ');
    return sign + digits + (r.stable ? " g   " : "     ");
}

QByteArray aandd(const Reading &r)
{
    // Header ST (stable), US (unstable), OL (overload); value with sign and leading zeros.
    if (r.overload)
        return "OL,+9999999E+19";
    const QByteArray header = r.stable ? "ST," : "US,";
    const QByteArray sign = r.value < 0 ? "-" : "+";
    QByteArray digits = QByteArray::number(std::fabs(r.value), 'f', r.decimals);
    digits = digits.rightJustified(r.decimals > 0 ? 9 : 8, '0');
    return header + sign + digits + "  g";
}

QByteArray mettler(const Reading &r)
{
    if (r.overload)
        return "S +";
    return QByteArray(r.stable ? "S S " : "S D ") + number(r.value, r.decimals, 10) + " g";
}

QByteArray ohaus(const Reading &r)
{
    if (r.overload)
        return "   -------- g";
    return number(r.value, r.decimals, 10) + " g " + (r.stable ? " " : "?");
}

QByteArray handPunch(qint64 id)
{
    return "021   001   15:27:00  06/29/16  IDENTITY VERIFIED FOR ID ("
        + QByteArray::number(id).rightJustified(4, ' ') + ")";
}

QByteArray pieces(qint64 count)
{
    return QByteArray::number(count).rightJustified(8, ' ') + " pcs";
}

} // namespace

QByteArray InstrumentRecords::countBody(const QString &instrument, qint64 count)
{
    if (isCodeReader(instrument))
        return QByteArray::number(count);
    if (instrument == QLatin1String("SCHLAGE_HANDPUNCH"))
        return handPunch(count);
    if (instrument == QLatin1String("ADAM_GC_PCS"))
        return pieces(count);
    return format(instrument, Reading { double(count), 0, true, false });
}

bool InstrumentRecords::isCodeReader(const QString &instrument)
{
    return instrument.startsWith(QLatin1String("BARCODE"));
}

QByteArray InstrumentRecords::format(const QString &i, const Reading &r)
{
    if (i == QLatin1String("BARCODE"))
        return QByteArray::number(qint64(std::llround(std::fabs(r.value) * 1000)) + 4006381000000LL);
    if (i == QLatin1String("BARCODE_ALPHA"))
        return "LOT" + QByteArray::number(qint64(std::llround(std::fabs(r.value) * 1000))) + "X";
    if (i == QLatin1String("BARCODE_ALL")) {
        // A GS1-128 element string: GTIN, batch and serial number, a group
        // separator after each field of variable length.
        const QByteArray n = QByteArray::number(qint64(std::llround(std::fabs(r.value) * 1000)));
        return "]C10109501101530003\x1d"
               "10L_"
            + n + "\x1d" + "21#" + n + "@x";
    }
    if (i == QLatin1String("BARCODE_ALPHA_COMPLETE"))
        return "Lot-" + QByteArray::number(qint64(std::llround(std::fabs(r.value) * 1000))) + "/b.7";
    if (i == QLatin1String("AND") || i == QLatin1String("AND_SIMPLE") || i == QLatin1String("AND_EM"))
        return aandd(r);
    if (i == QLatin1String("SARTORIUS"))
        return sartorius(r);
    if (i == QLatin1String("METTLER_DIALOG") || i == QLatin1String("METTLER_PRINT"))
        return mettler(r);
    if (i == QLatin1String("OHAUS") || i == QLatin1String("OHAUSSPU"))
        return ohaus(r);
    if (i == QLatin1String("ADAM_AZEXTRA_WEIGHT"))
        return "NET.   " + number(r.value, r.decimals, 8) + "kg";
    if (i == QLatin1String("ADAM_CBK"))
        return number(r.value, r.decimals, 9) + " kg";
    if (i == QLatin1String("ADAM_CPWPLUS"))
        return "G/W:" + QByteArray(r.value < 0 ? "-" : "+") + number(std::fabs(r.value), r.decimals, 7)
            + "   kg";
    if (i == QLatin1String("ADAM_GC_WEIGHT")) // the sign comes first, then the padded digits
        return QByteArray("Net Wt ") + (r.value < 0 ? "-" : " ") + number(std::fabs(r.value), r.decimals, 9)
            + " kg";
    if (i == QLatin1String("ADAM_GC_PCS"))
        return pieces(std::llround(std::fabs(r.value) * 10));
    if (i == QLatin1String("ADAM_HCB"))
        return QByteArray(r.stable ? "ST," : "US,") + number(r.value, r.decimals, 10, true) + " g";
    if (i == QLatin1String("ADAM_LABEL"))
        return number(r.value, r.decimals, 10) + " kg";
    if (i == QLatin1String("KERN_MPS"))
        return "N  " + number(r.value, r.decimals, 8) + " kg";
    if (i.startsWith(QLatin1String("KERN")))
        return number(r.value, r.decimals, 11) + " g" + (r.stable ? "" : " ?");
    if (i == QLatin1String("KEYENCE_IL"))
        return "DR,02," + number(r.value, 3, 0, true);
    if (i == QLatin1String("MITUTOYO"))
        return "01A" + number(r.value, 4, 0, true, 8);
    if (i == QLatin1String("MITUTOYO_LSM_6200"))
        return "P00," + number(r.value, 4, 9);
    if (i == QLatin1String("MYWEIGH_HD"))
        return number(r.value, r.decimals, 9) + " g";
    if (i == QLatin1String("PRECISA"))
        return number(r.value, r.decimals, 11) + " g";
    if (i == QLatin1String("SCHLAGE_HANDPUNCH"))
        return handPunch(qint64(std::llround(std::fabs(r.value) * 10)) % 1000);
    if (i == QLatin1String("TANITA_TL280"))
        return "{0,16,~0,1,MO,\"TL-280\",Wg," + QByteArray::number(r.value, 'f', 1) + ",Pt,0";
    if (i == QLatin1String("WEDDERBURN")) // status digit, sign, padded digits
        return QByteArray("0") + (r.value < 0 ? "-" : "") + number(std::fabs(r.value), r.decimals, 8);
    // GENERIC and anything else: a plain weight with unit.
    return number(r.value, r.decimals, 9) + " g";
}

QList<Reading> InstrumentRecords::readingCycle(const QString &instrument)
{
    QList<Reading> cycle = {
        { 12.345, 3, true, false },
        { 12.346, 3, false, false },
        { 100.5, 2, true, false },
        { -1.23, 2, true, false },
        { 0.0, 2, true, false },
        { 2.675, 3, true, false },
    };
    const bool hasOverload = instrument == QLatin1String("SARTORIUS") || instrument == QLatin1String("AND")
        || instrument == QLatin1String("AND_SIMPLE") || instrument == QLatin1String("AND_EM")
        || instrument.startsWith(QLatin1String("METTLER")) || instrument.startsWith(QLatin1String("OHAUS"));
    if (hasOverload)
        cycle.append({ 0, 2, true, true });
    return cycle;
}

QByteArray InstrumentRecords::lineEnd(int terminator)
{
    if (terminator == '\n')
        return "\r\n";
    return QByteArray(1, char(terminator));
}

QByteArray InstrumentRecords::record(const QByteArray &body, int terminator)
{
    if (!body.isEmpty() && quint8(body.back()) == terminator)
        return body;
    if (terminator == '\n' && body.endsWith('\r'))
        return body + '\n';
    return body + lineEnd(terminator);
}

} // namespace omvara::sim
