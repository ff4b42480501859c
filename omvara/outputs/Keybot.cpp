// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/outputs/Keybot.h"

#include "omvara/config/Config.h"
#include "omvara/config/Instrument.h"
#include "omvara/outputs/keys/KeyCodes.h"
#include "omvara/outputs/keys/KeyInjectors.h"
#include "omvara/reception/WeightWorkerView.h"
#include "omvara/util/Bundle.h"

namespace omvara::outputs {

namespace {

QString workerText(const char *key)
{
    return util::Bundle::get(QStringLiteral("omvara.worker.WorkerBundle"))
        .getString(QString::fromLatin1(key));
}

// `pattern` with each "%s" replaced by the next of `args`.
QString formatted(const QString &pattern, const QStringList &args)
{
    QString result;
    qsizetype next = 0;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == u'%' && i + 1 < pattern.size() && pattern[i + 1] == u's') {
            result += args.value(next++);
            ++i;
        } else {
            result += pattern[i];
        }
    }
    return result;
}

// Printable: neither a control nor a format character, nor a line or
// paragraph separator, nor a code point no character is assigned to.
bool printable(char32_t c)
{
    switch (QChar::category(c)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Other_NotAssigned:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return false;
    default:
        return true;
    }
}

keys::KeyLayout layoutOf(const config::ConfigHelper::KeyboardType &type)
{
    return &type == &config::ConfigHelper::KeyboardType::AZERTY ? keys::KeyLayout::French
                                                                : keys::KeyLayout::Us;
}

// The key map of the stamps beside the value: they hold dates, times,
// numbers and words of the user's, whatever the instrument sends.
const config::ConfigHelper::KeyMapType &stampKeyMapType()
{
    return config::ConfigHelper::KeyMapType::ALL_PRINTABLE;
}

} // namespace

Keybot::Keybot(reception::WeightWorkerView *view, const KeyboardType &keyboardType,
    const KeyMapType &keyMapType, int startKey, int terminatorKey, int keyDelay,
    std::shared_ptr<keys::KeyInjector> injector)
    : m_view(view)
    , m_keyMap(keyboardType.getKeymap(keyMapType))
    , m_stampKeyMap(keyboardType.getKeymap(stampKeyMapType()))
    , m_everyCharacter(&keyMapType == &KeyMapType::ALL_PRINTABLE)
    , m_keyDelay(keyDelay)
    , m_terminatorKey(terminatorKey)
    , m_startKey(startKey)
    , m_keyboardTypeName(keyboardType.name())
    , m_injector(injector ? std::move(injector) : keys::KeyInjectors::create())
{
    m_injector->setLayout(layoutOf(keyboardType));
}

std::unique_ptr<Keybot> Keybot::fromConfig(reception::WeightWorkerView *view, const config::Config &config,
    std::shared_ptr<keys::KeyInjector> injector)
{
    const config::ConfigHelper::Instrument *instrument = config.getInstrument();
    const config::ConfigHelper::Instrument &used
        = instrument ? *instrument : config::ConfigHelper::Instrument::getDefault();
    const bool everyCharacter = config.getTypeEveryCharacter()
        && &used.getInstrumentType() == &config::ConfigHelper::InstrumentType::TEXT;
    const KeyMapType &keyMapType = everyCharacter ? KeyMapType::ALL_PRINTABLE : used.getKeyMapType();
    auto keybot = std::make_unique<Keybot>(view, config.getKeyboardType(), keyMapType,
        config.getStartWith().getKeyCode(), config.getOutputTerminator().getKeyCode(), config.getDelayAsInt(),
        std::move(injector));
    keybot->setControlTyping(
        { &config.getControlCharacters(), config.getControlKey().getKeyCode(), config.getControlText() });
    return keybot;
}

Keybot::~Keybot()
{
    abort();
    m_thread.join();
}

