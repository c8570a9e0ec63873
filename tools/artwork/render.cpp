// Draws Vesperine's artwork: an evening sky over dark hills, with a crescent moon,
// twinkling stars and thin cloud bands drifting in the afterglow.
//
//   render clip FILE [W H]           the loop as a Cinepak AVI, 1024 x 768 unless given
//   render frames W H [FIRST COUNT [VX VY VW]]
//                                    raw rgb24 frames of the loop on stdout
//   render about FILE                180 x 180, 24-bit bottom-up BMP (moon and hills)
//   render preview FILE              320 x 240, 32-bit bottom-up BMP (frame 0 of the loop)
//   render icon FILE                 32 x 32, 8-bit icon with one image
//   render seam-check W H            reads raw rgb24 frames of W x H on stdin and checks
//                                    that the last frame flows into the first
//
// The scene is laid out on a 1024 x 768 reference canvas; other sizes view a rectangle
// of it. Everything that moves is periodic in the loop length, so frame LOOP_FRAMES
// would be identical to frame 0 and the clip repeats without a seam.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cinepak.h"

namespace {

constexpr int LOOP_FRAMES = 317;
constexpr double PI = 3.14159265358979323846;

struct Rgb {
    double r, g, b;
};

Rgb operator+(Rgb a, Rgb b) { return {a.r + b.r, a.g + b.g, a.b + b.b}; }
Rgb operator*(Rgb a, double k) { return {a.r * k, a.g * k, a.b * k}; }
Rgb mix(Rgb a, Rgb b, double t) { return a + (b + a * -1.0) * t; }

double clamp01(double v) { return v < 0 ? 0 : (v > 1 ? 1 : v); }
double smoothstep(double e0, double e1, double v) {
    double t = clamp01((v - e0) / (e1 - e0));
    return t * t * (3 - 2 * t);
}

// Small deterministic generator, so every run draws the same stars.
struct Random {
    uint32_t state;
    explicit Random(uint32_t seed) : state(seed) {}
    double next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return (state >> 8) / 16777216.0;
    }
};

// Gradient noise on a lattice, in [0, 1] (about).
uint32_t hash2(int x, int y) {
    uint32_t h = static_cast<uint32_t>(x) * 374761393u + static_cast<uint32_t>(y) * 668265263u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return h ^ (h >> 16);
}

double gradient(int ix, int iy, double dx, double dy) {
    double a = (hash2(ix, iy) & 0xffff) * (2 * PI / 65536.0);
    return std::cos(a) * dx + std::sin(a) * dy;
}

double noise(double x, double y) {
    int ix = static_cast<int>(std::floor(x)), iy = static_cast<int>(std::floor(y));
    double fx = x - ix, fy = y - iy;
    double ux = fx * fx * fx * (fx * (fx * 6 - 15) + 10);
    double uy = fy * fy * fy * (fy * (fy * 6 - 15) + 10);
    double n00 = gradient(ix, iy, fx, fy), n10 = gradient(ix + 1, iy, fx - 1, fy);
    double n01 = gradient(ix, iy + 1, fx, fy - 1), n11 = gradient(ix + 1, iy + 1, fx - 1, fy - 1);
    double n0 = n00 + (n10 - n00) * ux, n1 = n01 + (n11 - n01) * ux;
    return 0.5 + 0.7 * (n0 + (n1 - n0) * uy);
}

double fbm(double x, double y) {
    double sum = 0, amp = 0.55, norm = 0;
    for (int i = 0; i < 4; ++i) {
        sum += amp * noise(x, y);
        norm += amp;
        x = x * 2.03 + 17.1;
        y = y * 2.11 + 5.3;
        amp *= 0.5;
    }
    return sum / norm;
}

// Where the features sit on the reference canvas. The About picture and the icon
// move and enlarge the moon to suit their square frames.
struct Layout {
    double moonX = 742, moonY = 176, moonR = 25;
    double starScale = 1.0;    // star radius multiplier for tiny pictures
    double starGain = 1.0;
};

