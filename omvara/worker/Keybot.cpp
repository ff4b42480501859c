// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/worker/Keybot.h"

#include "omvara/config/Config.h"
#include "omvara/config/Instrument.h"
#include "omvara/util/Bundle.h"
#include "omvara/worker/WeightWorkerView.h"
#include "omvara/worker/keys/KeyInjectors.h"

namespace omvara::worker {

namespace {

QString workerText(const char *key)
{
    return util::Bundle::get(QStringLiteral("omvara.worker.WorkerBundle")).getString(QString::fromLatin1(key));
}

keys::KeyLayout layoutOf(const config::ConfigHelper::KeyboardType &type)
{
    return &type == &config::ConfigHelper::KeyboardType::AZERTY ? keys::KeyLayout::French : keys::KeyLayout::Us;
}

} // namespace

Keybot::Keybot(WeightWorkerView *view, const KeyboardType &keyboardType, const KeyMapType &keyMapType, int startKey,
    int terminatorKey, int keyDelay, std::unique_ptr<keys::KeyInjector> injector)
    : m_view(view)
    , m_keyMap(keyboardType.getKeymap(keyMapType))
    , m_keyDelay(keyDelay)
    , m_terminatorKey(terminatorKey)
    , m_startKey(startKey)
    , m_keyboardTypeName(keyboardType.name())
    , m_injector(injector ? std::move(injector) : keys::KeyInjectors::create())
{
    m_injector->setLayout(layoutOf(keyboardType));
}

std::unique_ptr<Keybot> Keybot::fromConfig(
    WeightWorkerView *view, const config::Config &config, std::unique_ptr<keys::KeyInjector> injector)
{
    const config::ConfigHelper::Instrument *instrument = config.getInstrument();
    const KeyMapType &keyMapType
        = instrument ? instrument->getKeyMapType() : config::ConfigHelper::Instrument::getDefault().getKeyMapType();
    return std::make_unique<Keybot>(view, config.getKeyboardType(), keyMapType, config.getStartWith().getKeyCode(),
        config.getOutputTerminator().getKeyCode(), config.getDelayAsInt(), std::move(injector));
}

Keybot::~Keybot()
{
    stop();
    m_thread.join();
}

util::BlockingQueue<QString> &Keybot::queue()
{
    static util::BlockingQueue<QString> values;
    return values;
}

QStringList Keybot::textKeys()
{
    return {QStringLiteral("cannot_type"), QStringLiteral("values.not.typed"), QStringLiteral("keyboard.lost")};
}

void Keybot::enqueue(const QString &text)
{
    if (text.isEmpty())
        return;
    if (m_stopped) {
        // A line handled after Stop belongs to the stopped run.
        reportDropped(1);
        return;
    }
    queue().put(text);
}

void Keybot::reportDropped(int count)
{
    report(workerText("values.not.typed").replace(QLatin1String("%s"), QString::number(count)));
}

void Keybot::start()
{
    m_thread.start([this] { run(); });
}

void Keybot::stop()
{
    if (m_stopped)
        return;
    m_stopped = true;
    m_thread.interrupt();
    // Only values that were still waiting are counted: the keyboard thread,
    // once interrupted, takes no further value.
    int dropped = 0;
    while (queue().poll())
        ++dropped;
    if (dropped > 0)
        reportDropped(dropped);
}

void Keybot::run()
{
    while (!util::Interruption::interrupted()) {
        QString text;
        try {
            text = queue().take();
        } catch (const util::InterruptedError &) {
            break; // the interruption stays set
        }
        if (m_lost) {
            // Nowhere to type: this value and the ones waiting are dropped.
            int dropped = 1;
            while (queue().poll())
                ++dropped;
            reportDropped(dropped);
            continue;
        }
        typeStart();
        typeString(text);
        typeEnd();
    }
}

void Keybot::backendLost(const keys::KeyboardLostError &error)
{
    if (m_lost.exchange(true))
        return;
    report(workerText("keyboard.lost").replace(QLatin1String("%s"), error.text()));
}

void Keybot::typeStart()
{
    if (m_startKey > 0)
        tapKey(m_startKey);
}

void Keybot::typeEnd()
{
    if (m_terminatorKey > 0)
        tapKey(m_terminatorKey);
}

// Press, pause, release: the start and terminator keys have no pause after
// their release.
void Keybot::tapKey(int keyCode)
{
    if (m_lost)
        return;
    try {
        m_injector->keyPress(keyCode);
    } catch (const keys::KeyboardLostError &e) {
        backendLost(e);
        return;
    } catch (const keys::KeyInjectionError &e) {
        report(QStringLiteral("Keycode (%1) %2 error: %3").arg(m_keyboardTypeName).arg(keyCode).arg(e.text()));
    }
    m_injector->pause(m_keyDelay);
    try {
        m_injector->keyRelease(keyCode);
    } catch (const keys::KeyInjectionError &) {
    }
}

void Keybot::typeString(const QString &text)
{
    for (const char32_t character : text.toUcs4()) {
        if (m_lost)
            return; // the rest of the value cannot arrive anywhere
        const auto found = m_keyMap.constFind(character);
        if (found == m_keyMap.constEnd()) {
            if (m_view) {
                const QString shown = character >= 0x20 && character <= 0x7E
                    ? QString(QChar(static_cast<char16_t>(character)))
                    : QStringLiteral("<%1>").arg(static_cast<quint32>(character));
                report(workerText("cannot_type") + shown);
            }
            continue;
        }
        const QList<qint32> &codes = found.value();
        for (const qint32 code : codes) {
            try {
                m_injector->keyPress(code);
            } catch (const keys::KeyboardLostError &e) {
                backendLost(e);
                return;
            } catch (const keys::KeyInjectionError &e) {
                report(QStringLiteral("Keycode (%1) %2 error: %3").arg(m_keyboardTypeName).arg(code).arg(e.text()));
            }
            m_injector->pause(m_keyDelay);
        }
        for (auto code = codes.crbegin(); code != codes.crend(); ++code) {
            try {
                m_injector->keyRelease(*code);
            } catch (const keys::KeyInjectionError &) {
                // A release the platform refuses changes nothing on screen.
            }
            m_injector->pause(m_keyDelay);
        }
    }
}

void Keybot::report(const QString &message)
{
    if (m_view)
        m_view->logImportantEvent(message);
}

} // namespace omvara::worker
