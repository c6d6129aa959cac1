// velmora-synth: renders the presentation's soundtrack, data/sydaembient.mp3, from this code alone.
//
// Regenerate it byte for byte, from the repository root (needs Debian's `lame` 3.100 and `ffmpeg`):
//   cmake -S . -B build-synth && cmake --build build-synth -j2 --target velmora-synth
//   ./build-synth/tools/synth/velmora-synth data/sydaembient.mp3
//
// It prints the form (sections with bars, rows and seconds) and the heartbeat's rule for the
// choreography, renders and masters the mix (-14 LUFS, true peak below -1 dBTP), encodes it with
// `lame -V 2` and measures the MP3 with ffmpeg (mastering again under a lower ceiling if the
// encoder pushed the true peak over). Exit status 1 when encoding or measuring fails or the MP3's
// figures are out of range.
#include "tools/synth/EncodedReport.h"
#include "tools/synth/Mastering.h"
#include "tools/synth/Process.h"
#include "tools/synth/Song.h"
#include "tools/synth/Timing.h"

#include "base/Files.h"
#include "base/Platform.h"

#include <cstdint>
#include <cstdio>
#include <string>

using namespace Synth;

namespace {

constexpr double targetLufs = -14.0;
// The encoder adds a few tenths of a decibel of overshoot; this leaves room for it below -1 dBTP.
// Where it adds more, the mix is mastered again under a lower ceiling.
constexpr double firstCeilingDb = -2.0;

std::string clock(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%d:%05.2f", int(seconds / 60.0), seconds - 60.0 * int(seconds / 60.0));
    return text;
}

void printForm(const Song& song) {
    std::printf("sydaembient: %d bars at %d BPM, %d rows per beat (%d rows per second), %s\n", song.bars(),
                beatsPerMinute, rowsPerBeat, rowsPerBeat * beatsPerMinute / 60,
                clock(barToSeconds(song.bars())).c_str());
    std::printf("Sections (1 bar = %d rows = %.4f s):\n", rowsPerBar, barToSeconds(1));
    for (const Section& s : song.sections())
        std::printf("  %-10s bars %3d-%3d  rows %4d-%4d  %7.2f s-%7.2f s\n", s.name.c_str(), s.firstBar,
                    s.endBar, s.firstBar * rowsPerBar, s.endBar * rowsPerBar, barToSeconds(s.firstBar),
                    barToSeconds(s.endBar));
    std::printf("Heartbeat: lub at beat 2k (row 16k), dub at beat 2k+%.2f (row 16k+%d), in\n",
                Song::dubOffset, int(Song::dubOffset * rowsPerBeat));
    for (const KickRange& r : song.kickRanges())
        std::printf("  bars %3d-%3d  rows %4d-%4d\n", r.firstBar, r.endBar, r.firstBar * rowsPerBar,
                    r.endBar * rowsPerBar);
    std::printf("  (%zu thumps; fading in over bars 16-24, out over bars 120-128)\n", song.kicks().size());
}

// 16-bit stereo PCM WAV at the soundtrack's rate.
bool writeWave(const std::string& path, const std::vector<int16_t>& pcm) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const uint32_t dataBytes = uint32_t(pcm.size() * sizeof(int16_t));
    auto u32 = [&](uint32_t v) {
        const unsigned char b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
        std::fwrite(b, 1, 4, file);
    };
    auto u16 = [&](uint16_t v) {
        const unsigned char b[2] = {uint8_t(v), uint8_t(v >> 8)};
        std::fwrite(b, 1, 2, file);
    };
    std::fwrite("RIFF", 1, 4, file);
    u32(36 + dataBytes);
    std::fwrite("WAVEfmt ", 1, 8, file);
    u32(16);
    u16(1); // PCM
    u16(2);
    u32(sampleRate);
    u32(sampleRate * 4);
    u16(4);
    u16(16);
    std::fwrite("data", 1, 4, file);
    u32(dataBytes);
    for (int16_t s : pcm)
        u16(uint16_t(s));
    const bool ok = !std::ferror(file);
    return std::fclose(file) == 0 && ok;
}