struct Star {
    double x, y, size, bright, phase;
    int rate;     // twinkles per loop
    double warm;  // 0 white-blue .. 1 faintly gold
};

std::vector<Star> makeStars() {
    Random rnd(0x5e5be71u);
    std::vector<Star> stars;
    while (stars.size() < 70) {
        Star s;
        s.x = 12 + rnd.next() * 1000;
        // More stars high up, where the sky is darkest.
        double v = rnd.next();
        s.y = 10 + v * v * 430;
        s.size = 0.55 + rnd.next() * 0.5;
        s.bright = 0.35 + 0.65 * std::pow(rnd.next(), 2.2);
        s.phase = rnd.next() * 2 * PI;
        s.rate = 1 + static_cast<int>(rnd.next() * 4);
        s.warm = rnd.next();
        bool nearMoon = std::hypot(s.x - 742, s.y - 176) < 70;
        if (!nearMoon) stars.push_back(s);
    }
    // A few brighter ones that catch the eye.
    const double bright[][2] = {{212, 92}, {488, 58}, {903, 118}, {120, 238}, {612, 214}};
    int i = 0;
    for (auto& p : bright) {
        stars.push_back({p[0], p[1], 1.05, 1.0, 1.3 * i, 1 + i % 3, i % 2 ? 0.7 : 0.1});
        ++i;
    }
    return stars;
}

const std::vector<Star>& stars() {
    static const std::vector<Star> all = makeStars();
    return all;
}

// The sky from zenith to horizon, a smooth curve through a few dusk colours.
Rgb skyGradient(double s) {
    static const double stops[][4] = {
        {0.00, 9, 7, 30},   {0.22, 22, 15, 58},  {0.45, 56, 30, 96},  {0.62, 112, 52, 118},
        {0.76, 178, 82, 120}, {0.88, 226, 124, 98}, {1.00, 250, 172, 96}, {1.20, 252, 196, 120},
    };
    const int n = sizeof stops / sizeof stops[0];
    s = std::max(0.0, std::min(1.2, s));
    int i = 0;
    while (i < n - 2 && s > stops[i + 1][0]) ++i;
    double t = (s - stops[i][0]) / (stops[i + 1][0] - stops[i][0]);
    // Catmull-Rom through the neighbours keeps the curve free of kinks (and of the
    // bands a kink would show).
    Rgb out{};
    for (int c = 1; c <= 3; ++c) {
        double p1 = stops[i][c], p2 = stops[i + 1][c];
        double p0 = i > 0 ? stops[i - 1][c] : 2 * p1 - p2;
        double p3 = i + 2 < n ? stops[i + 2][c] : 2 * p2 - p1;
        double v = 0.5 * (2 * p1 + (-p0 + p2) * t + (2 * p0 - 5 * p1 + 4 * p2 - p3) * t * t +
                          (-p0 + 3 * p1 - 3 * p2 + p3) * t * t * t);
        (c == 1 ? out.r : c == 2 ? out.g : out.b) = v;
    }
    return out;
}

// The hills. The far ridge is hazy, the near one nearly black; the near one rises to
// the right so the lower right corner of the screen is dark ground.
double farRidge(double x) {
    return 596 + 14 * std::sin(x / 150 + 1.0) + 9 * std::sin(x / 61 + 2.2) + 4 * std::sin(x / 23 + 0.4) -
           22 * smoothstep(0, 420, x) + 22;
}

double nearRidge(double x) {
    double rise = 58 * smoothstep(430, 1000, x);
    return 668 - rise + 10 * std::sin(x / 97 + 0.7) + 5 * std::sin(x / 41 + 1.9) + 2.5 * std::sin(x / 13 + 0.3);
}

