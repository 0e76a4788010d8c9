// CanvasTable: the rules of canvases and post chains that need no GL, so
// they are worked out (and tested) without a display: which sizes and
// formats a canvas may have, the ids and how a reload of the production
// finds its canvases again, the size a canvas of size 0 has in a view of a
// given size, and the sizes a chain of post passes runs at.
#pragma once

#include <string>
#include <vector>

enum class CanvasFormat { Rgba8, Rgba16f };

struct CanvasSize
{
    int width = 0, height = 0;
    bool operator==(const CanvasSize &o) const { return width == o.width && height == o.height; }
};

class CanvasTable
{
public:
    struct Canvas
    {
        int width = 0, height = 0;   // as asked; 0 follows the view's side
        CanvasFormat format = CanvasFormat::Rgba8;
    };

    // A new canvas of `width` x `height` (whole pixels; 0 is the view's
    // side) in `format` ("rgba8" or "rgba16f"); each side at most `limit`.
    // Returns its id, or 0 with `why`. While a load of the production runs,
    // the n-th canvas it asks for is the n-th one the last load asked for
    // (if not freed since), given the new size and format: a reload keeps
    // its canvases and their pictures.
    int create(double width, double height, const std::string &format, int limit, std::string &why);
    // False for an id that is not a canvas.
    bool free(int id);
    const Canvas *find(int id) const;
    size_t count() const { return canvases.size(); }

    // Around one run of the production file (the start and every reload).
    void beginLoad();
    void endLoad();

    // The size of a canvas in a view of `view`: each side 0 is the view's.
    static CanvasSize SizeIn(const Canvas &canvas, CanvasSize view);

    // The most post passes in a chain.
    static const int kMaxPasses = 16;
    // "" when a chain of `count` passes may run, else why not.
    static std::string CheckChainLength(int count);
    // "" when `scale` is a pass scale (above 0, at most 1), else why not.
    static std::string CheckPassScale(double scale);
    // The size each pass of a chain runs at, in a view of `view`, from
    // their scales: each side scaled and rounded, at least 1 pixel.
    static std::vector<CanvasSize> PassSizes(const std::vector<float> &scales, CanvasSize view);

private:
    struct Entry
    {
        int id;
        Canvas canvas;
    };
    std::vector<Entry> canvases;   // in id order
    int nextId = 1;
    bool loading = false;
    std::vector<int> lastLoad;   // the ids the last load asked for, in order
    std::vector<int> thisLoad;
};
