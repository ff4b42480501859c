// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/outputs/SoundBot.h"

#include "omvara/util/ProcessProperties.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <fluidsynth.h>

#include <mutex>

namespace omvara::outputs {

namespace {

// FluidSynth reports problems through a process-wide log function. Errors
// are kept (the last one becomes part of our message) instead of being
// printed; warnings and chatter are dropped.
std::mutex logMutex;
QString lastFluidError;

void keepFluidError(int, const char *message, void *)
{
    std::lock_guard lock(logMutex);
    lastFluidError = QString::fromLocal8Bit(message);
}

void captureFluidLog()
{
    static std::once_flag once;
    std::call_once(once, [] {
        fluid_set_log_function(FLUID_PANIC, keepFluidError, nullptr);
        fluid_set_log_function(FLUID_ERR, keepFluidError, nullptr);
        fluid_set_log_function(FLUID_WARN, nullptr, nullptr);
        fluid_set_log_function(FLUID_INFO, nullptr, nullptr);
        fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
    });
    std::lock_guard lock(logMutex);
    lastFluidError.clear();
}

QString fluidError()
{
    std::lock_guard lock(logMutex);
    return lastFluidError.isEmpty() ? QString() : QStringLiteral(": ") + lastFluidError;
}

// Milliseconds per tick at the sequence's resolution and tempo.
constexpr unsigned tickMillis = 60000 / (SoundBot::beatsPerMinute * SoundBot::resolution);

QString findSoundFont(const QString &chosen)
{
    if (!chosen.isEmpty()) {
        if (!QFileInfo(chosen).isFile())
            throw SoundError(QStringLiteral("sound font \"%1\" not found").arg(chosen));
        return chosen;
    }
    const QStringList candidates = SoundBot::soundFontCandidates();
    for (const QString &path : candidates) {
        if (QFileInfo(path).isFile())
            return path;
    }
    throw SoundError(QStringLiteral("no General MIDI sound font found (looked for %1); install the package"
                                    " fluid-soundfont-gm or set OMVARA_SOUNDFONT to a .sf2 file")
                         .arg(candidates.join(QStringLiteral(", "))));
}

} // namespace

struct SoundBot::Synth
{
    std::mutex mutex;
    fluid_settings_t *settings = nullptr;
    fluid_synth_t *synth = nullptr;
    fluid_audio_driver_t *driver = nullptr;
    fluid_sequencer_t *sequencer = nullptr;
    fluid_seq_id_t synthClient = -1;
    QString soundFont;

    ~Synth() { release(); }