// Pine silhouettes on the near ridge, toward the right.
double treeTop(double x) {
    static const double trees[][3] = {
        {792, 46, 19}, {808, 64, 23}, {826, 40, 17}, {866, 54, 21}, {884, 76, 27},
        {903, 50, 19}, {948, 36, 15}, {1012, 58, 22}, {160, 30, 13}, {176, 42, 16},
    };
    double top = 1e9;
    for (auto& t : trees) {
        double dx = std::fabs(x - t[0]);
        if (dx > t[2] / 2) continue;
        // A slightly ragged cone: notches every few pixels suggest branches.
        double h = t[1] * (1 - dx / (t[2] / 2));
        h -= 2.2 * (0.5 + 0.5 * std::sin(dx * 1.7 + t[0]));
        top = std::min(top, nearRidge(t[0]) + 4 - std::max(0.0, h));
    }
    return top;
}

// A waxing crescent: the disc minus a disc shifted toward the upper right, lit on the
// side that faces the set sun, with a soft halo. Drawn before the clouds, which pass
// in front of it.
Rgb moonOver(Rgb p, double x, double y, double aa, const Layout& lay) {
    const double mx = lay.moonX, my = lay.moonY, R = lay.moonR;
    double d = std::hypot(x - mx, y - my);
    const double reach = R * 12;
    if (d >= reach) return p;
    double halo = (0.20 * std::exp(-std::max(0.0, d - R) / (R * 1.6)) +
                   0.10 * std::exp(-std::max(0.0, d - R) / (R * 4.5))) *
                  (1 - smoothstep(reach * 0.5, reach, d));
    p = mix(p, Rgb{236, 214, 232}, halo);
    double disc = clamp01((R - d) / aa + 0.5);
    if (disc <= 0) return p;
    const double sx = mx + R * 0.42, sy = my - R * 0.26, sR = R * 0.94;
    double shadow = clamp01((sR - std::hypot(x - sx, y - sy)) / aa + 0.5);
    double lit = disc * (1 - shadow);
    // Earthshine keeps the dark part faintly visible against the sky.
    Rgb dark = mix(p, Rgb{70, 60, 104}, 0.35);
    p = mix(p, dark, disc * shadow);
    double limb = 0.88 + 0.12 * clamp01(1 - d / R);
    return mix(p, Rgb{252 * limb, 243 * limb, 218 * limb}, lit);
}

