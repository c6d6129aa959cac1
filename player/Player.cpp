#include "player/Player.h"

#include "engine/FramebufferStack.h"
#include "engine/VertexArray.h"

// GLEW must come before GLFW so that GLFW does not pull in the system GL header first.
#include <GLFW/glfw3.h>

#include <algorithm>
#include <cstring>

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
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    show->update(dt);
    show->draw();
}

void Player::drawWarmFrames(double row, const WarmFrames& plan) {
    const double rate = musicInstance->rowsPerSecond() > 0.0 ? musicInstance->rowsPerSecond() : 24.0;
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
    bindTarget();
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
    if (offscreen != nullptr) {
        glBindFramebuffer(GL_FRAMEBUFFER, offscreen->id());
        glViewport(0, 0, offscreen->width(), offscreen->height());
    } else {
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glViewport(0, 0, Window::width(), Window::height());
    }
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

int Player::runShow() {
    double previous = glfwGetTime();
    if (windowInstance->shouldClose()) {
        return 0;
    }
    for (;;) {
        if (endReached()) {
            break;
        }
        const double now = glfwGetTime();
        drawFrame(now - previous);
        previous = now;
        windowInstance->swapBuffers();
        windowInstance->pollEvents();
        if (windowInstance->shouldClose()) {
            break;
        }
    }
    return 0;
}

} // namespace Velmora
