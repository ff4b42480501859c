// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/run/SessionDecimalMark.h"

#include "omvara/texts/WorkerTexts.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>

namespace omvara::run {

namespace {

using DecimalSeparator = config::ConfigHelper::DecimalSeparator;

// The decimal mark of a locale name such as "de_DE.UTF-8" or "de_CH@euro";
// nothing for C, POSIX, names Qt does not know, and marks other than the
// point and the comma.
std::optional<QChar> markOf(const QString &name)
{
    QString base = name.trimmed();
    base.truncate(base.indexOf(u'@') < 0 ? base.size() : base.indexOf(u'@'));
    base.truncate(base.indexOf(u'.') < 0 ? base.size() : base.indexOf(u'.'));
    if (base.isEmpty() || base == u"C" || base == u"POSIX")
        return std::nullopt;
    const QLocale locale(base);
    if (locale.language() == QLocale::C)
        return std::nullopt;
    const QString mark = locale.decimalPoint();
    if (mark == u"." || mark == u",")
        return mark.front();
    return std::nullopt;
}

// KDE keeps the formats chosen in its settings as locale names in [Formats].
std::optional<SessionDecimalMark> fromKde(const QString &configHome)
{
    if (configHome.isEmpty())
        return std::nullopt;
    for (const char *file : { "plasma-localerc", "kdeglobals" }) {
        const QString path = QDir(configHome).filePath(QString::fromLatin1(file));
        if (!QFile::exists(path))
            continue;
        QSettings settings(path, QSettings::IniFormat);
        settings.beginGroup(QStringLiteral("Formats"));
        for (const char *key : { "LC_NUMERIC", "LANG" }) {
            const QString name = settings.value(QString::fromLatin1(key)).toString();
            if (const auto mark = markOf(name))
                return SessionDecimalMark { *mark, name,
                    QStringLiteral("the desktop's formats setting (KDE)") };
        }
    }
    return std::nullopt;
}

std::optional<SessionDecimalMark> fromGnome(const std::function<QString()> &region)
{
    if (!region)
        return std::nullopt;
    const QString name = region();
    if (const auto mark = markOf(name))
        return SessionDecimalMark { *mark, name, QStringLiteral("the desktop's region setting (GNOME)") };
    return std::nullopt;
}

QString markName(QChar mark)
{
    return (mark == u',' ? DecimalSeparator::COMMA : DecimalSeparator::DOT).toString();
}

} // namespace

SessionLocaleSources SessionLocaleSources::fromSystem()
{
    SessionLocaleSources sources;
    sources.environment = QProcessEnvironment::systemEnvironment();
    QString configHome = sources.environment.value(QStringLiteral("XDG_CONFIG_HOME"));
    if (configHome.isEmpty() && !QDir::homePath().isEmpty())
        configHome = QDir::home().filePath(QStringLiteral(".config"));
    sources.configHome = configHome;
    // Outside a desktop session (a service, a console) there is no region
    // setting to read, and no program is started for it.
    if (sources.environment.value(QStringLiteral("XDG_CURRENT_DESKTOP")).isEmpty())
        return sources;
    sources.gnomeRegion = [] {
        const QString gsettings = QStandardPaths::findExecutable(QStringLiteral("gsettings"));
        if (gsettings.isEmpty())
            return QString();
        QProcess process;
        process.start(gsettings,
            { QStringLiteral("get"), QStringLiteral("org.gnome.system.locale"), QStringLiteral("region") });
        if (!process.waitForFinished(2000)) {
            process.kill();
            process.waitForFinished(1000);
            return QString();
        }
        if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
            return QString();
        // Printed as a quoted string: 'de_DE.UTF-8'
        QString value = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
        if (value.size() >= 2 && value.startsWith(u'\'') && value.endsWith(u'\''))
            value = value.mid(1, value.size() - 2);
        return value;
    };
    return sources;
}

std::optional<SessionDecimalMark> SessionDecimalMark::find(const SessionLocaleSources &sources)
{
    // The first variable that is set decides, as for the applications.
    for (const char *variable : { "LC_ALL", "LC_NUMERIC", "LANG" }) {
        const QString name = sources.environment.value(QString::fromLatin1(variable));
        if (name.isEmpty())
            continue;
        if (const auto mark = markOf(name))
            return SessionDecimalMark { *mark, name, QString::fromLatin1(variable) };
        break; // C, POSIX or a name not known: the desktop may know better
    }
    const bool kdeSession = sources.environment.value(QStringLiteral("XDG_CURRENT_DESKTOP"))
                                .contains(QLatin1String("KDE"), Qt::CaseInsensitive);
    if (kdeSession) {
        if (auto found = fromKde(sources.configHome))
            return found;
        return fromGnome(sources.gnomeRegion);
    }
    if (auto found = fromGnome(sources.gnomeRegion))
        return found;
    return fromKde(sources.configHome);
}

QString decimalSeparatorWarning(
    const DecimalSeparator &setting, const std::optional<SessionDecimalMark> &session)
{
    if (!session)
        return {};
    const QChar chosen = &setting == &DecimalSeparator::COMMA ? u',' : u'.';
    if (chosen == session->mark)
        return {};
    const DecimalSeparator &better = session->mark == u',' ? DecimalSeparator::COMMA : DecimalSeparator::DOT;
    return texts::WorkerTexts::format(texts::WorkerTexts::text("decimal.separator.mismatch"),
        { markName(chosen), session->locale, session->source, markName(session->mark),
            QStringLiteral("12") + chosen + QStringLiteral("345"), better.toString(), better.name(),
            markName(chosen) });
}

} // namespace omvara::run