QStringList Keybot::textKeys()
{
    return { QStringLiteral("cannot_type"), QStringLiteral("values.not.typed"),
        QStringLiteral("keyboard.lost"), QStringLiteral("value.cut"), QStringLiteral("cut.focus.own"),
        QStringLiteral("cut.focus.other"), QStringLiteral("cut.stopped"), QStringLiteral("cut.lost"),
        QStringLiteral("own.window"), QStringLiteral("window.unknown") };
}

void Keybot::enqueue(const QString &text, qint64 id)
{
    if (text.isEmpty())
        return;
    {
        std::lock_guard lock(m_closing);
        if (!m_closed) {
            ++m_waiting;
            // Taken here, on the thread that hands the value on: the turns
            // follow the order in which values arrived, whatever output took them.
            m_queue.put({ text, id, m_turns ? m_turns->take() : 0 });
            return;
        }
    }
    // A line handled after Stop belongs to the stopped run.
    dropped({ id });
}

void Keybot::dropped(const QList<qint64> &ids, bool holding)
{
    if (ids.isEmpty())
        return;
    // Values dropped while typing holds after a cut are marked one by one (their lines).
    if (!holding)
        report(workerText("values.not.typed").replace(QLatin1String("%s"), QString::number(ids.size())));
    if (m_onOutcome) {
        Outcome outcome;
        outcome.holding = holding;
        for (const qint64 id : ids)
            m_onOutcome(id, outcome);
    }
}

QList<qint64> Keybot::takeWaiting(bool *endMark)
{
    // At once: the keyboard thread must not take one from between them.
    QList<qint64> ids;
    for (const Waiting &next : m_queue.takeAll()) {
        if (next.text.isEmpty()) {
            if (endMark)
                *endMark = true;
        } else {
            ids.append(next.id);
            if (next.ticket)
                m_turns->done(next.ticket);
        }
    }
    m_waiting -= int(ids.size());
    return ids;
}

void Keybot::start()
{
    m_thread.start([this] { run(); });
}

void Keybot::stop()
{
    if (m_stopped.exchange(true))
        return;
    // Only values that were still waiting are dropped: the keyboard thread
    // takes none after the end mark, which comes after them.
    QList<qint64> ids;
    {
        std::lock_guard lock(m_closing);
        m_closed = true;
        ids = takeWaiting(nullptr);
        m_queue.put({});
    }
    // A value waiting for its turn gives up.
    if (m_turns)
        m_turns->wake();
    dropped(ids);
}

void Keybot::abort()
{
    stop();
    m_thread.interrupt();
}

void Keybot::finish()
{
    std::lock_guard lock(m_closing);
    if (m_closed)
        return;
    m_closed = true;
    m_queue.put({});
}

void Keybot::run()
{
    while (!util::Interruption::interrupted()) {
        Waiting value;
        try {
            value = m_queue.take();
        } catch (const util::InterruptedError &) {
            break; // the interruption stays set
        }
        if (value.text.isEmpty())
            break; // finish() or stop(): everything before it has been handled
        --m_waiting;
        const auto turnDone = [this, &value] {
            if (value.ticket)
                m_turns->done(value.ticket);
        };
        if (m_lost) {
            // Nowhere to type: this value and the ones waiting are dropped.
            turnDone();
            bool end = false;
            dropped(QList<qint64> { value.id } + takeWaiting(&end));
            if (end)
                break;
            continue;
        }
        if (m_holding) {
            turnDone();
            dropped({ value.id }, true);
            continue;
        }
        // Another connection's values that arrived first are typed first.
        if (value.ticket && !m_turns->waitFor(value.ticket, [this] { return m_stopped.load(); })) {
            turnDone();
            dropped({ value.id });
            continue;
        }
        const Outcome outcome = typeValue(value.text, value.id);
        turnDone();
        if (m_onOutcome)
            m_onOutcome(value.id, outcome);
    }
    if (m_onEnd)
        m_onEnd();
}

