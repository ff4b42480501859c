// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/run/SharedOutputs.h"

#include "omvara/outputs/KeyboardTurns.h"
#include "omvara/outputs/Keybot.h"
#include "omvara/outputs/keys/KeyInjectors.h"
#include "portlink/NetworkPortName.h"

#include <QFileInfo>

#include <vector>

namespace omvara::run {

// One shared line output and the runs attached to it.
class SharedOutputs::Entry
{
public:
    // Reports of the runs attached, in the order they came.
    std::mutex reportMutex;
    std::vector<std::pair<int, OutputReport>> reports;
    int nextId = 0;

    // The output's calls, one at a time.
    std::mutex sinkMutex;
    int started = 0;
    int active = 0; // attached and not ended
    std::unique_ptr<ValueSink> sink; // last member: it goes first

    OutputReport fanOut()
    {
        OutputReport report;
        report.event = [this](const QString &message) {
            std::lock_guard lock(reportMutex);
            if (!reports.empty())
                reports.front().second.event(message);
        };
        report.importantEvent = [this](const QString &message) {
            std::lock_guard lock(reportMutex);
            if (!reports.empty())
                reports.front().second.importantEvent(message);
        };
        report.state = [this](RunState::Output::Status status, const QString &detail) {
            std::lock_guard lock(reportMutex);
            for (const auto &r : reports)
                r.second.state(status, detail);
        };
        return report;
    }
};

namespace {

// One run's share of a line output.
class AttachedSink : public ValueSink
{
public:
    AttachedSink(std::shared_ptr<SharedOutputs::Entry> entry, OutputReport report)
        : m_entry(std::move(entry))
    {
        {
            std::lock_guard lock(m_entry->reportMutex);
            m_id = m_entry->nextId++;
            m_entry->reports.emplace_back(m_id, std::move(report));
        }
        std::lock_guard lock(m_entry->sinkMutex);
        ++m_entry->active;
    }
    ~AttachedSink() override
    {
        end(&ValueSink::abort);
        std::lock_guard lock(m_entry->reportMutex);
        std::erase_if(m_entry->reports, [this](const auto &r) { return r.first == m_id; });
    }

    OutputKind kind() const override { return m_entry->sink->kind(); }
    QString detail() const override { return m_entry->sink->detail(); }
    void start() override
    {
        std::lock_guard lock(m_entry->sinkMutex);
        if (m_entry->started++ == 0)
            m_entry->sink->start();
    }
    void put(const RunLine &line) override
    {
        std::lock_guard lock(m_entry->sinkMutex);
        m_entry->sink->put(line);
    }
    void flush() override
    {
        std::lock_guard lock(m_entry->sinkMutex);
        m_entry->sink->flush();
    }
    void lineSettled(const RunLine &line) override
    {
        std::lock_guard lock(m_entry->sinkMutex);
        m_entry->sink->lineSettled(line);
    }
    // The output ends with the last run that uses it.
    void stop() override { end(&ValueSink::stop); }
    void finish() override { end(&ValueSink::finish); }
    void abort() override { end(&ValueSink::abort); }
    void join() override
    {
        if (m_last)
            m_entry->sink->join();
    }

private:
    void end(void (ValueSink::*how)())
    {
        std::lock_guard lock(m_entry->sinkMutex);
        if (m_ended)
            return;
        m_ended = true;
        if (--m_entry->active == 0) {
            m_last = true;
            (m_entry->sink.get()->*how)();
        }
    }

    std::shared_ptr<SharedOutputs::Entry> m_entry;
    int m_id = 0;
    bool m_ended = false;
    bool m_last = false;
};

} // namespace

SharedOutputs::SharedOutputs(InjectorMaker makeInjector)
    : m_makeInjector(std::move(makeInjector))
    , m_turns(std::make_shared<outputs::KeyboardTurns>())
{
    if (!m_makeInjector)
        m_makeInjector = [] {
            return std::shared_ptr<outputs::keys::KeyInjector>(outputs::keys::KeyInjectors::create());
        };
}

SharedOutputs::~SharedOutputs() = default;

std::unique_ptr<outputs::Keybot> SharedOutputs::keybot(
    reception::WeightWorkerView *view, const config::Config &config)
{
    std::shared_ptr<outputs::keys::KeyInjector> injector;
    {
        // One backend: the desktop asks for permission to type once.
        std::lock_guard lock(m_keyboardMutex);
        injector = m_injector.lock();
        if (!injector) {
            injector = m_makeInjector();
            m_injector = injector;
        }
    }
    std::unique_ptr<outputs::Keybot> keybot = outputs::Keybot::fromConfig(view, config, std::move(injector));
    keybot->setTurns(m_turns);
    return keybot;
}

std::unique_ptr<ValueSink> SharedOutputs::attach(
    OutputKind kind, const std::function<std::unique_ptr<ValueSink>(OutputReport)> &make, OutputReport report)
{
    std::lock_guard lock(m_mutex);
    std::shared_ptr<Entry> entry = m_entries[kind].lock();
    if (entry) {
        std::lock_guard sinkLock(entry->sinkMutex);
        // One that is ending drains on its own; the next run gets a new one.
        if (entry->active == 0)
            entry.reset();
    }
    if (!entry) {
        entry = std::make_shared<Entry>();
        entry->sink = make(entry->fanOut());
        if (!entry->sink)
            return nullptr;
        m_entries[kind] = entry;
    }
    return std::make_unique<AttachedSink>(std::move(entry), std::move(report));
}

QString SharedOutputs::device(const QString &port)
{
    if (portlink::NetworkPortName::isNetworkName(port))
        return port.toLower();
    const QString resolved = QFileInfo(port).canonicalFilePath();
    return resolved.isEmpty() ? port : resolved;
}

bool SharedOutputs::claimPort(const QString &port, const QString &name, QString *heldBy)
{
    const QString dev = device(port);
    std::lock_guard lock(m_portMutex);
    const auto it = m_ports.find(dev);
    if (it != m_ports.end() && it->second != name) {
        *heldBy = it->second;
        return false;
    }
    m_ports[dev] = name;
    return true;
}

void SharedOutputs::releasePorts(const QString &name)
{
    std::lock_guard lock(m_portMutex);
    std::erase_if(m_ports, [&name](const auto &p) { return p.second == name; });
}

bool SharedOutputs::portHeld(const QString &port) const
{
    std::lock_guard lock(m_portMutex);
    return m_ports.count(device(port)) != 0;
}

} // namespace omvara::run
