// SPDX-License-Identifier: GPL-3.0-or-later
// The confirmation sound of a typed value.
#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <stdexcept>
#include <vector>

namespace omvara::outputs {

// Sound output cannot be created (no sound font, no audio device, ...).
class SoundError : public std::runtime_error
{
public:
    explicit SoundError(const QString &message)
        : std::runtime_error(message.toStdString())
    {
    }
    QString text() const { return QString::fromStdString(what()); }
};

// Where the synthesizer gets its instruments and sends its audio. Empty
// fields mean: the process property (or environment variable) of the same
// purpose, then the defaults.
struct SoundOptions
{
    // A General MIDI sound font (.sf2). Property OMVARA_SOUNDFONT; default:
    // the first of soundFontCandidates() that exists.
    QString soundFont;
    // A FluidSynth audio driver name ("alsa", "pulseaudio", "jack", "file",
    // ...). Property OMVARA_AUDIO_DRIVER; default: FluidSynth's default, then
    // "pulseaudio".
    QString audioDriver;
    // For the "file" driver: the file the audio is written to (raw 16-bit
    // signed little-endian stereo at 44100 Hz).
    QString fileName;
};

// The percussion stroke that confirms a typed value: one note on the General
// MIDI percussion channel, played by a software synthesizer.
//
// The stroke is a short sequence built once (4 ticks per quarter note, at
// 120 beats per minute one tick lasts 125 ms): note-on at tick 0 and note-off
// at tick 1, both on channel 10 with velocity 127. beep() replays it.
class SoundBot
{
public:
    // One message of the sequence.
    struct MidiEvent
    {
        long tick;
        int status; // 0x99 note-on channel 10, 0x89 note-off channel 10
        int data1; // note number
        int data2; // velocity
        friend bool operator==(const MidiEvent &, const MidiEvent &) = default;
    };

    static constexpr int resolution = 4; // ticks per quarter note
    static constexpr int beatsPerMinute = 120;
    static constexpr int percussionChannel = 9; // MIDI channel 10

    // Opens the synthesizer and the audio output and builds the sequence for
    // `noteNumber`. Throws SoundError with the reason.
    explicit SoundBot(int noteNumber, const SoundOptions &options = SoundOptions());
    virtual ~SoundBot();
    SoundBot(const SoundBot &) = delete;
    SoundBot &operator=(const SoundBot &) = delete;

    // Plays the stroke from its start; returns at once (the synthesizer plays
    // on its own thread). Does nothing after close(). Any thread.
    virtual void beep();
    // Stops the audio output and releases the synthesizer; further beeps are
    // silent. Idempotent.
    virtual void close();

    const std::vector<MidiEvent> &track() const { return m_track; }
    // The sound font in use.
    QString soundFont() const;

    // Standard places for a General MIDI sound font, most preferred first.
    static QStringList soundFontCandidates();

private:
    struct Synth;
    std::vector<MidiEvent> m_track;
    std::unique_ptr<Synth> m_synth;
};

} // namespace omvara::outputs