Keybot::Outcome Keybot::typeValue(const QString &text, qint64 id)
{
    m_skipped = 0;
    m_keysOut = 0;
    m_typedPart.clear();
    m_typed.clear();
    m_focusMoved.reset();
    m_interrupted = false;
    const Stamps stamps = m_stamper ? m_stamper(id) : Stamps {};
    m_injector->beginValue();
    typeStart();
    bool whole = !m_lost && !m_focusMoved && typeText(stamps.before, m_stampKeyMap, true, false)
        && typeString(text) && typeText(stamps.after, m_stampKeyMap, true, false);
    if (whole)
        typeEnd();
    whole = whole && !m_lost && !m_focusMoved;
    const QString window = m_injector->valueWindow();
    m_injector->endValue();

    Outcome outcome;
    outcome.length = text.toUcs4().size();
    outcome.typed = m_typed;
    if (whole) {
        // A character the key map cannot type was left out (and reported):
        // the value did not arrive as it is.
        outcome.kind = m_skipped == 0 ? Outcome::Kind::Typed : Outcome::Kind::Incomplete;
        if (m_skipped != 0)
            outcome.typedPart = m_typedPart;
        return outcome;
    }
    if (m_focusMoved) {
        outcome.ownWindow = m_focusMoved->ownWindow();
        outcome.reason = outcome.ownWindow
            ? workerText("cut.focus.own")
            : workerText("cut.focus.other").replace(QLatin1String("%s"), m_focusMoved->window());
    } else if (m_lost) {
        outcome.reason = workerText("cut.lost");
    } else {
        outcome.reason = workerText("cut.stopped");
    }
    if (m_keysOut == 0)
        return outcome; // nothing of it went out: not typed
    outcome.kind = Outcome::Kind::Cut;
    outcome.value = text;
    outcome.typedPart = m_typedPart;
    outcome.window = window.isEmpty() ? workerText("window.unknown") : window;
    report(formatted(workerText("value.cut"),
        { QString::number(m_typedPart.toUcs4().size()), QString::number(outcome.length), text, m_typedPart,
            outcome.window, outcome.reason }));
    // The next value would run on from this one in the same field: typing
    // waits for the user, unless the run ends anyway.
    if (!m_lost && !m_stopped)
        m_holding = true;
    return outcome;
}

