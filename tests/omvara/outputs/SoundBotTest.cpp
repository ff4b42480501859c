// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/outputs/SoundBot.h"

#include "QtPrinters.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <cmath>
#include <cstring>

using omvara::outputs::SoundBot;
using omvara::outputs::SoundError;
using omvara::outputs::SoundOptions;

namespace {

constexpr int sampleRate = 44100;

QString soundError(int note, const SoundOptions &options)
{
    try {
        SoundBot bot(note, options);
    } catch (const SoundError &e) {
        return e.text();
    }
    return QStringLiteral("<created>");
}

// Loudness (RMS of both channels) of every 5 ms block of raw 16-bit stereo audio.
std::vector<double> blockLoudness(const QByteArray &raw)
{
    constexpr int frames = sampleRate / 200;
    std::vector<double> blocks;
    const qsizetype totalFrames = raw.size() / 4;
    for (qsizetype start = 0; start + frames <= totalFrames; start += frames) {
        double sum = 0;
        for (int i = 0; i < frames * 2; ++i) {
            qint16 sample;
            std::memcpy(&sample, raw.constData() + (start * 2 + i) * 2, 2);
            sum += double(sample) * sample;
        }
        blocks.push_back(std::sqrt(sum / (frames * 2)));
    }
    return blocks;
}

} // namespace

TEST(SoundBot, sequence_isNoteOnAtTick0AndNoteOffAtTick1OnThePercussionChannel)
{
    QTemporaryDir dir;
    SoundBot bot(56, { QString(), QStringLiteral("file"), dir.filePath("out.raw") });
    const std::vector<SoundBot::MidiEvent> expected = { { 0, 0x99, 56, 127 }, { 1, 0x89, 56, 127 } };
    EXPECT_EQ(bot.track(), expected);
    EXPECT_EQ(60000 / (SoundBot::beatsPerMinute * SoundBot::resolution), 125);
}

TEST(SoundBot, beep_soundsAudiblyForAboutAnEighthOfASecond)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("out.raw");
    {
        SoundBot bot(56, { QString(), QStringLiteral("file"), file });
        // The file driver renders in real time; give it a moment of silence first.
        QThread::msleep(100);
        bot.beep();
        QThread::msleep(700);
        bot.close();
    }
    QFile audio(file);
    ASSERT_TRUE(audio.open(QIODevice::ReadOnly));
    const std::vector<double> loudness = blockLoudness(audio.readAll());
    ASSERT_GT(loudness.size(), 100u);

    const auto peak = std::max_element(loudness.begin(), loudness.end());
    ASSERT_GT(*peak, 500.0) << "silent";
    const auto onset = std::find_if(loudness.begin(), loudness.end(), [](double l) { return l > 50.0; });
    EXPECT_GT(onset - loudness.begin(), 2) << "sound before the beep";
    // From the onset until the level has fallen to a tenth of the peak. (A
    // percussion sample fades by itself; the note-off after 125 ms ends
    // what is left of it.)
    const auto end = std::find_if(peak, loudness.end(), [&](double l) { return l < *peak / 10; });
    const double seconds = (end - onset) * 0.005;
    EXPECT_GT(seconds, 0.05);
    EXPECT_LT(seconds, 0.3);
}

TEST(SoundBot, beepAfterClose_isSilentAndCloseIsIdempotent)
{
    QTemporaryDir dir;
    SoundBot bot(81, { QString(), QStringLiteral("file"), dir.filePath("out.raw") });
    bot.close();
    bot.beep();
    bot.close();
}

TEST(SoundBot, creationFailures_sayWhatIsMissing)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("out.raw");
    EXPECT_EQ(soundError(56, { QStringLiteral("/nonexistent/GM.sf2"), QStringLiteral("file"), file }),
        "sound font \"/nonexistent/GM.sf2\" not found");
    EXPECT_TRUE(soundError(56, { QString(), QStringLiteral("nonsense"), file })
                    .startsWith("no audio output could be opened (nonsense: "));
    EXPECT_EQ(
        soundError(128, { QString(), QStringLiteral("file"), file }), "note number 128 is outside 0 to 127");

    const QString notAFont = dir.filePath("empty.sf2");
    QFile(notAFont).open(QIODevice::WriteOnly);
    EXPECT_TRUE(soundError(56, { notAFont, QStringLiteral("file"), file })
                    .startsWith(QStringLiteral("cannot load the sound font \"%1\"").arg(notAFont)));
}

TEST(SoundBot, noSoundFontInTheStandardPlaces_pointsToThePackageAndTheVariable)
{
    const QByteArray home = qgetenv("HOME"), dataDirs = qgetenv("XDG_DATA_DIRS");
    qputenv("HOME", "/nonexistent");
    qputenv("XDG_DATA_DIRS", "/nonexistent");
    const QStringList candidates = SoundBot::soundFontCandidates();
    qputenv("HOME", home);
    qputenv("XDG_DATA_DIRS", dataDirs);
    EXPECT_TRUE(candidates.contains("/usr/share/sounds/sf2/default-GM.sf2"));
    EXPECT_TRUE(candidates.contains("/nonexistent/.local/share/soundfonts/default-GM.sf2"));
    EXPECT_LT(candidates.indexOf("/usr/share/sounds/sf2/default-GM.sf2"),
        candidates.indexOf("/usr/share/sounds/sf2/FluidR3_GM.sf2"));
}
