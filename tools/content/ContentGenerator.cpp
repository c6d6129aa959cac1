#include "tools/content/ContentGenerator.h"

#include "tools/content/DustCloud.h"
#include "tools/content/FetusModel.h"
#include "tools/content/HeartModel.h"
#include "tools/content/OutputFile.h"

#include <algorithm>

namespace Content {

namespace {

// Maps model space (anterior view: x right, y up, z toward the viewer) into the scene: turned half a
// turn about y so the model's front faces the default camera on -z, centred on its box, and scaled so
// the longest side is modelSpan.
struct Placement {
    Vec centre{0.0};
    double scale = 1.0;

    static Placement fit(const std::vector<SurfacePoint>& points) {
        Box box;
        for (const SurfacePoint& p : points) {
            box.include(p.position);
        }
        const Vec size = box.size();
        Placement placement;
        placement.centre = box.centre();
        placement.scale = modelSpan / std::max(size.x, std::max(size.y, size.z));
        return placement;
    }

    std::vector<CloudPoint> apply(const std::vector<SurfacePoint>& points) const {
        std::vector<CloudPoint> out;
        out.reserve(points.size());
        for (const SurfacePoint& p : points) {
            const Vec q = (p.position - centre) * scale;
            CloudPoint c;
            c.position =
                glm::vec3(static_cast<float>(-q.x), static_cast<float>(q.y), static_cast<float>(-q.z));
            c.normal = glm::vec3(static_cast<float>(-p.normal.x), static_cast<float>(p.normal.y),
                                 static_cast<float>(-p.normal.z));
            c.hasNormal = true;
            out.push_back(c);
        }
        return out;
    }
};

} // namespace

GeneratedContent generateContent() {
    GeneratedContent content;
    content.sprite = makeSprite(spriteSize);

    const HeartPhases heart = makeHeart(heartPointCount, contentSeed ^ 0x1111);
    // Both phases share the relaxed placement, so the beat moves the points and nothing else.
    const Placement heartPlacement = Placement::fit(heart.relaxed);
    content.heartRelaxed = heartPlacement.apply(heart.relaxed);
    content.heartContracted = heartPlacement.apply(heart.contracted);

    const std::vector<SurfacePoint> fetus = makeFetus(fetusPointCount, contentSeed ^ 0x2222);
    content.fetus = Placement::fit(fetus).apply(fetus);

    DustSettings dust;
    dust.count = dustPointCount;
    for (const Vec& p : makeDust(dust, contentSeed ^ 0x3333)) {
        content.dust.emplace_back(static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z));
    }
    return content;
}

std::vector<std::string> writeContent(const std::string& dataDir) {
    const GeneratedContent content = generateContent();
    const std::string base = dataDir.empty() ? std::string(".") : dataDir;
    writePng(base + "/img/foo.png", content.sprite);
    writeWholeFile(base + "/raw/heart_1.bin", encodeBinaryCloud(content.heartRelaxed));
    writeWholeFile(base + "/raw/heart_2.bin", encodeBinaryCloud(content.heartContracted));
    writeWholeFile(base + "/raw/fetus_512.bin", encodeBinaryCloud(content.fetus));
    writeWholeFile(base + "/raw/jooh.txt", encodeTextCloud(content.dust));
    return {"img/foo.png", "raw/heart_1.bin", "raw/heart_2.bin", "raw/fetus_512.bin", "raw/jooh.txt"};
}

} // namespace Content
