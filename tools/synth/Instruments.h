// The soundtrack's voices, one function per instrument. Each renders one note into a window of
// the song, running the note from its own start, so a note sounds the same whatever window it is
// rendered in: excerpts match the full render sample for sample (before the bus effects).
// Voices add into the target; levels, filters of whole buses and effects are the song's business.
#pragma once

#include <cstdint>

namespace Synth {

struct Note {
    double beat = 0.0;   // start, in beats from the start of the song
    double length = 1.0; // time held, in beats (the release follows)
    double pitch = 60.0; // MIDI note number
    float velocity = 1.0f;
    float pan = 0.0f;     // -1 left .. 1 right
    float tone = 1000.0f; // brightness: the voice's filter cutoff in Hz where it has one
};

// A noise band swept from one centre frequency to another while its level moves between two
// values (risers, falls, wind).
struct Sweep {
    double beat = 0.0;
    double length = 4.0; // beats
    double fromHz = 200.0;
    double toHz = 5000.0;
    float fromGain = 0.0f;
    float toGain = 1.0f;
    float shape = 1.0f;  // the level follows from + (to - from) * x^shape, x = 0..1
    float wobble = 0.0f; // slow drift of the centre, in octaves
    float q = 1.5f;
    double fade = 0.03; // seconds of fade-in and fade-out at the ends
};

// Samples [first, first + count) of the song, to add into.
struct Target {
    float* left;
    float* right;
    int64_t first;
    int64_t count;
};

// Warm pad: three detuned band-limited saws spread across the stereo field, slow attack and
// release, a little drifting vibrato. `tone` unused (the pad bus is filtered as a whole).
void padNote(const Note& note, uint64_t seed, const Target& target);
// Bass: sine fundamental plus a low-passed saw for its harmonics (`tone` = cutoff), centred.
void bassNote(const Note& note, uint64_t seed, const Target& target);
// Arpeggio pluck: saw and square through a low-pass whose cutoff (`tone`) jumps up at the onset.
void pluckNote(const Note& note, uint64_t seed, const Target& target);
// Bell: two-operator FM with a decaying index and an inharmonic partial.
void bellNote(const Note& note, const Target& target);
// Heartbeat thump: a sine falling in pitch with soft saturation; `lub` is the longer, deeper first
// beat of the pair, otherwise the shorter "dub".
void kickNote(const Note& note, bool lub, const Target& target);
// Amplitude of a kick's side-chain envelope `t` seconds after its onset (0..1).
double kickDuck(double t);
// Closed hat / shaker tick: high-passed noise with a short decay (`tone` = high-pass cutoff).
void hatNote(const Note& note, uint64_t seed, const Target& target);
// Soft impact at a section change: low-passed noise falling in brightness over a sub boom.
void impactNote(const Note& note, uint64_t seed, const Target& target);
void noiseSweep(const Sweep& sweep, uint64_t seed, const Target& target);

} // namespace Synth
