// Verifies a finished video before it takes the place of anything: ffprobe reads the whole file
// and says which streams it holds and how long they are, and the capture compares that with the
// frames it wrote. A video cut short (a full disk, a crash while writing the index) fails here even
// when the encoder said nothing.
#pragma once

#include <cstdint>
#include <string>

namespace Velmora {

// What ffprobe found in a video file. Lengths are -1 where the container does not say.
struct VideoFacts {
    int videoStreams = 0;
    int audioStreams = 0;
    int64_t videoPackets = -1; // frames of the first video stream, counted packet by packet
    double videoSeconds = -1.0;
    double audioSeconds = -1.0;
    double fileSeconds = -1.0; // the container's own duration
};

// Parses ffprobe's output for
//   -count_packets -show_entries stream=codec_type,nb_read_packets,duration:format=duration
//   -of compact=p=0
// (one line per stream, "codec_type=video|duration=2.000000|nb_read_packets=20", then the
// container's "duration=2.000000"). Unknown values ("N/A") stay -1.
VideoFacts parseVideoProbe(const std::string& text);

// Runs ffprobe on `path` (given to it as a file, whatever its name looks like). False with
// ffprobe's own words ("moov atom not found") when it cannot read the file.
bool probeVideo(const std::string& ffprobe, const std::string& path, VideoFacts& facts, std::string& error);

// Why a video with these facts is not the whole capture of `frames` frames at `fps` frames per
// second (with its sound when `withAudio`), or empty when it is: one video stream of exactly that
// many frames, as long as they are within half a frame where the length is known, and a sound
// stream when one was given.
std::string videoProblem(const VideoFacts& facts, int64_t frames, int fps, bool withAudio);

// The name ffmpeg and ffprobe read as a plain file whatever it looks like: "-out.mp4" is not an
// option and "12:30.mp4" or "file:x.mp4" not a protocol ("file:" followed by the path).
std::string ffmpegFileUrl(const std::string& path);

} // namespace Velmora
