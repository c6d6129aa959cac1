// The soundtrack "sydaembient": its arrangement (sections, chords, notes, heartbeat) and the
// render of any whole-bar span of it to a stereo mix before mastering.
//
// Form, in whole bars of 32 sync rows: a quiet intro of pads and wind; the heartbeat (a soft
// "lub-dub" kick pair on every even beat) with the bass; a build that opens the filters and adds
// an arpeggio and hats; a climax with bells; a breakdown where the heart stops; the heartbeat's
// return; and an outro that fades to silence. D minor, chords with voice-leading, 180 BPM.
#pragma once

#include "tools/synth/Instruments.h"
#include "tools/synth/StereoBuffer.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace Synth {

struct Section {
    std::string name;
    int firstBar;
    int endBar; // exclusive
};

// Bars [firstBar, endBar) in which the heartbeat plays.
struct KickRange {
    int firstBar;
    int endBar;
};

struct Kick {
    double beat;
    bool lub; // first, stronger thump of the pair; otherwise the "dub"
    float velocity;
};

struct ChordStep {
    int firstBar;
    int bars;
    int root;                  // bass note (MIDI)
    std::array<int, 4> voices; // pad voicing (MIDI), lowest first
};

class Song {
public:
    // Groups of voices, to render part of the mix.
    enum Part : unsigned {
        Pads = 1,
        Bass = 2,
        Heartbeat = 4,
        Arpeggio = 8,
        Bells = 16,
        Hats = 32,
        Noise = 64,
        Effects = 128, // reverb and delay returns
        All = 255,
    };
    // The "dub" follows each "lub" by this many beats (6 rows).
    static constexpr double dubOffset = 0.75;
    static constexpr uint64_t seed = 0x5E1D4E3B1E57ull;

    Song();

    int bars() const { return sectionList.back().endBar; }
    const std::vector<Section>& sections() const { return sectionList; }
    const std::vector<KickRange>& kickRanges() const { return kickRangeList; }
    const std::vector<Kick>& kicks() const { return kickList; }
    const std::vector<ChordStep>& chords() const { return chordList; }

    // Renders bars [firstBar, endBar) (clamped to the song). Effects start empty at firstBar, so
    // only a render from bar 0 carries the reverb of what came before.
    StereoBuffer render(int firstBar, int endBar, unsigned parts = All) const;

private:
    std::vector<Section> sectionList;
    std::vector<KickRange> kickRangeList;
    std::vector<Kick> kickList;
    std::vector<ChordStep> chordList;
    std::vector<Note> padNotes, bassNotes, arpNotes, bellNotes, hatNotes, impactNotes;
    std::vector<Sweep> sweeps;
};

} // namespace Synth
