// The top-level demo: owns the one scene and forwards the frame loop's calls to it.
#pragma once

#include "demo/ShowInputs.h"
#include "engine/DemoInterface.h"
#include "engine/Scene.h"

namespace Demo {

class Demo : public Velmora::Demo {
public:
    explicit Demo(const ShowInputs& inputs);
    ~Demo();

    void update(double dt) override;
    void draw() override;
    void reset() override;
    void setClocks(const Velmora::SceneClocks& clocks) override;
    std::vector<uint8_t> carriedState() override;
    std::string restoreCarriedState(const std::vector<uint8_t>& bytes) override;

    Demo(const Demo&) = delete;
    Demo& operator=(const Demo&) = delete;

private:
    Velmora::Scene* scene;
};

} // namespace Demo
