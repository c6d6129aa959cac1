// The edit server's API: requests checked and turned into work for the session, answers written
// as JSON. Values that cross in either direction are checked here (rows, values, interpolations,
// transport commands), so that nothing malformed reaches the show.
//
// It implements the service the HTTP server calls, on the server's threads: it reads the
// published snapshots, or hands work to the drawing thread through its EditControl and answers
// with what that work returns. It does not speak HTTP and touches neither GL nor files.
#pragma once

#include "edit/EditServer.h"
#include "edit/HotReload.h"
#include "edit/TrackStore.h"
#include "sync/TrackData.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace Velmora {

class Music;

// What the API needs of the running session.
class EditControl {
public:
    virtual ~EditControl() = default;

    // Server threads: runs `work` on the drawing thread between frames and returns its reply, or
    // 503 when the show does not answer in time.
    virtual Reply onDrawingThread(std::function<Reply()> work) = 0;
    // Server threads: the state as last published.
    virtual nlohmann::json publishedState() const = 0;
    // Server threads: the music, whose samples do not change while the session runs.
    virtual const Music& music() const = 0;
    virtual EventHub& events() = 0;
    // Server threads: the last frame drawn as RGBA bytes, top row first; a reply other than 200
    // when the show does not answer.
    virtual Reply lastFrame(std::vector<std::uint8_t>& pixels, int& width, int& height) = 0;

    // Drawing thread, inside work handed to onDrawingThread.
    virtual void setPlaying(bool play) = 0;
    virtual void seekRow(double row) = 0;
    virtual bool setLoopRows(double from, double to) = 0;
    virtual void clearLoop() = 0;
    virtual double lengthRows() const = 0;
    virtual nlohmann::json stateJson() const = 0;
    // The track was saved through the API with new keys.
    virtual void trackEdited(const std::string& name) = 0;
    // A track's file was reloaded on the way of an edit (it had changed on disk).
    virtual void trackReloaded(const std::string& name, const TrackStore::Reload& reload) = 0;
};

namespace EditJson {

nlohmann::json key(const TrackKey& key);
nlohmann::json keys(const std::vector<TrackKey>& keys);
nlohmann::json errors(const std::vector<EditError>& errors);

// The keys of a PUT body, checked: whole rows 0 .. 2^31-1 once each, finite 32-bit values, known
// interpolations. Sorted by row. False with the problem otherwise.
bool parseKeys(const nlohmann::json& list, std::vector<TrackKey>& keys, std::string& problem);

} // namespace EditJson

class EditApi final : public EditService {
public:
    static constexpr int maxValues = 100000;
    static constexpr int maxBuckets = 100000;

    EditApi(EditControl& control, TrackStore& tracks);

    Reply state() override;
    Reply transport(const nlohmann::json& body) override;
    Reply tracks() override;
    Reply track(const std::string& name) override;
    Reply putTrack(const std::string& name, const nlohmann::json& body) override;
    Reply values(const std::string& name, double from, double to, double step) override;
    Reply waveform(double rowsPerBucket) override;
    Reply spectrum(double row) override;
    Reply frame(int maxWidth) override;
    EventHub& events() override;

private:
    EditControl& control;
    TrackStore& store;
};

} // namespace Velmora
