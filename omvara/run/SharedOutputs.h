// SPDX-License-Identifier: GPL-3.0-or-later
// What the runs of several connections share: one keyboard, one record file,
// one broker, and the ports they hold.
#pragma once

#include "omvara/run/OutputKind.h"
#include "omvara/run/OutputReport.h"
#include "omvara/run/ValueSink.h"

#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace omvara::config {
class Config;
}
namespace omvara::outputs {
class Keybot;
class KeyboardTurns;
namespace keys {
class KeyInjector;
}
} // namespace omvara::outputs
namespace omvara::reception {
class WeightWorkerView;
}

namespace omvara::run {

// The outputs the runs of all connections share (Run::Options::shared):
//  - one keystroke backend, on which the keyboard output of each run types
//    in turns (outputs::KeyboardTurns), so that every value is typed whole
//    and the values of all connections in the order they arrived;
//  - one record file and one broker output, which every run's lines reach
//    with their origin (RunLine::origin); such an output is made for the
//    first run that asks and ends when the last run using it ends.
// Any thread.
class SharedOutputs
{
public:
    using InjectorMaker = std::function<std::shared_ptr<outputs::keys::KeyInjector>()>;
    // `makeInjector` makes the backend while no run has it; none: the one
    // keys::KeyInjectors chooses.
    explicit SharedOutputs(InjectorMaker makeInjector = {});
    ~SharedOutputs();

    // A keyboard output for `config` on the shared backend, in the shared turns.
    // Throws what making the backend throws.
    std::unique_ptr<outputs::Keybot> keybot(reception::WeightWorkerView *view, const config::Config &config);

    // The line output `kind` for one run: the one that other runs use, else
    // one made by `make` (with the report it is to use), which returns null
    // when it cannot be made. While the run's sink lives, `report` hears of
    // the output's state; its log entries go to the first of the runs.
    std::unique_ptr<ValueSink> attach(OutputKind kind,
        const std::function<std::unique_ptr<ValueSink>(OutputReport)> &make, OutputReport report);

    // The device behind `port`, to compare ports by: a path with its links
    // resolved (a /dev/serial/by-id name and the /dev/ttyUSB0 it points to
    // are one), a network address as written, in lower case.
    static QString device(const QString &port);
    // Claims `port` for the connection `name`; false with the name of the
    // connection that holds the same device.
    bool claimPort(const QString &port, const QString &name, QString *heldBy);
    // The ports `name` holds are free again.
    void releasePorts(const QString &name);
    // Whether a running connection holds `port`.
    bool portHeld(const QString &port) const;

    class Entry;

private:
    InjectorMaker m_makeInjector;
    std::mutex m_keyboardMutex;
    std::weak_ptr<outputs::keys::KeyInjector> m_injector;
    std::shared_ptr<outputs::KeyboardTurns> m_turns;

    std::mutex m_mutex;
    std::map<OutputKind, std::weak_ptr<Entry>> m_entries;
    mutable std::mutex m_portMutex;
    std::map<QString, QString> m_ports; // device → connection
};

} // namespace omvara::run