// Sky, afterglow, clouds and hills at one point of the reference canvas.
// loopT runs from 0 to 1 over the loop.
Rgb scenePoint(double x, double y, double aa, double loopT, const Layout& lay) {
    // The last light sits low on the left. It holds still: a large gradient that
    // changed a little every frame would make the codec refresh its blocks one by one.
    const double sunX = 330, sunY = 660;
    double dx = (x - sunX) / 380, dy = (y - sunY) / 190;
    double glow = std::exp(-(dx * dx + dy * dy));
    double wideGlow = std::exp(-((x - sunX) * (x - sunX) / (900.0 * 900) + (y - sunY) * (y - sunY) / (330.0 * 330)));

    double s = y / 640;
    Rgb sky = skyGradient(s - 0.05 + 0.09 * glow + 0.04 * wideGlow);
    sky = sky + Rgb{34, 18, 4} * glow * clamp01(s + 0.2);
    // The sky cools a little away from the sunset.
    sky = mix(sky, Rgb{sky.r * 0.82, sky.g * 0.86, sky.b * 1.04}, (1 - wideGlow) * 0.6);
    sky = moonOver(sky, x, y, aa, lay);

    // Thin cloud bands. Two copies of the cloud field drift to the right, each
    // travelling DRIFT over one loop and jumping back while its weight is zero; mixing
    // them with weights that sum to one in power keeps the contrast steady.
    if (y > 200 && y < 620) {
        const double DRIFT = 240;
        double tA = loopT, tB = loopT + 0.5 - std::floor(loopT + 0.5);
        double wA = std::sin(PI * loopT), wB = std::cos(PI * loopT);
        wA *= wA;
        wB *= wB;
        double warp = 0.35 * std::sin(x / 210 + 0.8);
        double nA = fbm((x - DRIFT * tA) / 300, y / 12 + warp);
        double nB = fbm((x - DRIFT * tB) / 300 + 41.7, y / 12 + warp + 23.9);
        double n = 0.5 + (wA * (nA - 0.5) + wB * (nB - 0.5)) / std::sqrt(wA * wA + wB * wB);
        double band = smoothstep(200, 330, y) * (1 - smoothstep(520, 620, y));
        double cover = smoothstep(0.52, 0.68, n) * band;
        if (cover > 0) {
            // High clouds sit in shadow, low ones catch the sunset from below.
            double lit = clamp01((y - 230) / 300);
            lit = std::sqrt(lit) * (0.35 + 1.1 * glow + 0.4 * wideGlow);
            Rgb shade{52, 32, 82};
            Rgb light{255, 168, 138};
            Rgb cloud = mix(shade, light, clamp01(lit));
            sky = mix(sky, cloud, cover * 0.78);
        }
    }

    // Far hills: hazy, lit a little by the glow behind them.
    double far = farRidge(x);
    if (y > far - aa) {
        double depth = smoothstep(0, 120, y - far);
        Rgb hill = mix(Rgb{86, 44, 88}, Rgb{52, 28, 66}, depth);
        hill = hill + Rgb{52, 22, 10} * glow * (1 - depth);
        sky = mix(sky, hill, clamp01((y - far + aa) / (2 * aa)));
        // A band of mist settles in the valley between the ridges.
        double mist = std::exp(-std::pow((y - far - 34) / 24, 2)) * 0.20 * (0.7 + glow);
        sky = mix(sky, Rgb{170, 100, 120}, clamp01(mist));
    }

    double ridge = nearRidge(x);
    double near = std::min(ridge, treeTop(x));
    if (y > near - aa) {
        double depth = clamp01((y - ridge) / 110);
        Rgb ground = mix(Rgb{20, 12, 30}, Rgb{7, 5, 13}, depth);
        sky = mix(sky, ground, clamp01((y - near + aa) / (2 * aa)));
    }
    return sky;
}

// A float RGB picture viewing the rectangle (x0, y0, w, h) of the reference canvas.
struct Picture {
    int width, height;
    double x0, y0, scale;  // reference units per pixel
    std::vector<Rgb> px;
    Picture(int w, int h, double vx, double vy, double vw)
        : width(w), height(h), x0(vx), y0(vy), scale(vw / w), px(static_cast<size_t>(w) * h) {}
    double refX(double px_) const { return x0 + (px_ + 0.5) * scale; }
    double refY(double py) const { return y0 + (py + 0.5) * scale; }
};

void addStars(Picture& pic, const Layout& lay, double phase) {
    for (const Star& s : stars()) {
        double twinkle = 0.72 + 0.28 * std::sin(s.rate * phase + s.phase);
        // Stars fade into the brighter sky lower down.
        double fade = 1 - smoothstep(180, 470, s.y);
        double level = s.bright * twinkle * fade * lay.starGain;
        if (level <= 0.01) continue;
        double sigma = s.size * lay.starScale;          // reference units
        double sig = std::max(sigma / pic.scale, 0.55);  // pixels
        double norm = sigma / pic.scale / sig;          // keep the total light when blurred
        level *= norm * norm;
        double cx = (s.x - pic.x0) / pic.scale - 0.5, cy = (s.y - pic.y0) / pic.scale - 0.5;
        int r = static_cast<int>(std::ceil(sig * 4));
        Rgb tint = mix(Rgb{200, 215, 255}, Rgb{255, 232, 196}, s.warm);
        for (int py = static_cast<int>(cy) - r; py <= static_cast<int>(cy) + r; ++py) {
            if (py < 0 || py >= pic.height) continue;
            for (int px = static_cast<int>(cx) - r; px <= static_cast<int>(cx) + r; ++px) {
                if (px < 0 || px >= pic.width) continue;
                double d2 = ((px - cx) * (px - cx) + (py - cy) * (py - cy)) / (sig * sig);
                double core = std::exp(-0.5 * d2);
                double halo = 0.12 * std::exp(-0.5 * d2 / 9);
                double k = level * (core + halo);
                Rgb& p = pic.px[static_cast<size_t>(py) * pic.width + px];
                p = p + Rgb{tint.r - p.r * 0.35, tint.g - p.g * 0.35, tint.b - p.b * 0.35} * std::min(1.0, k);
            }
        }
    }
}

