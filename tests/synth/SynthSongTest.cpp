// The soundtrack's arrangement as the choreography relies on it (whole-bar sections, the
// heartbeat's rows, voice-leading), and rendering: deterministic, silent at the end, and the
// encoder's report parsed into the figures the tool checks.
#include "tools/synth/EncodedReport.h"
#include "tools/synth/Song.h"
#include "tools/synth/Timing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <set>

using namespace Synth;

TEST(SynthSong, FormStartsOnWholeBarsAndLastsAboutThreeMinutes) {
    const Song song;
    int bar = 0;
    std::set<std::string> names;
    for (const Section& s : song.sections()) {
        EXPECT_EQ(s.firstBar, bar) << s.name;
        EXPECT_GT(s.endBar, s.firstBar) << s.name;
        names.insert(s.name);
        bar = s.endBar;
    }
    EXPECT_EQ(bar, song.bars());
    EXPECT_EQ(names, (std::set<std::string>{"intro", "heartbeat", "build", "climax", "breakdown", "return",
                                            "outro"}));
    EXPECT_GE(barToSeconds(song.bars()), 150.0);
    EXPECT_LE(barToSeconds(song.bars()), 210.0);
    // A whole bar is a whole number of samples, so section starts are sample-exact.
    EXPECT_EQ(barToSample(1), 4 * samplesPerBeat);
    EXPECT_EQ(rowsPerBar, 32);
}

TEST(SynthSong, HeartbeatFollowsTheRuleTheChoreographyUses) {
    const Song song;
    size_t expected = 0;
    for (const KickRange& r : song.kickRanges())
        expected += size_t(r.endBar - r.firstBar) * beatsPerBar; // a lub and a dub per two beats
    ASSERT_EQ(song.kicks().size(), expected);
    const Kick* lub = nullptr;
    for (const Kick& k : song.kicks()) {
        const double row = k.beat * rowsPerBeat;
        ASSERT_EQ(row, std::floor(row)) << "thump off the row grid at beat " << k.beat;
        if (k.lub) {
            EXPECT_EQ(std::fmod(k.beat, 2.0), 0.0) << k.beat;
            bool inside = false;
            for (const KickRange& r : song.kickRanges())
                inside = inside || (k.beat >= r.firstBar * beatsPerBar && k.beat < r.endBar * beatsPerBar);
            EXPECT_TRUE(inside) << k.beat;
            lub = &k;
        } else {
            ASSERT_NE(lub, nullptr);
            EXPECT_EQ(k.beat, lub->beat + Song::dubOffset);
            EXPECT_LT(k.velocity, lub->velocity);
        }
        EXPECT_GT(k.velocity, 0.0f);
    }
    EXPECT_EQ(Song::dubOffset * rowsPerBeat, 6.0);
}

TEST(SynthSong, ChordsAreContiguousAndVoicesMoveByStep) {
    const Song song;
    int bar = 0;
    const ChordStep* previous = nullptr;
    for (const ChordStep& c : song.chords()) {
        EXPECT_EQ(c.firstBar, bar);
        bar += c.bars;
        if (previous) {
            for (int v = 0; v < 4; ++v)
                EXPECT_LE(std::abs(c.voices[v] - previous->voices[v]), 3)
                    << "voice " << v << " at bar " << c.firstBar;
        }
        for (int v = 1; v < 4; ++v)
            EXPECT_GE(c.voices[v], c.voices[v - 1]);
        EXPECT_LT(c.root, c.voices[0] - 12); // the bass stays below the pads
        previous = &c;
    }
    EXPECT_EQ(bar, song.bars());
}

TEST(SynthSong, RenderingIsDeterministicAndEndsInSilence) {
    const Song song;
    // The climax's first two bars: every voice and both effects at work.
    const StereoBuffer first = song.render(64, 66);
    const StereoBuffer second = song.render(64, 66);
    ASSERT_EQ(first.frames(), size_t(barToSample(2)));
    EXPECT_EQ(first.left, second.left);
    EXPECT_EQ(first.right, second.right);
    double energy = 0.0;
    for (size_t i = 0; i < first.frames(); ++i)
        energy += double(first.left[i]) * first.left[i];
    EXPECT_GT(energy / double(first.frames()), 1e-3);
    // Parts render separately and sum (without effects) to the dry mix.
    const unsigned dry = Song::All & ~Song::Effects;
    const StereoBuffer pads = song.render(64, 65, Song::Pads);
    const StereoBuffer rest = song.render(64, 65, dry & ~Song::Pads);
    const StereoBuffer all = song.render(64, 65, dry);
    for (size_t i = 0; i < all.frames(); i += 97)
        ASSERT_NEAR(all.left[i], pads.left[i] + rest.left[i], 1e-5);

    // The outro fades to digital silence before the end.
    const StereoBuffer end = song.render(song.bars() - 1, song.bars() + 5);
    ASSERT_EQ(end.frames(), size_t(barToSample(1)));
    for (size_t i = end.frames() / 2; i < end.frames(); ++i) {
        ASSERT_EQ(end.left[i], 0.0f);
        ASSERT_EQ(end.right[i], 0.0f);
    }
}

TEST(SynthEncodedReport, ReadsTheFiguresFromFfmpegsLog) {
    const std::string log =
        "Input #0, mp3, from 'x.mp3':\n"
        "[Parsed_ebur128_0 @ 0x1] t: 1.0 TARGET:-23 LUFS M: -12.0 S: -13.0 I: -14.5 LUFS\n"
        "[Parsed_astats_1 @ 0x2] Channel: 1\n"
        "[Parsed_astats_1 @ 0x2] DC offset: 0.250000\n"
        "[Parsed_astats_1 @ 0x2] Overall\n"
        "[Parsed_astats_1 @ 0x2] DC offset: -0.000012\n"
        "[Parsed_astats_1 @ 0x2] Number of samples: 7996800\n"
        "[Parsed_ebur128_0 @ 0x1] Summary:\n\n"
        "  Integrated loudness:\n    I:         -13.9 LUFS\n    Threshold: -24.0 LUFS\n\n"
        "  Loudness range:\n    LRA:         7.9 LU\n\n"
        "  True peak:\n    Peak:       -1.3 dBFS\n";
    const EncodedReport report = EncodedReport::parse(log);
    ASSERT_TRUE(report.complete);
    EXPECT_DOUBLE_EQ(report.integratedLufs, -13.9);
    EXPECT_DOUBLE_EQ(report.truePeakDb, -1.3);
    EXPECT_DOUBLE_EQ(report.dcOffset, -0.000012);
    EXPECT_NEAR(report.seconds, 7996800.0 / 44100.0, 1e-9);
    EXPECT_TRUE(report.withinLimits());

    EncodedReport hot = report;
    hot.truePeakDb = -0.5;
    EXPECT_FALSE(hot.withinLimits());
    hot = report;
    hot.integratedLufs = -18.0;
    EXPECT_FALSE(hot.withinLimits());

    // A log without the true-peak summary (ffmpeg failed half-way) is incomplete.
    const EncodedReport cut = EncodedReport::parse(log.substr(0, log.find("  True peak:")));
    EXPECT_FALSE(cut.complete);
    EXPECT_FALSE(cut.withinLimits());
    EXPECT_FALSE(EncodedReport::parse("").complete);
}
