// CanvasTable: canvas ids, sizes and formats, and the post chain's sizes.
#include "CanvasTable.h"

#include <algorithm>
#include <cmath>

namespace {

// `value` as a canvas side: a whole number from 0 to `limit`.
bool Side(double value, int limit, int &side, std::string &why)
{
    if (std::isnan(value) || value < 0 || value != std::floor(value)) {
        why = "a side is a whole number of pixels, 0 (the view's) or more";
        return false;
    }
    if (value > limit) {
        why = "a side is at most " + std::to_string(limit) + " pixels here";
        return false;
    }
    side = static_cast<int>(value);
    return true;
}

} // namespace

int CanvasTable::create(double width, double height, const std::string &format, int limit, std::string &why)
{
    Canvas canvas;
    if (!Side(width, limit, canvas.width, why) || !Side(height, limit, canvas.height, why)) {
        why = "newCanvas: " + why;
        return 0;
    }
    if (format == "rgba16f")
        canvas.format = CanvasFormat::Rgba16f;
    else if (format != "rgba8") {
        why = "newCanvas: unknown format \"" + format + "\" (\"rgba8\" or \"rgba16f\")";
        return 0;
    }
    if (loading && thisLoad.size() < lastLoad.size()) {
        const int kept = lastLoad[thisLoad.size()];
        const auto found = std::find_if(canvases.begin(), canvases.end(), [&](const Entry &e) { return e.id == kept; });
        if (found != canvases.end() &&
            std::find(thisLoad.begin(), thisLoad.end(), kept) == thisLoad.end()) {
            found->canvas = canvas;
            thisLoad.push_back(kept);
            return kept;
        }
    }
    canvases.push_back(Entry{nextId, canvas});
    if (loading)
        thisLoad.push_back(nextId);
    return nextId++;
}

bool CanvasTable::free(int id)
{
    const auto found = std::find_if(canvases.begin(), canvases.end(), [&](const Entry &e) { return e.id == id; });
    if (found == canvases.end())
        return false;
    canvases.erase(found);
    return true;
}

const CanvasTable::Canvas *CanvasTable::find(int id) const
{
    const auto found = std::find_if(canvases.begin(), canvases.end(), [&](const Entry &e) { return e.id == id; });
    return found == canvases.end() ? nullptr : &found->canvas;
}

void CanvasTable::beginLoad()
{
    loading = true;
    thisLoad.clear();
}

void CanvasTable::endLoad()
{
    loading = false;
    // A load that stopped early (an error) leaves the rest for the next one.
    for (size_t n = thisLoad.size(); n < lastLoad.size(); ++n)
        if (std::find(thisLoad.begin(), thisLoad.end(), lastLoad[n]) == thisLoad.end())
            thisLoad.push_back(lastLoad[n]);
    lastLoad.swap(thisLoad);
    thisLoad.clear();
}

CanvasSize CanvasTable::SizeIn(const Canvas &canvas, CanvasSize view)
{
    return CanvasSize{canvas.width ? canvas.width : view.width, canvas.height ? canvas.height : view.height};
}

std::string CanvasTable::CheckChainLength(int count)
{
    if (count <= kMaxPasses)
        return std::string();
    return "setPostShader: at most " + std::to_string(kMaxPasses) + " passes in a chain (" + std::to_string(count) +
           " given)";
}

std::string CanvasTable::CheckPassScale(double scale)
{
    if (scale > 0.0 && scale <= 1.0)
        return std::string();
    return "setPassScale: the scale is above 0 and at most 1 (a fraction of the view's size)";
}

std::vector<CanvasSize> CanvasTable::PassSizes(const std::vector<float> &scales, CanvasSize view)
{
    std::vector<CanvasSize> sizes;
    for (const float scale : scales) {
        const auto side = [&](int full) { return std::max(1, static_cast<int>(std::lround(full * double(scale)))); };
        sizes.push_back(CanvasSize{side(view.width), side(view.height)});
    }
    return sizes;
}
