#include "edit/EditApi.h"

#include "audio/Music.h"
#include "capture/PngEncoder.h"
#include "edit/EditTitle.h"
#include "edit/TrackSource.h"
#include "edit/TrackStore.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <memory>
#include <set>

namespace Velmora {

using Json = nlohmann::json;

namespace {

// RGBA pixels shrunk by a whole factor, each pixel the mean of a factor x factor block (the
// blocks that would run past the right or bottom edge are left out).
std::vector<uint8_t> shrinkPixels(const std::vector<uint8_t>& rgba, int width, int height, int factor,
                                  int* outWidth, int* outHeight) {
    const int w = std::max(1, width / factor);
    const int h = std::max(1, height / factor);
    const int fx = std::min(factor, width);
    const int fy = std::min(factor, height);
    std::vector<uint8_t> out(static_cast<size_t>(w) * static_cast<size_t>(h) * 4);
    std::vector<uint32_t> sums(static_cast<size_t>(w) * 4);
    for (int y = 0; y < h; ++y) {
        std::fill(sums.begin(), sums.end(), 0u);
        for (int dy = 0; dy < fy; ++dy) {
            const uint8_t* row =
                rgba.data() + (static_cast<size_t>(y) * fy + dy) * static_cast<size_t>(width) * 4;
            for (int x = 0; x < w; ++x) {
                for (int dx = 0; dx < fx; ++dx) {
                    const uint8_t* p = row + (static_cast<size_t>(x) * fx + dx) * 4;
                    for (int c = 0; c < 4; ++c) {
                        sums[static_cast<size_t>(x) * 4 + c] += p[c];
                    }
                }
            }
        }
        const uint32_t count = static_cast<uint32_t>(fx * fy);
        uint8_t* target = out.data() + static_cast<size_t>(y) * static_cast<size_t>(w) * 4;
        for (size_t i = 0; i < sums.size(); ++i) {
            target[i] = static_cast<uint8_t>((sums[i] + count / 2) / count);
        }
    }
    *outWidth = w;
    *outHeight = h;
    return out;
}

} // namespace

namespace EditJson {

Json key(const TrackKey& key) {
    Json value = std::isfinite(key.value) ? Json(TrackSource::shortestFloatValue(key.value)) : Json(nullptr);
    const char* name = TrackSource::apiInterpolationName(key.interpolation);
    return Json{{"row", key.row},
                {"value", value},
                {"interpolation", name != nullptr ? Json(name) : Json(key.interpolation)}};
}

Json keys(const std::vector<TrackKey>& keys) {
    Json list = Json::array();
    for (const TrackKey& entry : keys) {
        list.push_back(key(entry));
    }
    return list;
}

Json errors(const std::vector<EditError>& errors) {
    Json list = Json::array();
    for (const EditError& error : errors) {
        Json item{{"file", error.file}, {"line", error.line}, {"message", error.message}};
        // "track" marks an error that stops the track's edits until it is fixed: its source's. A
        // broken compiled file does not (a save writes it whole again).
        if (!error.track.empty() && error.file == shownPath(TrackSource::sourcePath(error.track))) {
            item["track"] = error.track;
        }
        list.push_back(item);
    }
    return list;
}

bool parseKeys(const Json& list, std::vector<TrackKey>& keys, std::string& problem) {
    if (!list.is_array()) {
        problem = "\"keys\" must be an array";
        return false;
    }
    std::set<std::int32_t> rows;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const Json& item = list[i];
        const std::string where = "keys[" + std::to_string(i) + "]";
        if (!item.is_object()) {
            problem = where + " must be an object";
            return false;
        }
        const auto row = item.find("row");
        const auto value = item.find("value");
        const auto interpolation = item.find("interpolation");
        if (row == item.end() || !row->is_number()) {
            problem = where + ".row must be a number";
            return false;
        }
        const double rowNumber = row->get<double>();
        if (!(rowNumber >= 0.0 && rowNumber <= 2147483647.0) || std::floor(rowNumber) != rowNumber) {
            problem = where + ".row must be a whole number from 0 to 2147483647";
            return false;
        }
        if (value == item.end() || !value->is_number()) {
            problem = where + ".value must be a number";
            return false;
        }
        const double valueNumber = value->get<double>();
        // Anything that rounds to a finite float: the decimal GET gives for the largest float
        // (3.4028235e+38) is a little above FLT_MAX and must come back.
        if (!std::isfinite(valueNumber) || !(std::fabs(valueNumber) < 0x1.ffffffp+127)) {
            problem = where + ".value must be a finite number that fits a 32-bit float";
            return false;
        }
        if (interpolation == item.end() || !interpolation->is_string() ||
            !TrackSource::apiInterpolationCode(interpolation->get<std::string>())) {
            problem = where +
                      ".interpolation must be one of \"constant\", \"linear\", \"smoothstep\", \"quadratic\"";
            return false;
        }
        TrackKey key;
        key.row = static_cast<std::int32_t>(rowNumber);
        key.value = static_cast<float>(valueNumber);
        key.interpolation = *TrackSource::apiInterpolationCode(interpolation->get<std::string>());
        if (!rows.insert(key.row).second) {
            problem = where + ": row " + std::to_string(key.row) + " has two keys";
            return false;
        }
        keys.push_back(key);
    }
    std::sort(keys.begin(), keys.end(), [](const TrackKey& a, const TrackKey& b) { return a.row < b.row; });
    return true;
}

} // namespace EditJson