// Encodes the mastered mix to `output` with lame (through a temporary WAV file: lame's raw
// input mode is unreliable on a pipe). The file appears only when encoding succeeded.
// Both temporary files have names of their own, so that runs at the same time do not meet; the
// output is replaced as a regular file only (through a link: the file it leads to).
bool encode(const StereoBuffer& mastered, const std::string& output) {
    std::string error;
    const std::string target = Velmora::replacementTarget(output, error);
    if (target.empty()) {
        std::printf("Cannot write %s: %s\n", output.c_str(), error.c_str());
        return false;
    }
    Velmora::TemporaryFile wave("", "-synth.wav");
    Velmora::TemporaryFile partial(target, ".part");
    if (!wave.close(false) || !partial.close(false)) {
        std::printf("Cannot make temporary files for %s: %s%s\n", output.c_str(), wave.error().c_str(),
                    partial.error().c_str());
        return false;
    }
    std::string log;
    int status = -1;
    if (writeWave(wave.path(), toPcm16(mastered, Song::seed)))
        status = runCapture({"lame", "--quiet", "-V", "2", "-q", "2", "-m", "j", "--noreplaygain",
                             wave.path(), partial.path()},
                            log);
    if (status != 0) {
        std::printf("Encoding %s failed (lame exit status %d) %s\n", output.c_str(), status, log.c_str());
        return false;
    }
    if (!Velmora::moveIntoPlace(partial.path(), target, error)) {
        std::printf("Cannot write %s: %s\n", output.c_str(), error.c_str());
        return false;
    }
    partial.keep(); // moved into place
    return true;
}

bool measure(const std::string& output, EncodedReport& report) {
    std::string log;
    const int status = runCapture({"ffmpeg", "-nostats", "-hide_banner", "-i", output, "-af",
                                   "ebur128=peak=true,astats", "-f", "null", "-"},
                                  log);
    report = EncodedReport::parse(log);
    if (status != 0 || !report.complete) {
        std::printf("Measuring %s with ffmpeg failed (exit status %d)\n", output.c_str(), status);
        return false;
    }
    std::printf("%s: %s, integrated %.1f LUFS, true peak %.1f dBTP, DC offset %.6f (ffmpeg)\n",
                output.c_str(), clock(report.seconds).c_str(), report.integratedLufs, report.truePeakDb,
                report.dcOffset);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    Velmora::prepareProcess();
    const std::string output = argc > 1 ? argv[1] : "data/sydaembient.mp3";
    const Song song;
    printForm(song);

    std::printf("Rendering...\n");
    std::fflush(stdout);
    const StereoBuffer mix = song.render(0, song.bars());
    double ceilingDb = firstCeilingDb;
    for (int attempt = 1;; ++attempt) {
        StereoBuffer mastered = mix;
        const MasterFigures figures = master(mastered, targetLufs, ceilingDb);
        std::printf("Mastered: gain %+.2f dB, %.2f LUFS, true peak %.2f dBTP (own meter, ceiling %.1f dB)\n",
                    figures.gainDb, figures.loudness, figures.truePeakDb, ceilingDb);
        std::printf("Encoding %s (lame -V 2)\n", output.c_str());
        std::fflush(stdout);
        EncodedReport report;
        if (!encode(mastered, output) || !measure(output, report))
            return 1;
        if (report.withinLimits())
            return 0;
        // The encoder's overshoot is what pushes the true peak up: lower the ceiling by the excess
        // and a margin, and master again. Anything else out of range is a fault to report.
        if (attempt == 3 || report.truePeakDb <= -1.0 ||
            !(report.integratedLufs >= -16.0 && report.integratedLufs <= -12.0)) {
            std::printf("Out of range: wanted -16..-12 LUFS, true peak <= -1 dBTP, |DC| < 0.001\n");
            return 1;
        }
        ceilingDb -= report.truePeakDb + 1.0 + 0.3;
    }
}
