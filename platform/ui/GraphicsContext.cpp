#include "platform/ui/GraphicsContext.h"

#include <algorithm>
#include <cmath>

#include "platform/ui/Image.h"

namespace platform {

namespace {

struct Clip {
    AffineTransform inverse;  // pixels to the clip's user space
    Rect rect;
    double radius = 0;
};

bool insideRounded(const Rect& r, double radius, Point u) {
    if (!(u.x >= r.minX() && u.x < r.maxX() && u.y >= r.minY() && u.y < r.maxY())) return false;
    if (radius <= 0) return true;
    radius = std::min({radius, r.width() / 2, r.height() / 2});
    const double cx = std::clamp(u.x, r.minX() + radius, r.maxX() - radius);
    const double cy = std::clamp(u.y, r.minY() + radius, r.maxY() - radius);
    const double dx = u.x - cx, dy = u.y - cy;
    return dx * dx + dy * dy <= radius * radius;
}

double unit(double v) {
    return std::isnan(v) ? 0 : std::clamp(v, 0.0, 1.0);
}

// Source-over in straight alpha; colour components and alpha 0 to 1.
void blend(uint8_t* d, double r, double g, double b, double a) {
    if (a <= 0) return;
    const double da = d[3] / 255.0;
    const double oa = a + da * (1 - a);
    const double keep = da * (1 - a);
    const double src[3] = {r, g, b};
    for (int i = 0; i < 3; ++i)
        d[i] = uint8_t(std::lround((src[i] * a + d[i] / 255.0 * keep) / oa * 255));
    d[3] = uint8_t(std::lround(oa * 255));
}

}  // namespace

struct GraphicsContext::State {
    AffineTransform transform;
    AffineTransform inverse;
    std::vector<Clip> clips;
    Box clipBox;
    double alpha = 1;
};

struct GraphicsContext::Layer {
    std::unique_ptr<Image> image;
    double alpha = 1;
    Box dirty{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
    size_t depth = 0;  // states_ size to return to
};

GraphicsContext::GraphicsContext(Image& image) : base_(image) {
    State s;
    s.transform = AffineTransform::scale(image.scale(), image.scale());
    s.inverse = s.transform.inverted();
    s.clipBox = {0, 0, image.width(), image.height()};
    states_.push_back(std::move(s));
}

GraphicsContext::~GraphicsContext() = default;

void GraphicsContext::saveState() {
    states_.push_back(states_.back());
}

void GraphicsContext::restoreState() {
    const size_t floor = layers_.empty() ? 1 : layers_.back()->depth + 1;
    if (states_.size() > floor) states_.pop_back();
}

const AffineTransform& GraphicsContext::currentTransform() const {
    return states_.back().transform;
}

void GraphicsContext::concatTransform(const AffineTransform& transform) {
    State& s = states_.back();
    s.transform = transform.concat(s.transform);
    s.inverse = s.transform.inverted();
}

double GraphicsContext::alpha() const {
    return states_.back().alpha;
}

void GraphicsContext::setAlpha(double alpha) {
    states_.back().alpha = unit(alpha);
}

GraphicsContext::Box GraphicsContext::deviceBox(const Rect& rect) const {
    const AffineTransform& t = states_.back().transform;
    const Point corners[4] = {
        t.apply({rect.minX(), rect.minY()}), t.apply({rect.maxX(), rect.minY()}),
        t.apply({rect.minX(), rect.maxY()}), t.apply({rect.maxX(), rect.maxY()})};
    double minX = corners[0].x, maxX = minX, minY = corners[0].y, maxY = minY;
    for (const Point& p : corners) {
        minX = std::min(minX, p.x);
        maxX = std::max(maxX, p.x);
        minY = std::min(minY, p.y);
        maxY = std::max(maxY, p.y);
    }
    const Box& clip = states_.back().clipBox;
    auto edge = [](double v, int lo, int hi) {
        if (std::isnan(v)) return lo;
        return int(std::clamp(v, double(lo), double(hi)));
    };
    return {edge(std::floor(minX), clip.x0, clip.x1), edge(std::floor(minY), clip.y0, clip.y1),
            edge(std::ceil(maxX), clip.x0, clip.x1), edge(std::ceil(maxY), clip.y0, clip.y1)};
}

bool GraphicsContext::insideClips(double px, double py) const {
    for (const Clip& c : states_.back().clips)
        if (!insideRounded(c.rect, c.radius, c.inverse.apply({px, py}))) return false;
    return true;
}

void GraphicsContext::clipToRect(const Rect& rect, double cornerRadius) {
    const Rect r = rect.standardized();
    Box box = deviceBox(r);
    State& s = states_.back();
    if (box.empty()) box = {s.clipBox.x0, s.clipBox.y0, s.clipBox.x0, s.clipBox.y0};
    s.clipBox = box;
    s.clips.push_back({s.inverse, r, cornerRadius});
}

void GraphicsContext::markDirty(const Box& box) {
    if (layers_.empty()) return;
    Box& d = layers_.back()->dirty;
    d = {std::min(d.x0, box.x0), std::min(d.y0, box.y0), std::max(d.x1, box.x1),
         std::max(d.y1, box.y1)};
}

template <class Paint>
void GraphicsContext::paintShape(const Rect& rect, double cornerRadius, double innerInset,
                                 Paint paint) {
    const Rect r = rect.standardized();
    if (r.isEmpty()) return;
    const Box box = deviceBox(r);
    if (box.empty()) return;
    const Rect inner = r.insetBy(innerInset, innerInset);
    const double innerRadius = std::max(0.0, cornerRadius - innerInset);
    Image& target = layers_.empty() ? base_ : *layers_.back()->image;
    uint8_t* pixels = target.mutableData();
    const AffineTransform& inverse = states_.back().inverse;
    for (int y = box.y0; y < box.y1; ++y) {
        for (int x = box.x0; x < box.x1; ++x) {
            const double px = x + 0.5, py = y + 0.5;
            const Point u = inverse.apply({px, py});
            if (!insideRounded(r, cornerRadius, u)) continue;
            if (innerInset > 0 && insideRounded(inner, innerRadius, u)) continue;
            if (!insideClips(px, py)) continue;
            paint(pixels + (size_t(y) * size_t(target.width()) + size_t(x)) * 4, u);
        }
    }
    markDirty(box);
}

void GraphicsContext::fillRect(const Rect& rect, const Color& color, double cornerRadius) {
    const double a = unit(color.alpha) * alpha();
    if (a <= 0) return;
    const double r = unit(color.red), g = unit(color.green), b = unit(color.blue);
    paintShape(rect, cornerRadius, 0, [&](uint8_t* d, Point) { blend(d, r, g, b, a); });
}

void GraphicsContext::strokeBorder(const Rect& rect, double width, const Color& color,
                                   double cornerRadius) {
    const double a = unit(color.alpha) * alpha();
    if (a <= 0 || !(width > 0)) return;
    const double r = unit(color.red), g = unit(color.green), b = unit(color.blue);
    paintShape(rect, cornerRadius, width, [&](uint8_t* d, Point) { blend(d, r, g, b, a); });
}

void GraphicsContext::drawImage(const Image& image, const Rect& rect) {
    const Rect r = rect.standardized();
    if (image.isEmpty() || r.isEmpty() || alpha() <= 0) return;
    // Axis-aligned drawing at another size resamples once, so that each pixel then maps
    // to one source pixel.
    const Image* source = &image;
    Image resampled;
    const AffineTransform& t = currentTransform();
    if (t.b == 0 && t.c == 0) {
        const long w = std::lround(std::abs(t.a) * r.width());
        const long h = std::lround(std::abs(t.d) * r.height());
        if (w > 0 && h > 0 && w * h <= Image::kMaxPixels &&
            (w != image.width() || h != image.height())) {
            resampled = image.scaled(int(w), int(h));
            source = &resampled;
        }
    }
    const int sw = source->width(), sh = source->height();
    const uint8_t* src = source->rgba().data();
    const double a = alpha();
    paintShape(r, 0, 0, [&](uint8_t* d, Point u) {
        const int sx = std::clamp(int(std::floor((u.x - r.minX()) / r.width() * sw)), 0, sw - 1);
        const int sy = std::clamp(int(std::floor((u.y - r.minY()) / r.height() * sh)), 0, sh - 1);
        const uint8_t* p = src + (size_t(sy) * size_t(sw) + size_t(sx)) * 4;
        blend(d, p[0] / 255.0, p[1] / 255.0, p[2] / 255.0, p[3] / 255.0 * a);
    });
}

void GraphicsContext::beginTransparencyLayer() {
    auto layer = std::make_unique<Layer>();
    layer->image = std::make_unique<Image>(base_.width(), base_.height(), base_.scale());
    layer->alpha = alpha();
    saveState();
    layer->depth = states_.size() - 1;
    states_.back().alpha = 1;
    layers_.push_back(std::move(layer));
}

void GraphicsContext::endTransparencyLayer() {
    if (layers_.empty()) return;
    std::unique_ptr<Layer> layer = std::move(layers_.back());
    layers_.pop_back();
    states_.resize(layer->depth);
    const Box& d = layer->dirty;
    if (d.empty() || layer->alpha <= 0) return;
    Image& target = layers_.empty() ? base_ : *layers_.back()->image;
    uint8_t* out = target.mutableData();
    const uint8_t* in = layer->image->rgba().data();
    for (int y = d.y0; y < d.y1; ++y) {
        for (int x = d.x0; x < d.x1; ++x) {
            const size_t at = (size_t(y) * size_t(target.width()) + size_t(x)) * 4;
            const uint8_t* p = in + at;
            if (p[3] == 0) continue;
            blend(out + at, p[0] / 255.0, p[1] / 255.0, p[2] / 255.0, p[3] / 255.0 * layer->alpha);
        }
    }
    markDirty(d);
}

}  // namespace platform