namespace {

Json trackJson(const std::string& name, const TrackStore::Snapshot& track) {
    return Json{{"name", name},
                {"revision", track.revision},
                {"description", track.description},
                {"keys", EditJson::keys(track.keys)}};
}

} // namespace

EditApi::EditApi(EditControl& control, TrackStore& tracks) : control(control), store(tracks) {}

EventHub& EditApi::events() {
    return control.events();
}

Reply EditApi::state() {
    return Reply::json(control.publishedState());
}

Reply EditApi::transport(const Json& body) {
    if (!body.is_object() || body.size() != 1) {
        return Reply::error(400,
                            "the body must be one of {\"play\": BOOL}, {\"seek\": ROW}, {\"loop\": {...}}, "
                            "{\"loop\": null}");
    }
    const Json::const_iterator command = body.begin();
    const std::string key = command.key();
    const Json& value = command.value();
    EditControl& session = control;
    if (key == "play") {
        if (!value.is_boolean()) {
            return Reply::error(400, "play: must be true or false");
        }
        const bool play = value.get<bool>();
        return control.onDrawingThread([&session, play] {
            session.setPlaying(play);
            return Reply::json(session.stateJson());
        });
    }
    if (key == "seek") {
        if (!value.is_number() || !std::isfinite(value.get<double>())) {
            return Reply::error(400, "seek: must be a finite number of rows");
        }
        const double row = value.get<double>();
        return control.onDrawingThread([&session, row] {
            session.seekRow(row);
            return Reply::json(session.stateJson());
        });
    }
    if (key == "loop") {
        if (value.is_null()) {
            return control.onDrawingThread([&session] {
                session.clearLoop();
                return Reply::json(session.stateJson());
            });
        }
        const auto from = value.is_object() ? value.find("from") : value.end();
        const auto to = value.is_object() ? value.find("to") : value.end();
        if (!value.is_object() || value.size() != 2 || from == value.end() || to == value.end() ||
            !from->is_number() || !to->is_number() || !std::isfinite(from->get<double>()) ||
            !std::isfinite(to->get<double>())) {
            return Reply::error(400, "loop: must be null or {\"from\": ROW, \"to\": ROW}");
        }
        const double start = from->get<double>();
        const double end = to->get<double>();
        return control.onDrawingThread([&session, start, end] {
            if (!(start < end)) {
                return Reply::error(400, "loop: \"to\" must be after \"from\"");
            }
            if (start < 0.0 || end > session.lengthRows()) {
                return Reply::error(400, "loop: both ends must be within 0 .. " +
                                             formatRow(session.lengthRows()) + " rows");
            }
            if (!session.setLoopRows(start, end)) {
                return Reply::error(400, "loop: the range is too short");
            }
            return Reply::json(session.stateJson());
        });
    }
    return Reply::error(400, "unknown transport command \"" + key + "\"");
}

Reply EditApi::tracks() {
    Json list = Json::array();
    for (const std::string& name : TrackSource::trackNames()) {
        list.push_back(trackJson(name, store.snapshot(name)));
    }
    return Reply::json(list);
}

Reply EditApi::track(const std::string& name) {
    if (!TrackSource::isTrackName(name)) {
        return Reply::error(404, "no track named \"" + name + "\"");
    }
    return Reply::json(trackJson(name, store.snapshot(name)));
}

