// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/modes/StoreCommands.h"

#include "omvara/config/ConfigStore.h"
#include "omvara/util/Version.h"

#include <QTextStream>

namespace omvara::modes {

using config::ConfigStore;

namespace {

struct Options
{
    QString prefsFile;
    QString exportFile;
    QString importFile;
};

// The value of `name` at `i` ("--name VALUE" or "--name=VALUE"), advancing
// `i` past it; nothing when the argument is another one.
std::optional<QString> optionValue(
    const QStringList &arguments, qsizetype &i, const QString &name, QString &problem)
{
    const QString &argument = arguments[i];
    if (argument.startsWith(name + u'='))
        return argument.mid(name.size() + 1);
    if (argument != name)
        return std::nullopt;
    if (i + 1 >= arguments.size()) {
        problem = QStringLiteral("option %1 needs a file name").arg(name);
        return QString();
    }
    return arguments[++i];
}

} // namespace

QString storeCommandsHelp()
{
    return QStringLiteral(
        "  --prefs-file PATH  keep the settings in the file PATH instead of the usual store\n"
        "  --export FILE      write the stored settings to FILE (XML) and exit\n"
        "  --import FILE      write the settings of FILE (XML) into the store and exit\n");
}

std::optional<int> runStoreCommands(
    const QStringList &arguments, const QString &installationFolder, QTextStream &out, QTextStream &err)
{
    Options options;
    QString problem;
    QString otherOption; // the first one; only --export and --import refuse it
    for (qsizetype i = 0; i < arguments.size() && problem.isEmpty(); ++i) {
        if (auto v = optionValue(arguments, i, QStringLiteral("--prefs-file"), problem))
            options.prefsFile = *v;
        else if (auto v = optionValue(arguments, i, QStringLiteral("--export"), problem))
            options.exportFile = *v;
        else if (auto v = optionValue(arguments, i, QStringLiteral("--import"), problem))
            options.importFile = *v;
        else if (otherOption.isEmpty() && arguments[i].startsWith(u'-') && arguments[i].size() > 1)
            otherOption = arguments[i];
    }
    if (problem.isEmpty() && !options.exportFile.isNull() && !options.importFile.isNull())
        problem = QStringLiteral("give either --export or --import, not both");
    if (problem.isEmpty()
        && ((!options.prefsFile.isNull() && options.prefsFile.isEmpty())
            || (!options.exportFile.isNull() && options.exportFile.isEmpty())
            || (!options.importFile.isNull() && options.importFile.isEmpty())))
        problem = QStringLiteral("empty file name");
    if (!problem.isEmpty()) {
        err << "omvara: " << problem << "\n";
        err.flush();
        return 1;
    }

    if (options.exportFile.isNull() && options.importFile.isNull()) {
        if (!options.prefsFile.isNull())
            ConfigStore::useFileStore(options.prefsFile);
        return std::nullopt;
    }
    if (!otherOption.isEmpty()) {
        err << "omvara: " << util::unknownOptionText(otherOption) << "\n";
        err.flush();
        return 2;
    }
    if (!options.prefsFile.isNull())
        ConfigStore::useFileStore(options.prefsFile);

    ConfigStore store(installationFolder);
    if (!options.exportFile.isNull()) {
        try {
            store.exportTo(options.exportFile);
        } catch (const prefs::PreferencesError &e) {
            err << "Export failed\n" << e.message() << "\n";
            err.flush();
            return 1;
        }
        out << "Settings exported to " << options.exportFile << "\n";
        out.flush();
        return 0;
    }
    try {
        store.importFrom(options.importFile);
    } catch (const prefs::PreferencesError &e) {
        err << "Import failed\n" << e.message() << "\n";
        err.flush();
        return 1;
    }
    out << "Settings imported from " << options.importFile << "\n";
    out.flush();
    return 0;
}

} // namespace omvara::modes