Picture renderScene(int w, int h, double vx, double vy, double vw, const Layout& lay, int frame) {
    Picture pic(w, h, vx, vy, vw);
    double loopT = static_cast<double>(frame % LOOP_FRAMES) / LOOP_FRAMES;
    double phase = 2 * PI * loopT;
    double aa = std::max(pic.scale, 0.6);
    for (int py = 0; py < h; ++py)
        for (int px = 0; px < w; ++px)
            pic.px[static_cast<size_t>(py) * w + px] = scenePoint(pic.refX(px), pic.refY(py), aa, loopT, lay);
    addStars(pic, lay, phase);
    return pic;
}

// Averages k x k blocks: small pictures are drawn large and shrunk, like a camera.
Picture shrink(const Picture& big, int k) {
    Picture out(big.width / k, big.height / k, big.x0, big.y0, big.scale * big.width);
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x) {
            Rgb sum{};
            for (int j = 0; j < k; ++j)
                for (int i = 0; i < k; ++i) sum = sum + big.px[static_cast<size_t>(y * k + j) * big.width + x * k + i];
            out.px[static_cast<size_t>(y) * out.width + x] = sum * (1.0 / (k * k));
        }
    return out;
}

// Turns the picture into bytes, R G B per pixel from the top row down. An 8 x 8
// ordered dither, fixed to the screen, hides steps between levels in the long
// gradients; it is the same in every frame, so it costs the video nothing.
std::vector<uint8_t> quantize(const Picture& pic) {
    static const int bayer[8][8] = {
        {0, 32, 8, 40, 2, 34, 10, 42},   {48, 16, 56, 24, 50, 18, 58, 26}, {12, 44, 4, 36, 14, 46, 6, 38},
        {60, 28, 52, 20, 62, 30, 54, 22}, {3, 35, 11, 43, 1, 33, 9, 41},   {51, 19, 59, 27, 49, 17, 57, 25},
        {15, 47, 7, 39, 13, 45, 5, 37},  {63, 31, 55, 23, 61, 29, 53, 21},
    };
    std::vector<uint8_t> out(static_cast<size_t>(pic.width) * pic.height * 3);
    for (int y = 0; y < pic.height; ++y)
        for (int x = 0; x < pic.width; ++x) {
            double d = (bayer[y & 7][x & 7] + 0.5) / 64.0 - 0.5;
            const Rgb& p = pic.px[static_cast<size_t>(y) * pic.width + x];
            uint8_t* o = &out[(static_cast<size_t>(y) * pic.width + x) * 3];
            double c[3] = {p.r, p.g, p.b};
            for (int i = 0; i < 3; ++i) o[i] = static_cast<uint8_t>(std::max(0.0, std::min(255.0, std::floor(c[i] + d + 0.5))));
        }
    return out;
}

void put16(std::vector<uint8_t>& b, unsigned v) {
    b.push_back(v & 0xff);
    b.push_back((v >> 8) & 0xff);
}
void put32(std::vector<uint8_t>& b, uint32_t v) {
    put16(b, v & 0xffff);
    put16(b, v >> 16);
}

