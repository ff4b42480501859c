// SPDX-License-Identifier: GPL-3.0-or-later
// The table of settings: one row per stored setting of a Config.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

namespace omvara::config {

class Config;

// One setting as the store, export documents and "--set KEY=VALUE" know it:
// its key, its kind and rule, its default, and how it is read from and
// written to a Config. Loading, saving, export, import, the command-line
// replacements and the comparison and copy of Config all go through the rows
// of settingsTable(); adding a setting means one row there and one member of
// Config (with its accessors).
struct Setting
{
    enum class Kind {
        Switch, // "true" or "false", in any case
        Integer, // a base-10 integer within a range
        ValueSet, // one of a set of constants, stored by name or by ordinal
        Text, // free text with its own check
    };
    // Where a setting applies: to the whole program, or to one connection
    // (a port with its own settings). Recorded only: nothing reads it yet.
    enum class Scope { Program, Connection };

    // What reading a stored text gave.
    enum class Reading {
        Taken, // the text is a value of the setting and now holds
        Ignored, // not of the setting's form (a switch neither "true" nor "false"): read as
                 // absent, without a report
        Refused, // of its form but invalid: the default holds, and loading reports it
    };
    // What reading depends on besides the text.
    struct Context
    {
        // The current port list; null when the text is given on purpose
        // (a replacement on the command line), which takes any port.
        const QStringList *portNames = nullptr;
    };
    // What a refused text was replaced by.
    struct Refusal
    {
        QString replacement; // as stored
        QString reason; // why, when known
    };

    const char *key;
    Kind kind;
    Scope scope;
    bool exported; // carried by export documents and taken by import
    bool settable; // may be replaced with "--set KEY=VALUE"

    // The text read when the store holds none (loading has read the rows
    // before this one into `config`).
    QString (*defaultText)(const Config &config, const Context &context);
    // Reads `text` into `config`: Taken sets the value, Ignored leaves the
    // default (or, for the port, what `config` held), Refused sets the
    // default and fills `refusal`.
    Reading (*read)(Config &config, const QString &text, const Context &context, Refusal *refusal);
    // The text to store; nothing when the setting is not written.
    std::optional<QString> (*write)(const Config &config);
    // Whether the setting is the same in both (Config::hasChanged); null
    // for a setting that is neither compared nor copied (the previous port).
    bool (*same)(const Config &a, const Config &b);
    // Copies the setting (Config::copyConfig); null with `same`.
    void (*copy)(const Config &from, Config &to);
    // For a taken text whose meaning may surprise: what it means; "" when
    // it is plain. Null: never.
    QString (*note)(const QString &text);

    QString name() const { return QString::fromLatin1(key); }
    // Whether `text` would be taken as the value of this setting on purpose,
    // as loading takes it; with the reason for a refusal when it is known.
    Reading check(const QString &text, Refusal *refusal) const;
};

// Every setting, in the order loading reads them and the command line lists them.
const QList<Setting> &settingsTable();
// The row of `key`; nullptr for a key that names no setting.
const Setting *findSetting(QStringView key);

} // namespace omvara::config
