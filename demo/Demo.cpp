#include "demo/Demo.h"

#include "engine/Logger.h"

namespace Demo {

Demo::Demo() : scene(nullptr) {
    Velmora::Logger::instance().debug("Hello Demo::Demo!");
    // Until the content lands the scene is the empty base scene: it draws nothing.
    scene = new Velmora::Scene();
}

Demo::~Demo() {
    if (scene != nullptr) {
        delete scene;
    }
    scene = nullptr;
}

void Demo::update(double dt) { scene->update(dt); }

void Demo::draw() { scene->draw(); }

} // namespace Demo