Reply EditApi::putTrack(const std::string& name, const Json& body) {
    if (!TrackSource::isTrackName(name)) {
        return Reply::error(404, "no track named \"" + name + "\"");
    }
    if (!body.is_object() || !body.contains("revision") || !body.contains("keys")) {
        return Reply::error(400, "the body must be {\"revision\": N, \"keys\": [...]}");
    }
    const Json& revisionField = body["revision"];
    if (!revisionField.is_number_integer()) {
        return Reply::error(400, "\"revision\" must be a whole number");
    }
    const std::int64_t revision = revisionField.get<std::int64_t>();
    std::vector<TrackKey> keys;
    std::string problem;
    if (!EditJson::parseKeys(body["keys"], keys, problem)) {
        return Reply::error(400, problem);
    }
    EditControl& session = control;
    TrackStore& tracks = store;
    return control.onDrawingThread([&session, &tracks, name, revision, keys = std::move(keys)] {
        const TrackStore::EditResult result = tracks.edit(name, revision, keys);
        // Files found changed or broken on the way are announced first, so that the revision in a
        // 409 is the one they made.
        for (const TrackStore::Reload& reload : result.reloads) {
            session.trackReloaded(name, reload);
        }
        if (result.status == 200) {
            session.trackEdited(name);
            return Reply::json(Json{{"name", name}, {"revision", tracks.snapshot(name).revision}});
        }
        if (result.status == 409) {
            const std::int64_t current = tracks.snapshot(name).revision;
            Json body{{"error", result.message.empty() ? name + " was changed elsewhere" : result.message},
                      {"revision", current}};
            if (!result.file.empty()) {
                body["file"] = result.file;
                body["line"] = result.line;
            } else {
                body["error"] =
                    body["error"].get<std::string>() + " (revision " + std::to_string(current) + ")";
            }
            return Reply::json(body, 409);
        }
        return Reply::error(result.status, result.message);
    });
}

Reply EditApi::values(const std::string& name, double from, double to, double step) {
    if (!TrackSource::isTrackName(name)) {
        return Reply::error(404, "no track named \"" + name + "\"");
    }
    if (!(step > 0.0) || !(from <= to)) {
        return Reply::error(400, "values: need from <= to and step > 0");
    }
    const double count = std::floor((to - from) / step) + 1.0;
    if (!(count <= maxValues)) {
        return Reply::error(400, "values: at most " + std::to_string(maxValues) + " values at a time");
    }
    TrackData data;
    data.name = name;
    data.keys = store.snapshot(name).keys;
    Json list = Json::array();
    for (int i = 0; i < static_cast<int>(count); ++i) {
        const double value = valueAt(data, from + i * step);
        list.push_back(std::isfinite(value) ? Json(value) : Json(nullptr));
    }
    return Reply::json(Json{{"name", name}, {"from", from}, {"to", to}, {"step", step}, {"values", list}});
}

Reply EditApi::waveform(double rowsPerBucket) {
    const Music& music = control.music();
    const double rate = music.rowsPerSecond();
    const double length = music.length() * rate;
    if (!(rowsPerBucket > 0.0)) {
        return Reply::error(400, "rowsPerBucket must be more than 0");
    }
    const double buckets = std::ceil(length / rowsPerBucket);
    if (!(buckets <= maxBuckets)) {
        return Reply::error(400,
                            "rowsPerBucket is too small: at most " + std::to_string(maxBuckets) + " buckets");
    }
    const double framesPerRow = music.sampleRate() / rate;
    Json lows = Json::array();
    Json highs = Json::array();
    for (int b = 0; b < static_cast<int>(buckets); ++b) {
        const std::int64_t first = std::llround(b * rowsPerBucket * framesPerRow);
        const std::int64_t next = std::llround((b + 1) * rowsPerBucket * framesPerRow);
        float low = 0.0f;
        float high = 0.0f;
        music.waveform(first, std::max<std::int64_t>(next - first, 1), 1, &low, &high);
        lows.push_back(TrackSource::shortestFloatValue(low));
        highs.push_back(TrackSource::shortestFloatValue(high));
    }
    return Reply::json(Json{{"rowsPerBucket", rowsPerBucket}, {"min", lows}, {"max", highs}});
}

Reply EditApi::spectrum(double row) {
    const Music& music = control.music();
    float bins[512];
    music.spectrumAt(row / music.rowsPerSecond(), bins);
    Json list = Json::array();
    for (float bin : bins) {
        list.push_back(bin);
    }
    return Reply::json(Json{{"row", row}, {"values", list}});
}

Reply EditApi::frame(int maxWidth) {
    std::vector<std::uint8_t> pixels;
    int width = 0;
    int height = 0;
    Reply read = control.lastFrame(pixels, width, height);
    if (read.status != 200) {
        return read;
    }
    // Shrunk and compressed here, on the server's thread, not the drawing thread.
    if (maxWidth > 0 && width > maxWidth) {
        const int factor = (width + maxWidth - 1) / maxWidth;
        pixels = shrinkPixels(pixels, width, height, factor, &width, &height);
    }
    PngEncoder encoder;
    const PngEncoder::Bytes png = encoder.encode(pixels.data(), width, height);
    Reply reply;
    reply.body.assign(reinterpret_cast<const char*>(png.data), png.size);
    reply.contentType = "image/png";
    return reply;
}

} // namespace Velmora