void infoHeader(std::vector<uint8_t>& b, int w, int h, int bits, uint32_t imageSize, uint32_t colours) {
    put32(b, 40);
    put32(b, static_cast<uint32_t>(w));
    put32(b, static_cast<uint32_t>(h));
    put16(b, 1);
    put16(b, static_cast<unsigned>(bits));
    put32(b, 0);  // BI_RGB
    put32(b, imageSize);
    put32(b, 0);  // pixels per metre: none given
    put32(b, 0);
    put32(b, colours);
    put32(b, 0);
}

bool writeFile(const char* path, const std::vector<uint8_t>& data) {
    FILE* f = std::fopen(path, "wb");
    if (!f) return false;
    bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    return std::fclose(f) == 0 && ok;
}

// An uncompressed bottom-up BMP at 24 or 32 bits per pixel.
bool writeBmp(const char* path, const std::vector<uint8_t>& rgb, int w, int h, int bits) {
    int bpp = bits / 8;
    int stride = (w * bpp + 3) & ~3;
    uint32_t imageSize = static_cast<uint32_t>(stride) * h;
    std::vector<uint8_t> b{'B', 'M'};
    put32(b, 14 + 40 + imageSize);
    put32(b, 0);
    put32(b, 14 + 40);
    infoHeader(b, w, h, bits, imageSize, 0);
    for (int y = h - 1; y >= 0; --y) {
        size_t start = b.size();
        for (int x = 0; x < w; ++x) {
            const uint8_t* p = &rgb[(static_cast<size_t>(y) * w + x) * 3];
            b.push_back(p[2]);
            b.push_back(p[1]);
            b.push_back(p[0]);
            if (bpp == 4) b.push_back(0);
        }
        while (b.size() - start < static_cast<size_t>(stride)) b.push_back(0);
    }
    return writeFile(path, b);
}

// Median cut: splits the colour set along its widest channel until there are 256
// groups, then uses each group's mean.
std::vector<Rgb> medianCut(const std::vector<uint8_t>& rgb, int count) {
    struct Box {
        std::vector<int> idx;
    };
    size_t n = rgb.size() / 3;
    std::vector<Box> boxes(1);
    for (size_t i = 0; i < n; ++i) boxes[0].idx.push_back(static_cast<int>(i));
    auto range = [&](const Box& bx, int& channel) {
        int best = -1;
        for (int c = 0; c < 3; ++c) {
            int lo = 255, hi = 0;
            for (int i : bx.idx) lo = std::min(lo, int(rgb[i * 3 + c])), hi = std::max(hi, int(rgb[i * 3 + c]));
            if (hi - lo > best) best = hi - lo, channel = c;
        }
        return best;
    };
    while (static_cast<int>(boxes.size()) < count) {
        int pick = -1, widest = 0, channel = 0;
        for (size_t b = 0; b < boxes.size(); ++b) {
            int c = 0;
            int r = boxes[b].idx.size() > 1 ? range(boxes[b], c) : 0;
            if (r > widest) widest = r, pick = static_cast<int>(b), channel = c;
        }
        if (pick < 0) break;
        auto& v = boxes[pick].idx;
        std::sort(v.begin(), v.end(), [&](int a, int b) { return rgb[a * 3 + channel] < rgb[b * 3 + channel]; });
        Box upper;
        upper.idx.assign(v.begin() + v.size() / 2, v.end());
        v.resize(v.size() / 2);
        boxes.push_back(upper);
    }
    std::vector<Rgb> pal;
    for (auto& bx : boxes) {
        Rgb sum{};
        for (int i : bx.idx) sum = sum + Rgb{double(rgb[i * 3]), double(rgb[i * 3 + 1]), double(rgb[i * 3 + 2])};
        pal.push_back(sum * (1.0 / bx.idx.size()));
    }
    return pal;
}