    void release()
    {
        // The audio thread goes first: it drives the sequencer and the synthesizer.
        if (driver)
            delete_fluid_audio_driver(driver);
        driver = nullptr;
        if (sequencer)
            delete_fluid_sequencer(sequencer);
        sequencer = nullptr;
        if (synth)
            delete_fluid_synth(synth);
        synth = nullptr;
        if (settings)
            delete_fluid_settings(settings);
        settings = nullptr;
    }
};

QStringList SoundBot::soundFontCandidates()
{
    QStringList folders;
    folders << QDir::homePath() + QStringLiteral("/.local/share/soundfonts")
            << QDir::homePath() + QStringLiteral("/.local/share/sounds/sf2");
    for (const QString &data :
        qEnvironmentVariable("XDG_DATA_DIRS", QStringLiteral("/usr/local/share:/usr/share"))
            .split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        folders << data + QStringLiteral("/soundfonts") << data + QStringLiteral("/sounds/sf2");
    }
    folders << QStringLiteral("/usr/share/soundfonts") << QStringLiteral("/usr/share/sounds/sf2");
    folders.removeDuplicates();

    QStringList files;
    const QStringList names = { QStringLiteral("default-GM.sf2"), QStringLiteral("default.sf2"),
        QStringLiteral("FluidR3_GM.sf2"), QStringLiteral("TimGM6mb.sf2") };
    for (const QString &name : names) {
        for (const QString &folder : folders)
            files << folder + QLatin1Char('/') + name;
    }
    return files;
}

SoundBot::SoundBot(int noteNumber, const SoundOptions &options)
{
    if (noteNumber < 0 || noteNumber > 127)
        throw SoundError(QStringLiteral("note number %1 is outside 0 to 127").arg(noteNumber));
    m_track = {
        { 0, 0x90 | percussionChannel, noteNumber, 127 },
        { 1, 0x80 | percussionChannel, noteNumber, 127 },
    };

    captureFluidLog();
    auto synth = std::make_unique<Synth>();
    synth->soundFont = findSoundFont(options.soundFont.isEmpty()
            ? util::ProcessProperties::get(QStringLiteral("OMVARA_SOUNDFONT"))
            : options.soundFont);

    synth->settings = new_fluid_settings();
    if (!synth->settings)
        throw SoundError(QStringLiteral("cannot create the synthesizer settings"));
    // No MIDI input, no shell, no reverb tail that would outlast the stroke.
    fluid_settings_setint(synth->settings, "synth.reverb.active", 0);
    fluid_settings_setint(synth->settings, "synth.chorus.active", 0);
    synth->synth = new_fluid_synth(synth->settings);
    if (!synth->synth)
        throw SoundError(QStringLiteral("cannot create the synthesizer") + fluidError());
    if (fluid_synth_sfload(synth->synth, synth->soundFont.toLocal8Bit().constData(), 1) == FLUID_FAILED)
        throw SoundError(
            QStringLiteral("cannot load the sound font \"%1\"%2").arg(synth->soundFont, fluidError()));

    synth->sequencer = new_fluid_sequencer2(0);
    if (!synth->sequencer)
        throw SoundError(QStringLiteral("cannot create the sequencer") + fluidError());
    fluid_sequencer_set_time_scale(synth->sequencer, 1000.0);
    synth->synthClient = fluid_sequencer_register_fluidsynth(synth->sequencer, synth->synth);
    if (synth->synthClient == FLUID_FAILED)
        throw SoundError(QStringLiteral("cannot connect the sequencer to the synthesizer") + fluidError());

    QString driver = options.audioDriver.isEmpty()
        ? util::ProcessProperties::get(QStringLiteral("OMVARA_AUDIO_DRIVER"))
        : options.audioDriver;
    QStringList drivers;
    if (!driver.isEmpty()) {
        drivers << driver;
    } else {
        char *standard = nullptr;
        fluid_settings_dupstr(synth->settings, "audio.driver", &standard);
        drivers << QString::fromLocal8Bit(standard ? standard : "alsa");
        fluid_free(standard);
        if (!drivers.contains(QStringLiteral("pulseaudio")))
            drivers << QStringLiteral("pulseaudio");
    }
    if (!options.fileName.isEmpty()) {
        fluid_settings_setstr(synth->settings, "audio.file.name", options.fileName.toLocal8Bit().constData());
        fluid_settings_setstr(synth->settings, "audio.file.type", "raw");
        fluid_settings_setstr(synth->settings, "audio.file.format", "s16");
        fluid_settings_setstr(synth->settings, "audio.file.endian", "little");
    }
    QStringList failures;
    for (const QString &name : drivers) {
        if (fluid_settings_setstr(synth->settings, "audio.driver", name.toLocal8Bit().constData())
            == FLUID_FAILED) {
            failures << QStringLiteral("%1: unknown audio driver").arg(name);
            continue;
        }
        captureFluidLog();
        synth->driver = new_fluid_audio_driver(synth->settings, synth->synth);
        if (synth->driver)
            break;
        failures << name + fluidError();
    }
    if (!synth->driver)
        throw SoundError(
            QStringLiteral("no audio output could be opened (%1)").arg(failures.join(QStringLiteral("; "))));
    m_synth = std::move(synth);
}

SoundBot::~SoundBot()
{
    close();
}

QString SoundBot::soundFont() const
{
    return m_synth ? m_synth->soundFont : QString();
}

void SoundBot::beep()
{
    if (!m_synth)
        return;
    std::lock_guard lock(m_synth->mutex);
    if (!m_synth->sequencer)
        return;
    const unsigned now = fluid_sequencer_get_tick(m_synth->sequencer);
    for (const MidiEvent &message : m_track) {
        fluid_event_t *event = new_fluid_event();
        fluid_event_set_source(event, -1);
        fluid_event_set_dest(event, m_synth->synthClient);
        const int channel = message.status & 0x0F;
        // The synthesizer has no use for a release velocity; the note-off
        // carries it in the sequence only.
        if ((message.status & 0xF0) == 0x90)
            fluid_event_noteon(
                event, channel, static_cast<short>(message.data1), static_cast<short>(message.data2));
        else
            fluid_event_noteoff(event, channel, static_cast<short>(message.data1));
        fluid_sequencer_send_at(
            m_synth->sequencer, event, now + static_cast<unsigned>(message.tick) * tickMillis, 1);
        delete_fluid_event(event);
    }
}

void SoundBot::close()
{
    if (!m_synth)
        return;
    std::lock_guard lock(m_synth->mutex);
    m_synth->release();
}

} // namespace omvara::outputs
