// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/processing/ValueExtractor.h"

#include "omvara/config/Config.h"
#include "omvara/config/LinePattern.h"

#include <algorithm>
#include <chrono>
#include <ctime>

namespace omvara::processing {

using config::ConfigHelper;

namespace {

const ConfigHelper::Instrument &instrumentOf(const config::Config &config)
{
    const ConfigHelper::Instrument *instrument = config.getInstrument();
    return instrument ? *instrument : ConfigHelper::Instrument::getDefault();
}

// Processor time used by the calling thread, in nanoseconds.
qint64 threadCpuNs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

bool hasSurrogate(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.isSurrogate(); });
}

} // namespace

ValueExtractor::ValueExtractor(const ConfigHelper::Instrument &instrument, const QString &customRegEx)
    : m_patternText(customRegEx.isEmpty() ? instrument.getRegEx() : customRegEx)
    , m_group(instrument.getCaptureGroup())
    , m_stepwise(
          !m_patternText.contains(QLatin1String("\\G")) && !m_patternText.contains(QLatin1String("(*")))
{
    QString error;
    m_regex = config::LinePattern::compile(m_patternText, withStepLimit(QString()), QString(), &error);
    if (!m_regex.isValid())
        throw ExtractionError(QStringLiteral("The value pattern %1 does not compile: %2")
                                  .arg(m_patternText, error)
                                  .toStdString());
    m_quick
        = config::LinePattern::compile(m_patternText, withStepLimit(QString(), QuickStepLimit), QString());
    if (m_stepwise) {
        // Anchored by \G rather than by a match option, which would leave the
        // JIT out: the interpreter is several times slower and counts several
        // times the steps on field-skipping patterns.
        m_anchored = config::LinePattern::compile(
            m_patternText, withStepLimit(QString()) + QStringLiteral("\\G(?:"), QStringLiteral(")"));
    }
}

ValueExtractor::ValueExtractor(const config::Config &config)
    : ValueExtractor(instrumentOf(config), config.getCustomRegEx())
{
}

QString ValueExtractor::extract(const QString &line) const
{
    // A missing group fails every line, matching or not, so that a wrong
    // pattern shows at once instead of only when a value arrives.
    if (m_group < 0 || m_group > m_regex.captureCount())
        throw ExtractionError(QStringLiteral("No group %1 in the value pattern %2")
                                  .arg(m_group)
                                  .arg(m_patternText)
                                  .toStdString());
    const QRegularExpressionMatch match = search(line);
    if (!match.hasMatch())
        return QStringLiteral("");
    if (match.capturedStart(m_group) < 0)
        throw ExtractionError(
            QStringLiteral("Group %1 of the value pattern %2 did not take part in the match")
                .arg(m_group)
                .arg(m_patternText)
                .toStdString());
    return match.captured(m_group);
}

QString ValueExtractor::withStepLimit(const QString &pattern, qint64 limit)
{
    // Settings such as (*UTF) or (*LIMIT_MATCH=n) count only at the very start.
    qsizetype at = 0;
    while (pattern.mid(at, 2) == QLatin1String("(*")) {
        const qsizetype close = pattern.indexOf(u')', at);
        if (close < 0)
            break;
        const QStringView item = QStringView(pattern).mid(at + 2, close - at - 2);
        const qsizetype eq = item.indexOf(u'=');
        const QStringView name = eq < 0 ? item : item.left(eq);
        static const QStringList settings = { QStringLiteral("UTF"), QStringLiteral("UCP"),
            QStringLiteral("NO_AUTO_POSSESS"), QStringLiteral("NO_DOTSTAR_ANCHOR"), QStringLiteral("NO_JIT"),
            QStringLiteral("NO_START_OPT"), QStringLiteral("NOTEMPTY"), QStringLiteral("NOTEMPTY_ATSTART"),
            QStringLiteral("LIMIT_HEAP"), QStringLiteral("LIMIT_MATCH"), QStringLiteral("LIMIT_DEPTH"),
            QStringLiteral("LIMIT_RECURSION"), QStringLiteral("CR"), QStringLiteral("LF"),
            QStringLiteral("CRLF"), QStringLiteral("ANYCRLF"), QStringLiteral("ANY"), QStringLiteral("NUL"),
            QStringLiteral("BSR_ANYCRLF"), QStringLiteral("BSR_UNICODE") };
        if (!settings.contains(name))
            break; // a verb such as (*FAIL) or (*MARK:x): part of the pattern itself
        if (name == QLatin1String("LIMIT_MATCH")) {
            bool ok = false;
            const qint64 own = item.mid(eq + 1).toLongLong(&ok);
            if (ok)
                limit = std::min(limit, own);
        }
        at = close + 1;
    }
    return pattern.left(at) + QStringLiteral("(*LIMIT_MATCH=%1)").arg(limit) + pattern.mid(at);
}

QRegularExpressionMatch ValueExtractor::search(const QString &line) const
{
    const bool stepwise = m_stepwise && !hasSurrogate(line);
    if (!stepwise || line.size() <= ShortLine) {
        const QRegularExpressionMatch match = m_quick.match(line);
        if (match.isValid())
            return match;
        if (!stepwise)
            throw ExtractionError(QStringLiteral("The value pattern %1 needs too many steps for this line")
                                      .arg(m_patternText)
                                      .toStdString());
    }
    return stepwiseSearch(line);
}

QRegularExpressionMatch ValueExtractor::stepwiseSearch(const QString &line) const
{
    // One start position at a time, as the engine would try them. Reading the
    // thread's processor time is a system call, so it is read only once the
    // wall clock (cheap to read) says that a millisecond has passed since the
    // last reading: an ordinary line costs no reading at all, and a start
    // position that took long is followed by one. The line holds no
    // surrogates, so it need not be checked as UTF-16 on every attempt.
    using Clock = std::chrono::steady_clock;
    const qint64 deadline = threadCpuNs() + qint64(MatchTimeBudgetMs) * 1000000;
    Clock::time_point nextLook = Clock::now() + std::chrono::milliseconds(1);
    QRegularExpressionMatch match;
    const bool jit = m_anchored.isValid();
    for (qsizetype start = 0;; ++start) {
        match = jit ? m_anchored.match(line, start, QRegularExpression::NormalMatch,
                    QRegularExpression::DontCheckSubjectStringMatchOption)
                    : m_regex.match(line, start, QRegularExpression::NormalMatch,
                        QRegularExpression::AnchorAtOffsetMatchOption
                            | QRegularExpression::DontCheckSubjectStringMatchOption);
        if (!match.isValid() || match.hasMatch() || start >= line.size())
            break;
        const Clock::time_point now = Clock::now();
        if (now >= nextLook) {
            if (threadCpuNs() > deadline)
                throw ExtractionTimeError(
                    QStringLiteral("The value pattern %1 needs too much time for this line of %2 characters")
                        .arg(m_patternText)
                        .arg(line.size())
                        .toStdString());
            nextLook = now + std::chrono::milliseconds(1);
        }
    }
    if (!match.isValid())
        throw ExtractionError(QStringLiteral("The value pattern %1 needs too many steps for this line")
                                  .arg(m_patternText)
                                  .toStdString());
    return match;
}

} // namespace omvara::processing