bool writeIcon(const char* path, const std::vector<uint8_t>& rgb, int size) {
    std::vector<Rgb> pal = medianCut(rgb, 256);
    while (pal.size() < 256) pal.push_back(Rgb{0, 0, 0});
    std::vector<uint8_t> indices(static_cast<size_t>(size) * size);
    for (size_t i = 0; i < indices.size(); ++i) {
        double best = 1e18;
        for (int k = 0; k < 256; ++k) {
            double dr = pal[k].r - rgb[i * 3], dg = pal[k].g - rgb[i * 3 + 1], db = pal[k].b - rgb[i * 3 + 2];
            double e = dr * dr + dg * dg + db * db;
            if (e < best) best = e, indices[i] = static_cast<uint8_t>(k);
        }
    }
    uint32_t xorSize = static_cast<uint32_t>(size) * size;  // rows of 32 bytes need no padding
    uint32_t andSize = static_cast<uint32_t>(size) * 4;     // one bit a pixel, rows padded to 4 bytes
    uint32_t imageSize = 40 + 256 * 4 + xorSize + andSize;
    std::vector<uint8_t> b;
    put16(b, 0);
    put16(b, 1);  // an icon
    put16(b, 1);  // one image
    b.push_back(static_cast<uint8_t>(size));
    b.push_back(static_cast<uint8_t>(size));
    b.push_back(0);  // 256 colours
    b.push_back(0);
    put16(b, 1);
    put16(b, 8);
    put32(b, imageSize);
    put32(b, 22);
    infoHeader(b, size, size * 2, 8, xorSize + andSize, 256);
    for (const Rgb& c : pal) {
        b.push_back(static_cast<uint8_t>(std::lround(c.b)));
        b.push_back(static_cast<uint8_t>(std::lround(c.g)));
        b.push_back(static_cast<uint8_t>(std::lround(c.r)));
        b.push_back(0);
    }
    for (int y = size - 1; y >= 0; --y)
        for (int x = 0; x < size; ++x) b.push_back(indices[static_cast<size_t>(y) * size + x]);
    for (uint32_t i = 0; i < andSize; ++i) b.push_back(0);  // every pixel opaque
    return writeFile(path, b);
}

