#include "player/Player.h"

#include "engine/FramebufferStack.h"
#include "engine/Gpu.h"
#include "engine/VertexArray.h"

#include <algorithm>

namespace Velmora {

Player::Player(const PlayerDesc& desc) : size{desc.width, desc.height}, showClock(Music::instance()) {
    windowInstance = &Window::instance();
    windowInstance->setHidden(desc.hidden);
    windowInstance->open(desc.width, desc.height, desc.title, desc.fullscreen, desc.vsync);
    Window::initGlew();
    // The one vertex-array object, bound for the rest of the run.
    VertexArray::instance().bind();
    // The sync device is created here, before any track is asked for; its row is the clock's.
    syncDevice = &SyncDevice::instance();
    syncDevice->setRowSource([this] { return showClock.row(); });
    musicInstance = &Music::instance();
}

Player::~Player() {
    end.reset();
    show.reset();
    setTarget(nullptr);
    // The process-wide instances outlive the player; nothing must call back into it.
    syncDevice->setRowSource(nullptr);
}

void Player::openMusic(bool offline) {
    if (offline) {
        musicInstance->openOffline(musicPath, musicBpm);
    } else {
        musicInstance->open(musicPath, musicBpm);
    }
}

void Player::buildShow() {
    ::Demo::ShowInputs inputs;
    inputs.width = size[0];
    inputs.height = size[1];
    inputs.sync = syncDevice;
    inputs.spectrum = [this](float* bins) { return showClock.spectrum(bins); };
    show = std::make_unique<::Demo::Demo>(inputs);
    // The track "e" ends the presentation when it goes below 0.
    end.emplace(*syncDevice, "e");
}

bool Player::endReached() const {
    // Below 0, or not a number.
    return end && !(end->value() >= 0.0);
}

void Player::drawFrame(double dt) {
    Gpu::clearFrame();
    show->update(dt);
    show->draw();
}

double Player::rowsPerSecond() const {
    // Without the music: the show's tempo of 24 rows a second.
    return musicInstance->rowsPerSecond() > 0.0 ? musicInstance->rowsPerSecond() : 24.0;
}

void Player::drawWarmFrames(double row, const WarmFrames& plan) {
    const double rate = rowsPerSecond();
    const double targetSeconds = row / rate;
    show->reset();
    bindTarget();
    for (int i = 0; i < plan.frames; ++i) {
        const double seconds = std::max(0.0, targetSeconds - (plan.frames - 1 - i) * plan.step);
        const double frameRow = (i == plan.frames - 1) ? std::max(0.0, row) : seconds * rate;
        showClock.hold(frameRow, seconds);
        drawFrame(plan.step);
    }
}

void Player::drawShowFrame(int64_t index, int fps) {
    const double step = 1.0 / fps;
    musicInstance->setPosition(frameSeconds(index, fps));
    showClock.follow();
    bindOffscreen();
    show->setClocks(clockReplay.at(index + showLeadIn, step));
    drawFrame(step);
}

void Player::resetShow() {
    show->reset();
    showClock.follow();
}

void Player::setTarget(const OffscreenTarget* target) {
    offscreen = target;
    // The frame's last pass pops to the base target: the off-screen one, or the window.
    if (target != nullptr) {
        FramebufferStack::instance().setBaseTarget(target->id(), target->width(), target->height());
    } else {
        FramebufferStack::instance().setBaseTarget(0, 0, 0);
    }
}

void Player::bindTarget() {
    FramebufferStack::instance().bindBase();
}

void Player::bindOffscreen() {
    // The window stays as the frame before left it, as the show has always drawn into it.
    if (offscreen != nullptr) {
        bindTarget();
    }
}

std::vector<uint8_t> Player::readTarget() {
    return FramebufferStack::instance().readBase();
}

void Player::post(std::function<void()> command) {
    std::lock_guard<std::mutex> guard(queueLock);
    queue.push_back(std::move(command));
}

void Player::applyCommands() {
    std::vector<std::function<void()>> pending;
    {
        std::lock_guard<std::mutex> guard(queueLock);
        pending.swap(queue);
    }
    for (std::function<void()>& command : pending) {
        command();
    }
}

void Player::drawChoice(const FrameLoop& loop, FrameInfo& info) {
    switch (loop.clock) {
    case ClockPolicy::Live:
        info.row = musicInstance->row();
        if (info.choice == FrameChoice::WarmUp) {
            drawWarmFrames(info.row, loop.warm);
        } else if (info.choice == FrameChoice::Draw) {
            showClock.follow();
            bindOffscreen();
            drawFrame(info.dt);
        }
        return;
    case ClockPolicy::Offline: {
        if (info.choice == FrameChoice::Nothing) {
            return;
        }
        // The show's global frame: its time and clocks follow from its index alone.
        const int64_t index = loop.firstFrame + info.index;
        if (info.choice == FrameChoice::WarmUp) {
            resetShow();
            for (int64_t g = std::max(index - loop.preroll, -showLeadIn); g < index; ++g) {
                drawShowFrame(g, loop.fps);
            }
        }
        drawShowFrame(index, loop.fps);
        return;
    }
    case ClockPolicy::Held:
        if (info.choice == FrameChoice::WarmUp) {
            drawWarmFrames(info.row, loop.warm);
        } else if (info.choice == FrameChoice::Draw) {
            showClock.hold(info.row, info.seconds);
            bindOffscreen();
            drawFrame(info.dt);
        }
        return;
    }
}

int Player::run(const FrameLoop& loop) {
    if (loop.start) {
        const int status = loop.start();
        if (status != 0) {
            return status;
        }
    }
    // The key handler is the loop's while it runs.
    struct KeyHandler {
        Window& window;
        bool set;
        ~KeyHandler() {
            if (set) {
                window.setKeyHandler(nullptr);
            }
        }
    } keyHandler{*windowInstance, static_cast<bool>(loop.key)};
    if (loop.key) {
        windowInstance->setKeyHandler(loop.key);
    }
    std::unique_ptr<PixelPackBuffer> readback;
    if (loop.output == FrameOutput::ReadBack) {
        readback = std::make_unique<PixelPackBuffer>(offscreen != nullptr ? offscreen->width() : size[0],
                                                     offscreen != nullptr ? offscreen->height() : size[1],
                                                     loop.readBackDepth);
    }
    const FrameChoice defaultChoice =
        loop.clock == ClockPolicy::Held && loop.warm.frames > 0 ? FrameChoice::WarmUp : FrameChoice::Draw;
    double previous = Window::time();
    for (int64_t k = 0; loop.frames < 0 || k < loop.frames; ++k) {
        if (loop.stopOnClose && windowInstance->shouldClose()) {
            break;
        }
        applyCommands();
        FrameInfo info;
        info.index = k;
        if (loop.clock == ClockPolicy::Live) {
            const double now = Window::time();
            info.seconds = now;
            info.dt = now - previous;
            previous = now;
        } else if (loop.clock == ClockPolicy::Offline) {
            info.seconds = loop.frameTime(k);
            info.row = info.seconds * rowsPerSecond();
            info.dt = loop.step;
        } else {
            info.row = loop.row(k);
            info.seconds = info.row / rowsPerSecond();
            info.dt = loop.step;
        }
        info.choice = loop.frame ? loop.frame(info) : defaultChoice;
        if (info.choice == FrameChoice::Stop) {
            break;
        }
        drawChoice(loop, info);
        if (loop.drawn) {
            loop.drawn(info);
        }
        switch (loop.output) {
        case FrameOutput::Present:
            FramebufferStack::instance().copyBaseToWindow();
            windowInstance->swapBuffers();
            break;
        case FrameOutput::ReadBack:
            if (info.choice != FrameChoice::Nothing) {
                readback->start(offscreen != nullptr ? offscreen->id() : 0, k);
                if (readback->full()) {
                    readback->finishOldest(loop.picture);
                }
            }
            break;
        case FrameOutput::Finish:
            Gpu::finish();
            break;
        }
        if (loop.events) {
            if (loop.idle && loop.idle()) {
                windowInstance->waitEvents(loop.idleWait);
            } else {
                windowInstance->pollEvents();
            }
        }
        if (loop.shown) {
            loop.shown(info);
        }
    }
    // Every frame read is handed over.
    while (readback && readback->pending() > 0) {
        readback->finishOldest(loop.picture);
    }
    return 0;
}

int Player::runShow() {
    FrameLoop show;
    show.clock = ClockPolicy::Live;
    // The end track "e" below 0 ends the presentation.
    show.frame = [this](const FrameInfo&) { return endReached() ? FrameChoice::Stop : FrameChoice::Draw; };
    return run(show);
}

} // namespace Velmora