void Keybot::backendLost(const keys::KeyboardLostError &error)
{
    if (m_lost.exchange(true))
        return;
    report(workerText("keyboard.lost").replace(QLatin1String("%s"), error.text()));
    if (m_onLost)
        m_onLost(error.text());
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

bool Keybot::press(int keyCode)
{
    if (m_focusMoved)
        return false;
    // The toolkit knows the program's own windows on every backend.
    if (m_ownWindowFocused && m_ownWindowFocused()) {
        m_focusMoved.emplace(workerText("own.window"), true);
        return false;
    }
    try {
        m_injector->keyPress(keyCode);
        ++m_keysOut;
    } catch (const keys::KeyboardLostError &e) {
        backendLost(e);
        return false;
    } catch (const keys::FocusMovedError &e) {
        m_focusMoved.emplace(e);
        return false;
    } catch (const keys::KeyInjectionError &e) {
        report(
            QStringLiteral("Keycode (%1) %2 error: %3").arg(m_keyboardTypeName).arg(keyCode).arg(e.text()));
    }
    return true;
}

void Keybot::release(int keyCode)
{
    try {
        m_injector->keyRelease(keyCode);
    } catch (const keys::KeyInjectionError &) {
        // A release the platform refuses changes nothing on screen.
    }
}

// Press, pause, release: the start and terminator keys have no pause after
// their release.
void Keybot::tapKey(int keyCode)
{
    if (m_lost || !press(keyCode))
        return;
    m_injector->pause(m_keyDelay);
    release(keyCode);
}

bool Keybot::typeString(const QString &text)
{
    return typeText(text, m_keyMap, m_everyCharacter, true);
}

bool Keybot::typeText(
    const QString &text, const KeyboardType::KeyMap &keyMap, bool everyCharacter, bool value)
{
    const QList<uint> characters = text.toUcs4();
    for (qsizetype i = 0; i < characters.size(); ++i) {
        const char32_t character = characters[i];
        if (m_lost || m_focusMoved)
            return false; // the rest of the value cannot arrive where it began
        if (util::Interruption::interrupted()) {
            // Cut off between two characters, never inside one (its keys are
            // all released); no terminator follows.
            m_interrupted = true;
            return false;
        }
        if (config::ControlCharacters::isControl(character)) {
            if (!typeControl(character))
                return false;
            continue;
        }
        QList<qint32> codes;
        if (!keysFor(character, keyMap, everyCharacter, &codes)) {
            notTypeable(character);
            continue;
        }
        if (!typeKeys(codes))
            return false;
        if (value)
            m_typedPart += QString::fromUcs4(&character, 1);
        m_typed += QString::fromUcs4(&character, 1);
    }
    return true;
}

bool Keybot::keysFor(
    char32_t character, const KeyboardType::KeyMap &keyMap, bool everyCharacter, QList<qint32> *codes)
{
    const auto found = keyMap.constFind(character);
    if (found != keyMap.constEnd()) {
        if (!canType(character))
            return false;
        *codes = found.value();
        return true;
    }
    if (!everyCharacter || !printable(character) || !canTypeCharacter(character))
        return false;
    *codes = { keys::vk::character(character) };
    return true;
}

bool Keybot::typeKeys(const QList<qint32> &codes)
{
    qsizetype pressed = 0;
    bool refused = false;
    for (const qint32 code : codes) {
        if (!press(code)) {
            refused = true;
            break;
        }
        ++pressed;
        m_injector->pause(m_keyDelay);
    }
    // Keys already down (Shift) come up again also when the character's
    // own key was refused.
    while (pressed-- > 0) {
        release(codes[pressed]);
        if (!refused)
            m_injector->pause(m_keyDelay);
    }
    return !refused;
}

bool Keybot::typeControl(char32_t character)
{
    using CC = config::ControlCharacters;
    const CC &action = *m_controls.action;
    if (&action == &CC::REMOVE)
        return true;
    if (&action == &CC::TEXT) {
        // Part of the value, typed as every printable character is; the text
        // holds no control character (ControlText::valid), so this ends here.
        return typeText(config::ControlText::expand(m_controls.text, character), m_keyMap, true, true);
    }
    QList<qint32> codes;
    if (&action == &CC::KEY && m_controls.keyCode > 0) {
        codes = { m_controls.keyCode };
    } else if (&action == &CC::CHARACTER && canTypeCharacter(character)) {
        codes = { keys::vk::character(character) };
    } else {
        notTypeable(character);
        return true;
    }
    if (!typeKeys(codes))
        return false;
    m_typedPart += QString::fromUcs4(&character, 1);
    m_typed += QString::fromUcs4(&character, 1);
    return true;
}

void Keybot::notTypeable(char32_t character)
{
    if (m_view) {
        const QString shown = character >= 0x20 && character <= 0x7E
            ? QString(QChar(static_cast<char16_t>(character)))
            : QStringLiteral("<%1>").arg(static_cast<quint32>(character));
        report(workerText("cannot_type") + shown);
    }
    ++m_skipped;
}

bool Keybot::canTypeCharacter(char32_t character)
{
    try {
        return m_injector->canTypeCharacter(character);
    } catch (const keys::KeyboardLostError &e) {
        backendLost(e);
        return true; // typeString stops at the loss
    }
}

bool Keybot::canType(char32_t character)
{
    try {
        return m_injector->canType(character);
    } catch (const keys::KeyboardLostError &e) {
        backendLost(e);
        return true; // typeString stops at the loss
    }
}

void Keybot::report(const QString &message)
{
    if (m_view)
        m_view->logImportantEvent(message);
}

} // namespace omvara::outputs