int frames(int w, int h, int first, int count, double vx, double vy, double vw) {
    Layout lay;
    for (int f = first; f < first + count; ++f) {
        Picture pic = renderScene(w, h, vx, vy, vw, lay, f);
        std::vector<uint8_t> bytes = quantize(pic);
        if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size()) return 1;
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

// Renders the whole loop and encodes it as a Cinepak AVI.
int clip(const char* path, int w, int h) {
    std::vector<cinepak::Frame> pieces(LOOP_FRAMES);
    std::vector<std::thread> pool;
    unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    for (unsigned t = 0; t < threads; ++t)
        pool.emplace_back([&, t] {
            for (int f = static_cast<int>(t); f < LOOP_FRAMES; f += static_cast<int>(threads)) {
                std::vector<uint8_t> rgb = quantize(renderScene(w, h, 0, 0, 1024, Layout{}, f));
                pieces[f] = cinepak::toPieces(rgb.data(), w, h);
            }
        });
    for (auto& th : pool) th.join();
    cinepak::Options opt;
    cinepak::Encoder enc(w, h, opt);
    std::vector<const cinepak::Frame*> sample;
    for (int f = 0; f < LOOP_FRAMES; f += opt.trainEvery) sample.push_back(&pieces[f]);
    enc.train(sample);
    std::vector<std::vector<uint8_t>> packets;
    for (auto& f : pieces) packets.push_back(enc.encode(f));
    return writeFile(path, cinepak::avi(packets, w, h, 24)) ? 0 : 1;
}

// Checks the loop point of a decoded clip: the step from the last frame back to the
// first should look like any other step between neighbouring frames.
int seamCheck(int w, int h) {
    size_t size = static_cast<size_t>(w) * h * 3;
    std::vector<uint8_t> first(size), prev(size), cur(size);
    std::vector<double> steps;
    auto mad = [&](const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
        uint64_t sum = 0;
        for (size_t i = 0; i < size; ++i) sum += static_cast<uint64_t>(std::abs(int(a[i]) - int(b[i])));
        return static_cast<double>(sum) / size;
    };
    int count = 0;
    while (std::fread(cur.data(), 1, size, stdin) == size) {
        if (count == 0)
            first = cur;
        else
            steps.push_back(mad(prev, cur));
        prev.swap(cur);
        ++count;
    }
    if (count < 3) {
        std::fprintf(stderr, "seam check: only %d frames decoded\n", count);
        return 1;
    }
    double seam = mad(prev, first);
    std::vector<double> sorted = steps;
    std::sort(sorted.begin(), sorted.end());
    size_t m = sorted.size();
    double median = m % 2 ? sorted[m / 2] : 0.5 * (sorted[m / 2 - 1] + sorted[m / 2]);
    double ratio = median > 0 ? seam / median : (seam > 0 ? INFINITY : 0);
    bool ok = seam <= 1.5 * median;
    std::printf("seam check: %d frames at %dx%d; last-to-first %.4f, median step %.4f, ratio %.3f (limit 1.5): %s\n",
                count, w, h, seam, median, ratio, ok ? "ok" : "FAILED");
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "frames" && (argc == 4 || argc == 6 || argc == 9)) {
        // Optional FIRST COUNT pick part of the loop; VX VY VW view part of the canvas
        // (handy for trying the look and the codec on a smaller picture).
        int first = argc >= 6 ? std::atoi(argv[4]) : 0;
        int count = argc >= 6 ? std::atoi(argv[5]) : LOOP_FRAMES;
        double vx = argc == 9 ? std::atof(argv[6]) : 0, vy = argc == 9 ? std::atof(argv[7]) : 0;
        double vw = argc == 9 ? std::atof(argv[8]) : 1024;
        return frames(std::atoi(argv[2]), std::atoi(argv[3]), first, count, vx, vy, vw);
    }
    if (mode == "clip" && (argc == 3 || argc == 5))
        return clip(argv[2], argc == 5 ? std::atoi(argv[3]) : 1024, argc == 5 ? std::atoi(argv[4]) : 768);
    if (mode == "seam-check" && argc == 4) return seamCheck(std::atoi(argv[2]), std::atoi(argv[3]));
    if (mode == "preview" && argc == 3) {
        // Frame 0 of the clip, drawn four times larger and averaged down.
        Picture pic = shrink(renderScene(1280, 960, 0, 0, 1024, Layout{}, 0), 4);
        return writeBmp(argv[2], quantize(pic), 320, 240, 32) ? 0 : 1;
    }
    if (mode == "about" && argc == 3) {
        // A square from the right half of the sky: the moon high in the frame, stars,
        // cloud bands and the pines on the ridge below.
        Layout lay;
        lay.moonX = 720;
        lay.moonY = 300;
        lay.moonR = 40;
        lay.starScale = 1.6;
        Picture pic = shrink(renderScene(720, 720, 476, 190, 520, lay, 0), 4);
        return writeBmp(argv[2], quantize(pic), 180, 180, 24) ? 0 : 1;
    }
    if (mode == "icon" && argc == 3) {
        // At 32 pixels only big shapes survive: a large crescent, the glowing horizon
        // and the ridge, with brighter, bigger stars.
        Layout lay;
        lay.moonX = 800;
        lay.moonY = 330;
        lay.moonR = 115;
        lay.starScale = 10;
        lay.starGain = 1.5;
        Picture pic = shrink(renderScene(256, 256, 420, 200, 560, lay, 0), 8);
        return writeIcon(argv[2], quantize(pic), 32) ? 0 : 1;
    }
    std::fprintf(stderr,
                 "usage: render clip FILE [W H] | frames W H [FIRST COUNT [VX VY VW]] | about FILE | preview FILE | icon FILE | seam-check W H\n");
    return 2;
}
