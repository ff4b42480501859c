// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/outputs/keys/SessionLayout.h"

#include "omvara/outputs/keys/KeyInjector.h"
#include "omvara/outputs/keys/LayoutKeymap.h"
#include "omvara/util/ProcessProperties.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

namespace omvara::outputs::keys {

namespace {

QString readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QString gsettings(const QString &key)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("gsettings"));
    if (program.isEmpty())
        return {};
    QProcess process;
    process.start(program, { QStringLiteral("get"), QStringLiteral("org.gnome.desktop.input-sources"), key });
    if (!process.waitForFinished(2000)) {
        process.kill();
        process.waitForFinished(1000);
        return {};
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0
        ? QString::fromUtf8(process.readAllStandardOutput())
        : QString();
}

// The first entry of a comma-separated list ("de,us" -> "de").
QString first(const QString &list)
{
    return list.section(u',', 0, 0).trimmed();
}

std::optional<SessionLayout> fromLists(const QString &layouts, const QString &variants, const QString &source)
{
    const QString layout = first(layouts);
    if (layout.isEmpty())
        return std::nullopt;
    return SessionLayout { layout, first(variants), source };
}

// GNOME lists its sources as [('xkb', 'de+nodeadkeys'), ('ibus', 'mozc-jp')].
std::optional<SessionLayout> fromGnome(const QString &text)
{
    static const QRegularExpression source(
        QStringLiteral(R"(\(\s*'xkb'\s*,\s*'([^'+]+)(?:\+([^']*))?'\s*\))"));
    const QRegularExpressionMatch match = source.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    return SessionLayout { match.captured(1), match.captured(2), QStringLiteral("the GNOME input sources") };
}

// The value of `key` in the [Layout] group of KDE's kxkbrc.
QString kdeValue(const QString &settings, const QString &key)
{
    bool inLayout = false;
    for (const QString &raw : settings.split(u'\n')) {
        const QString line = raw.trimmed();
        if (line.startsWith(u'['))
            inLayout = line == QLatin1String("[Layout]");
        else if (inLayout && line.section(u'=', 0, 0).trimmed() == key)
            return line.section(u'=', 1).trimmed();
    }
    return {};
}

std::optional<SessionLayout> fromKde(const QString &settings)
{
    // Without "Use=true" KDE leaves the layout to the system.
    if (kdeValue(settings, QStringLiteral("Use")) != QLatin1String("true"))
        return std::nullopt;
    return fromLists(kdeValue(settings, QStringLiteral("LayoutList")),
        kdeValue(settings, QStringLiteral("VariantList")), QStringLiteral("the KDE keyboard settings"));
}

// A shell variable assignment such as XKBLAYOUT="de,us".
QString shellValue(const QString &text, const QString &name)
{
    const QRegularExpression assignment(
        QStringLiteral(R"(^\s*(?:export\s+)?%1=(["']?)([^"'\n]*)\1\s*$)").arg(name),
        QRegularExpression::MultilineOption);
    return assignment.match(text).captured(2);
}

} // namespace

QString SessionLayout::name() const
{
    return variant.isEmpty() ? layout : QStringLiteral("%1(%2)").arg(layout, variant);
}

std::optional<SessionLayout> SessionLayout::parse(const QString &text)
{
    static const QRegularExpression form(QStringLiteral(R"(^([A-Za-z0-9_-]+)(?:\(([A-Za-z0-9_-]+)\))?$)"));
    const QRegularExpressionMatch match = form.match(text.trimmed());
    if (!match.hasMatch())
        return std::nullopt;
    return SessionLayout { match.captured(1), match.captured(2), QString() };
}

SessionLayoutSources SessionLayoutSources::fromSystem()
{
    SessionLayoutSources sources;
    sources.chosen = util::ProcessProperties::get(SessionLayout::propertyName()).trimmed();
    sources.xkbDefaultLayout = qEnvironmentVariable("XKB_DEFAULT_LAYOUT");
    sources.xkbDefaultVariant = qEnvironmentVariable("XKB_DEFAULT_VARIANT");
    if (!sources.chosen.isEmpty() || !first(sources.xkbDefaultLayout).isEmpty())
        return sources;
    sources.desktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
    sources.gnomeRecentSources = gsettings(QStringLiteral("mru-sources"));
    sources.gnomeSources = gsettings(QStringLiteral("sources"));
    const QString config
        = qEnvironmentVariable("XDG_CONFIG_HOME", QDir::homePath() + QStringLiteral("/.config"));
    sources.kdeSettings = readText(config + QStringLiteral("/kxkbrc"));
    sources.debianKeyboard = readText(QStringLiteral("/etc/default/keyboard"));
    return sources;
}

std::vector<SessionLayout> sessionLayoutCandidates(const SessionLayoutSources &sources)
{
    std::vector<SessionLayout> found;
    const auto add = [&found](const std::optional<SessionLayout> &layout) {
        if (layout)
            found.push_back(*layout);
    };
    if (!sources.chosen.isEmpty()) {
        SessionLayout chosen
            = SessionLayout::parse(sources.chosen).value_or(SessionLayout { sources.chosen, {}, {} });
        chosen.source = QStringLiteral("--keyboard-layout or OMVARA_KEYBOARD_LAYOUT");
        found.push_back(chosen);
    }
    add(fromLists(sources.xkbDefaultLayout, sources.xkbDefaultVariant, QStringLiteral("XKB_DEFAULT_LAYOUT")));
    const std::optional<SessionLayout> gnome = fromGnome(sources.gnomeRecentSources)
        ? fromGnome(sources.gnomeRecentSources)
        : fromGnome(sources.gnomeSources);
    const std::optional<SessionLayout> kde = fromKde(sources.kdeSettings);
    if (sources.desktop.contains(QLatin1String("KDE"), Qt::CaseInsensitive)) {
        add(kde);
        add(gnome);
    } else {
        add(gnome);
        add(kde);
    }
    add(fromLists(shellValue(sources.debianKeyboard, QStringLiteral("XKBLAYOUT")),
        shellValue(sources.debianKeyboard, QStringLiteral("XKBVARIANT")),
        QStringLiteral("/etc/default/keyboard")));
    return found;
}

std::unique_ptr<LayoutKeymap> sessionKeymap(const std::vector<SessionLayout> &candidates, bool firstIsChosen,
    const std::function<bool(int)> &usable, QString *name, const QString &backend)
{
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const SessionLayout &candidate = candidates[i];
        const QString shown = QStringLiteral("%1 from %2").arg(candidate.name(), candidate.source);
        if (auto keymap
            = LayoutKeymap::compile(candidate.layout, candidate.variant, candidate.name(), usable)) {
            *name = shown;
            return keymap;
        }
        if (i == 0 && firstIsChosen)
            throw KeyboardUnavailableError(
                QStringLiteral("%1: the keyboard layout \"%2\" (%3) is not known to this"
                               " system; give one such as de or us(dvorak)")
                    .arg(backend, candidate.name(), candidate.source));
    }
    return nullptr;
}

std::unique_ptr<LayoutKeymap> desktopKeymap(const QString &backend, QString *name)
{
    const SessionLayoutSources sources = SessionLayoutSources::fromSystem();
    return sessionKeymap(sessionLayoutCandidates(sources), !sources.chosen.isEmpty(), {}, name, backend);
}

} // namespace omvara::outputs::keys
