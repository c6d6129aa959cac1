#include "tools/synth/Song.h"

#include "tools/synth/PingPongDelay.h"
#include "tools/synth/Random.h"
#include "tools/synth/Reverb.h"
#include "tools/synth/StateVariableFilter.h"
#include "tools/synth/Timing.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <utility>

namespace Synth {

namespace {

// A value that moves between breakpoints (bar, value), linearly or (for frequencies) along a
// straight line in the logarithm; constant before the first and after the last point.
class Automation {
public:
    Automation(std::initializer_list<std::pair<double, double>> points, bool exponential = false)
        : points(points), exponential(exponential) {}

    double at(double bar) const {
        if (bar <= points.front().first)
            return points.front().second;
        if (bar >= points.back().first)
            return points.back().second;
        size_t i = 1;
        while (points[i].first < bar)
            ++i;
        const auto& [bar0, value0] = points[i - 1];
        const auto& [bar1, value1] = points[i];
        const double x = (bar - bar0) / (bar1 - bar0);
        return exponential ? value0 * std::pow(value1 / value0, x) : value0 + (value1 - value0) * x;
    }

private:
    std::vector<std::pair<double, double>> points;
    bool exponential;
};

// Levels and filter cutoffs over the form (bar, value).
const Automation padLevel{{0, 0.45}, {8, 0.75}, {16, 0.8}, {64, 1.0}, {96, 1.0}, {98, 0.85}};
const Automation padCutoff{{{0, 260},
                            {8, 480},
                            {16, 700},
                            {32, 850},
                            {48, 1000},
                            {56, 1500},
                            {62, 2600},
                            {64, 3600},
                            {94, 3800},
                            {96, 2400},
                            {98, 850},
                            {110, 1200},
                            {112, 1500},
                            {120, 1200},
                            {128, 650},
                            {136, 280}},
                           true};
const Automation highPadLevel{{56, 0.15}, {64, 0.5}, {96, 0.5}};
const Automation bassLevel{{16, 0.55},  {24, 1.0},  {95, 1.0},  {96, 0.35},
                           {111, 0.35}, {112, 1.0}, {128, 0.85}};
const Automation bassCutoff{{{16, 220}, {48, 320}, {64, 600}, {96, 250}, {112, 380}}, true};
const Automation kickLevel{{16, 0.5}, {24, 1.0}, {120, 1.0}, {128, 0.4}};
const Automation arpLevel{{32, 0.25}, {48, 0.55}, {62, 0.9}, {64, 1.0}};
const Automation arpCutoff{{{32, 500}, {48, 900}, {62, 2400}, {64, 2000}, {80, 2600}, {96, 3000}}, true};
const Automation hatLevel{{56, 0.45}, {62, 0.8}, {64, 0.75}, {96, 0.75}, {112, 0.5}};

// Outro: the whole mix fades out from bar 126 and is silent from bar 135.5 on.
double masterFade(double bar) {
    const double x = std::clamp((bar - 126.0) / 9.5, 0.0, 1.0);
    return (1.0 - x) * (1.0 - x);
}

struct Chord {
    int root;
    std::array<int, 4> voices;
};

// D minor, voiced so that each pad voice moves by a step or holds between neighbouring chords.
const Chord Dm9{38, {53, 57, 60, 64}};    // D  | F A C E
const Chord Bbmaj9{34, {53, 57, 60, 62}}; // Bb | F A C D
const Chord Gm7{31, {53, 55, 58, 62}};    // G  | F G Bb D
const Chord Asus{33, {52, 55, 57, 62}};   // A  | E G A D
const Chord A7{33, {52, 55, 57, 61}};     // A  | E G A C#
const Chord Cadd9{36, {52, 55, 60, 62}};  // C  | E G C D
const Chord Am7{33, {52, 55, 60, 64}};    // A  | E G C E

// One chord of a progression: its bars and the bass line's fifth and passing note leading to the
// next root (-1: none; the root is held).
struct Step {
    Chord chord;
    int bars;
    int fifth;
    int passing;
};
using Progression = std::vector<Step>;

const Progression verse{
    {Dm9, 4, 33, 36}, {Bbmaj9, 4, 41, 33}, {Gm7, 4, 38, 34}, {Asus, 2, -1, -1}, {A7, 2, -1, 37}};
// Climax: VI - VII - v - i, entered from the build's A7 by a deceptive cadence onto Bb.
const Progression chorus{{Bbmaj9, 4, 41, 38}, {Cadd9, 4, 43, 34}, {Am7, 4, 40, 36}, {Dm9, 4, 33, 36}};
const Progression breakdown{
    {Bbmaj9, 4, 41, 33}, {Gm7, 4, 38, 36}, {Dm9, 4, 33, 34}, {Asus, 2, -1, -1}, {A7, 2, -1, 37}};
const Progression reprise{{Dm9, 4, 33, 36}, {Bbmaj9, 4, 41, 33}};
const Progression ending{{Gm7, 4, 38, 34}, {Asus, 2, -1, -1}, {A7, 2, -1, 37}, {Dm9, 8, -1, -1}};

// Climax bell melody over the four chorus chords: (beat in the 16-bar phrase, beats, pitch).
struct MelodyNote {
    double beat;
    double length;
    int pitch;
};
const std::vector<MelodyNote> melody{
    {0, 6, 74},  {6, 2, 72},  {8, 6, 69},  {14, 2, 72}, // Bb: D C A C
    {16, 6, 76}, {22, 2, 74}, {24, 6, 72}, {30, 2, 74}, // C:  E D C D
    {32, 6, 72}, {38, 2, 76}, {40, 6, 81}, {46, 2, 79}, // Am: C E A G
    {48, 6, 77}, {54, 2, 76}, {56, 8, 74},              // Dm: F E D
};

uint64_t noteSeed(unsigned part, size_t index) {
    return Random::mix(Song::seed ^ (uint64_t(part) << 40) ^ index);
}

} // namespace

Song::Song() {
    sectionList = {{"intro", 0, 16},       {"heartbeat", 16, 48}, {"build", 48, 64},  {"climax", 64, 96},
                   {"breakdown", 96, 112}, {"return", 112, 120},  {"outro", 120, 136}};
    kickRangeList = {{16, 62}, {64, 96}, {112, 128}};

    // Chords and bass line.
    std::vector<Step> steps;
    int bar = 0;
    for (const Progression* p :
         {&verse, &verse, &verse, &verse, &chorus, &chorus, &breakdown, &reprise, &ending}) {
        for (const Step& step : *p) {
            chordList.push_back({bar, step.bars, step.chord.root, step.chord.voices});
            steps.push_back(step);
            bar += step.bars;
        }
    }
    for (size_t i = 0; i < steps.size(); ++i) {
        const ChordStep& c = chordList[i];
        const double beat = c.firstBar * beatsPerBar;
        if (c.firstBar < 16)
            continue;
        auto bass = [&](int pitch, double offset, double length) {
            bassNotes.push_back({beat + offset, length, double(pitch), float(bassLevel.at(c.firstBar)), 0.0f,
                                 float(bassCutoff.at(c.firstBar + offset / beatsPerBar))});
        };
        if (steps[i].fifth < 0 && steps[i].passing < 0) {
            bass(c.root, 0.0, c.bars * beatsPerBar - 0.5);
        } else if (c.bars == 2) {
            bass(c.root, 0.0, 3.5);
            bass(steps[i].passing, 4.0, 3.5);
        } else {
            bass(c.root, 0.0, 7.5);
            bass(steps[i].fifth, 8.0, 3.5);
            bass(steps[i].passing, 12.0, 3.5);
        }
    }

    // Pads: four voices; a voice that keeps its pitch into the next chord sustains.
    const float voicePan[4] = {-0.15f, 0.1f, -0.05f, 0.15f};
    const float voiceLevel[4] = {1.0f, 0.9f, 0.85f, 0.8f};
    for (int v = 0; v < 4; ++v) {
        size_t open = padNotes.size(); // index of the voice's sounding note, if any
        for (const ChordStep& c : chordList) {
            const double beat = c.firstBar * beatsPerBar, length = c.bars * beatsPerBar;
            if (open < padNotes.size() && padNotes[open].pitch == c.voices[v] &&
                padNotes[open].beat + padNotes[open].length == beat) {
                padNotes[open].length += length;
                continue;
            }
            open = padNotes.size();
            padNotes.push_back({beat, length, double(c.voices[v]), voiceLevel[v], voicePan[v], 0.0f});
        }
        // The final chord lets go two bars early so its release is over before the end.
        padNotes.back().length -= 2 * beatsPerBar;
    }
    // Upper pad layer an octave higher through the end of the build and the climax.
    for (const ChordStep& c : chordList) {
        if (c.firstBar < 56 || c.firstBar >= 96)
            continue;
        for (int v = 0; v < 4; ++v)
            padNotes.push_back({c.firstBar * double(beatsPerBar), c.bars * double(beatsPerBar),
                                c.voices[v] + 12.0, float(0.6 * highPadLevel.at(c.firstBar)),
                                -voicePan[v] * 3.0f, 0.0f});
    }

    // Arpeggio: eighth notes up and down the voicing, from the second half of the heartbeat
    // section through the climax, pausing for the two bars before the climax.
    Random random(seed ^ 0xA4);
    const int pattern[8] = {0, 1, 2, 3, 4, 3, 2, 1};
    for (const ChordStep& c : chordList) {
        for (int eighth = 0; eighth < c.bars * beatsPerBar * 2; ++eighth) {
            const double beat = c.firstBar * beatsPerBar + eighth * 0.5;
            const double at = beat / beatsPerBar;
            if (at < 32 || at >= 96 || (at >= 62 && at < 64))
                continue;
            const int p = pattern[eighth % 8];
            const int pitch = p < 4 ? c.voices[p] + 12 : c.voices[0] + 24;
            const double accent = eighth % 2 == 0 ? 1.0 : 0.72;
            arpNotes.push_back({beat, 0.4, double(pitch),
                                float(arpLevel.at(at) * accent * (0.9 + 0.1 * random.uniform())),
                                eighth % 2 == 0 ? -0.35f : 0.35f, float(arpCutoff.at(at))});
        }
    }

    // Bells: a few in the intro, the melody twice in the climax (the second time doubled an
    // octave up), echoes in the breakdown and a farewell in the outro.
    auto bell = [&](double bar, double beats, int pitch, float velocity, float pan) {
        bellNotes.push_back({bar * beatsPerBar, beats, double(pitch), velocity, pan, 0.0f});
    };
    const int introBells[4] = {74, 70, 76, 73};
    for (int i = 0; i < 4; ++i)
        bell(8 + 2 * i, 6, introBells[i], 0.45f, i % 2 ? 0.4f : -0.4f);
    for (int pass = 0; pass < 2; ++pass) {
        for (const MelodyNote& m : melody) {
            const double at = 64 + 16 * pass + m.beat / beatsPerBar;
            bell(at, m.length, m.pitch, 0.8f, 0.1f);
            if (pass == 1)
                bell(at, m.length, m.pitch + 12, 0.3f, -0.3f);
        }
    }
    const int breakdownBells[8] = {77, 74, 70, 74, 81, 77, 76, 73};
    for (int i = 0; i < 8; ++i)
        bell(96 + 2 * i, 6, breakdownBells[i], 0.45f, i % 2 ? 0.45f : -0.45f);
    const int outroBells[3] = {81, 77, 74};
    for (int i = 0; i < 3; ++i)
        bell(128 + 2 * i, 6, outroBells[i], 0.35f, i % 2 ? 0.3f : -0.3f);

    // Hats: off-beat eighths (and quiet sixteenths) from late in the build through the climax,
    // off-beats again for the return.
    auto hat = [&](double beat, float velocity, float pan, float tone) {
        const double at = beat / beatsPerBar;
        hatNotes.push_back({beat, 0.05, 0.0,
                            float(velocity * hatLevel.at(at) * (0.88 + 0.24 * random.uniform())), pan, tone});
    };
    for (int beat = 0; beat < 136 * beatsPerBar; ++beat) {
        const double at = double(beat) / beatsPerBar;
        const bool offbeats = (at >= 56 && at < 62) || (at >= 64 && at < 96) || (at >= 112 && at < 120);
        const bool sixteenths = (at >= 60 && at < 62) || (at >= 64 && at < 96);
        if (offbeats)
            hat(beat + 0.5, 1.0f, 0.25f, 7000.0f);
        if (sixteenths) {
            hat(beat + 0.25, 0.4f, -0.3f, 9500.0f);
            hat(beat + 0.75, 0.4f, -0.3f, 9500.0f);
        }
    }

    // Heartbeat: lub on every even beat, dub 0.75 beat later.
    for (const KickRange& range : kickRangeList) {
        for (int beat = range.firstBar * beatsPerBar; beat < range.endBar * beatsPerBar; beat += 2) {
            const float level = float(kickLevel.at(double(beat) / beatsPerBar));
            kickList.push_back({double(beat), true, level});
            kickList.push_back({beat + dubOffset, false, 0.62f * level});
        }
    }

    // Noise: wind in the intro and breakdown, risers into the build's end, the climax and the
    // return, a fall into the breakdown, and soft impacts on the section downbeats.
    auto sweep = [&](double fromBar, double bars, double fromHz, double toHz, float fromGain, float toGain,
                     float shape, float wobble, float q, double fade) {
        sweeps.push_back({fromBar * beatsPerBar, bars * beatsPerBar, fromHz, toHz, fromGain, toGain, shape,
                          wobble, q, fade});
    };
    sweep(0, 24, 380, 800, 0.38f, 0.38f, 1.0f, 0.6f, 1.2f, 8.0);
    sweep(44, 4, 300, 2500, 0.0f, 0.35f, 2.0f, 0.0f, 2.0f, 0.03);
    sweep(60, 4, 300, 7000, 0.0f, 0.4f, 2.0f, 0.0f, 2.5f, 0.06);
    sweep(96, 3, 6000, 250, 0.7f, 0.0f, 0.6f, 0.0f, 2.0f, 0.02);
    sweep(96, 16, 300, 600, 0.28f, 0.28f, 1.0f, 0.6f, 1.2f, 5.0);
    sweep(110, 2, 400, 5000, 0.0f, 0.6f, 2.0f, 0.0f, 2.5f, 0.03);
    impactNotes.push_back({64 * beatsPerBar, 4, 0, 0.7f, 0, 4000});
    impactNotes.push_back({96 * beatsPerBar, 4, 0, 0.55f, 0, 2500});
    impactNotes.push_back({112 * beatsPerBar, 4, 0, 0.6f, 0, 3000});
}

StereoBuffer Song::render(int firstBar, int endBar, unsigned parts) const {
    firstBar = std::clamp(firstBar, 0, bars());
    endBar = std::clamp(endBar, firstBar, bars());
    const int64_t first = barToSample(firstBar);
    const int64_t count = barToSample(endBar) - first;
    const double samplesPerBar = double(samplesPerBeat) * beatsPerBar;
    auto barOf = [&](int64_t i) { return double(first + i) / samplesPerBar; };

    StereoBuffer mix{size_t(count)};
    std::vector<float> reverbSend(size_t(count), 0.0f), delaySend(size_t(count), 0.0f);

    // Side-chain from the heartbeat: pads and bass dip a little under every thump.
    std::vector<float> duck(size_t(count), 0.0f);
    for (const Kick& kick : kickList) {
        const int64_t onset = beatToSample(kick.beat) - first;
        for (int64_t i = std::max<int64_t>(onset, 0);
             i < std::min<int64_t>(count, onset + int64_t(1.2 * sampleRate)); ++i)
            duck[i] =
                std::min(1.0f, duck[i] + kick.velocity * float(kickDuck(double(i - onset) / sampleRate)));
    }

    // Renders one part into its own bus and mixes it in under `gain(i)`, with effect sends.
    auto part = [&](unsigned which, float reverb, float delay, auto&& renderNotes, auto&& gain) {
        if (!(parts & which))
            return;
        StereoBuffer bus{size_t(count)};
        renderNotes(Target{bus.left.data(), bus.right.data(), first, count}, bus);
        for (int64_t i = 0; i < count; ++i) {
            const float g = float(gain(i));
            const float l = bus.left[i] * g, r = bus.right[i] * g;
            mix.left[i] += l;
            mix.right[i] += r;
            reverbSend[i] += reverb * 0.5f * (l + r);
            delaySend[i] += delay * 0.5f * (l + r);
        }
    };

    part(
        Pads, 0.45f, 0.0f,
        [&](const Target& target, StereoBuffer& bus) {
            for (size_t n = 0; n < padNotes.size(); ++n)
                padNote(padNotes[n], noteSeed(Pads, n), target);
            // The pad bus breathes through a low-pass that follows the form plus an 8-bar sway.
            StateVariableFilter left, right;
            for (int64_t i = 0; i < count; ++i) {
                if (i % 32 == 0) {
                    const double bar = barOf(i);
                    const double cutoff =
                        padCutoff.at(bar) * std::pow(2.0, 0.3 * std::sin(2.0 * pi * bar / 8.0));
                    left.setCutoff(cutoff, 0.9);
                    right.setCutoff(cutoff, 0.9);
                }
                bus.left[i] = left.lowpass(bus.left[i]);
                bus.right[i] = right.lowpass(bus.right[i]);
            }
        },
        [&](int64_t i) { return padLevel.at(barOf(i)) * (1.0 - 0.3 * duck[i]); });
    part(
        Bass, 0.04f, 0.0f,
        [&](const Target& target, StereoBuffer&) {
            for (size_t n = 0; n < bassNotes.size(); ++n)
                bassNote(bassNotes[n], noteSeed(Bass, n), target);
        },
        [&](int64_t i) { return 1.0 - 0.45 * duck[i]; });
    part(
        Heartbeat, 0.12f, 0.0f,
        [&](const Target& target, StereoBuffer&) {
            for (const Kick& kick : kickList)
                kickNote({kick.beat, 0.0, 0.0, kick.velocity, 0.0f, 0.0f}, kick.lub, target);
        },
        [](int64_t) { return 1.0; });
    part(
        Arpeggio, 0.3f, 0.4f,
        [&](const Target& target, StereoBuffer&) {
            for (size_t n = 0; n < arpNotes.size(); ++n)
                pluckNote(arpNotes[n], noteSeed(Arpeggio, n), target);
        },
        [](int64_t) { return 1.0; });
    part(
        Bells, 0.6f, 0.3f,
        [&](const Target& target, StereoBuffer&) {
            for (const Note& note : bellNotes)
                bellNote(note, target);
        },
        [](int64_t) { return 1.0; });
    part(
        Hats, 0.15f, 0.0f,
        [&](const Target& target, StereoBuffer&) {
            for (size_t n = 0; n < hatNotes.size(); ++n)
                hatNote(hatNotes[n], noteSeed(Hats, n), target);
        },
        [](int64_t) { return 1.0; });
    part(
        Noise, 0.4f, 0.0f,
        [&](const Target& target, StereoBuffer&) {
            for (size_t n = 0; n < sweeps.size(); ++n)
                noiseSweep(sweeps[n], noteSeed(Noise, n), target);
            for (size_t n = 0; n < impactNotes.size(); ++n)
                impactNote(impactNotes[n], noteSeed(Noise, 1000 + n), target);
        },
        [](int64_t) { return 1.0; });

    if (parts & Effects) {
        // Dotted-eighth ping-pong; its echoes feed the reverb too.
        StereoBuffer echoes{size_t(count)};
        PingPongDelay delay(samplesPerBeat * 3 / 4, 0.42f, 3500.0);
        delay.process(delaySend.data(), echoes.left.data(), echoes.right.data(), size_t(count));
        for (int64_t i = 0; i < count; ++i) {
            mix.left[i] += echoes.left[i];
            mix.right[i] += echoes.right[i];
            reverbSend[i] += 0.15f * (echoes.left[i] + echoes.right[i]);
        }
        Reverb reverb(0.86, 0.5, 1.0, 2.5);
        reverb.process(reverbSend.data(), mix.left.data(), mix.right.data(), size_t(count));
    }

    for (int64_t i = 0; i < count; ++i) {
        const float fade = float(masterFade(barOf(i)));
        mix.left[i] *= fade;
        mix.right[i] *= fade;
    }
    return mix;
}

} // namespace Synth
