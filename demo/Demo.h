// The top-level demo: owns the one scene and forwards the frame loop's calls to it.
#pragma once

#include "engine/Demo.h"
#include "engine/Scene.h"

namespace Demo {

class Demo : public Velmora::Demo {
public:
    Demo();
    ~Demo();

    void update(double dt) override;
    void draw() override;

    Demo(const Demo&) = delete;
    Demo& operator=(const Demo&) = delete;

private:
    Velmora::Scene* scene;
};

} // namespace Demo
