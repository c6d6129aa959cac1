#include "demo/Demo.h"

#include "base/Logger.h"
#include "demo/LogoScene.h"

namespace Demo {

Demo::Demo(const ShowInputs& inputs) : scene(nullptr) {
    Velmora::Logger::instance().debug("Hello Demo::Demo!");
    scene = new LogoScene(inputs);
}

Demo::~Demo() {
    if (scene != nullptr) {
        delete scene;
    }
    scene = nullptr;
}

void Demo::update(double dt) {
    scene->update(dt);
}

void Demo::draw() {
    scene->draw();
}

void Demo::reset() {
    scene->reset();
}

void Demo::setClocks(const Velmora::SceneClocks& clocks) {
    scene->setClocks(clocks);
}

std::vector<uint8_t> Demo::carriedState() {
    return scene->carriedState();
}

std::string Demo::restoreCarriedState(const std::vector<uint8_t>& bytes) {
    return scene->restoreCarriedState(bytes);
}

} // namespace Demo
