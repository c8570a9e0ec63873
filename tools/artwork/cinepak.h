// A Cinepak encoder and AVI writer made for one kind of clip: a calm loop where most
// of the picture stands still.
//
// Each horizontal strip gets one pair of codebooks, trained on frames from the whole
// loop and sent once in the key frame. After that a block's code depends only on its
// pixels in that frame, never on what was sent before, so a block is sent again only
// when its pixels change and the decoded picture of a frame is the same whichever
// frame came before it. That is what lets the last frame flow into the first: a codec
// that retrains its codebooks every frame gives the same content a slightly different
// rendering each time, and the jump back to the key frame shows.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace cinepak {

constexpr int BOOK = 256;

// One 2 x 2 piece in Cinepak's colour space: four luma values and one chroma pair.
// A decoder shows R = Y + 2V, G = Y - U/2 - V, B = Y + 2U.
struct Vec {
    int16_t y[4], u, v;
};

// Squared error in RGB terms: a luma step moves all three channels, chroma steps move
// two of them, doubled.
inline int distance(const Vec& a, const Vec& b, int limit) {
    int d = 0;
    for (int i = 0; i < 4; ++i) {
        int e = a.y[i] - b.y[i];
        d += 3 * e * e;
    }
    if (d >= limit) return d;
    int du = a.u - b.u, dv = a.v - b.v;
    return d + 17 * du * du + 20 * dv * dv;
}

inline uint64_t key(const Vec& v) {
    uint64_t k = 0;
    for (int i = 0; i < 4; ++i) k = k << 8 | static_cast<uint8_t>(v.y[i]);
    return (k << 8 | static_cast<uint8_t>(v.u)) << 8 | static_cast<uint8_t>(v.v);
}

inline int nearest(const std::vector<Vec>& book, const Vec& v, int* err) {
    int best = 0, bestD = 1 << 30;
    for (size_t i = 0; i < book.size(); ++i) {
        int d = distance(book[i], v, bestD);
        if (d < bestD) bestD = d, best = static_cast<int>(i);
    }
    *err = bestD;
    return best;
}

// Weighted k-means (seeded by k-means++ with a fixed generator) over distinct vectors.
inline std::vector<Vec> train(const std::unordered_map<uint64_t, std::pair<Vec, int>>& set) {
    std::vector<Vec> pts;
    std::vector<double> w;
    for (auto& kv : set) pts.push_back(kv.second.first), w.push_back(kv.second.second);
    // A fixed order, so the result does not depend on the hash table.
    std::vector<size_t> order(pts.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return key(pts[a]) < key(pts[b]); });
    std::vector<Vec> p2;
    std::vector<double> w2;
    // Thin out very large sets evenly; the weights carry the dropped points' share.
    size_t stride = std::max<size_t>(1, order.size() / 30000);
    for (size_t i = 0; i < order.size(); i += stride) {
        double sum = 0;
        for (size_t j = i; j < std::min(order.size(), i + stride); ++j) sum += w[order[j]];
        p2.push_back(pts[order[i]]);
        w2.push_back(sum);
    }
    pts.swap(p2);
    w.swap(w2);
    if (pts.size() <= BOOK) return pts;

    uint32_t rng = 0x2545f491u;
    auto rnd = [&] {
        rng ^= rng << 13;
        rng ^= rng >> 17;
        rng ^= rng << 5;
        return (rng >> 8) / 16777216.0;
    };
    std::vector<Vec> book;
    std::vector<double> dmin(pts.size(), 1e300);
    book.push_back(pts[0]);
    while (book.size() < BOOK) {
        double total = 0;
        for (size_t i = 0; i < pts.size(); ++i) {
            dmin[i] = std::min(dmin[i], static_cast<double>(distance(book.back(), pts[i], 1 << 30)));
            total += dmin[i] * w[i];
        }
        double pick = rnd() * total;
        size_t i = 0;
        for (; i + 1 < pts.size(); ++i) {
            pick -= dmin[i] * w[i];
            if (pick <= 0) break;
        }
        book.push_back(pts[i]);
    }
    std::vector<int> owner(pts.size());
    for (int iter = 0; iter < 10; ++iter) {
        std::vector<double> acc(BOOK * 6, 0), cnt(BOOK, 0);
        for (size_t i = 0; i < pts.size(); ++i) {
            int e;
            int k = nearest(book, pts[i], &e);
            owner[i] = k;
            dmin[i] = e;
            for (int c = 0; c < 4; ++c) acc[k * 6 + c] += w[i] * pts[i].y[c];
            acc[k * 6 + 4] += w[i] * pts[i].u;
            acc[k * 6 + 5] += w[i] * pts[i].v;
            cnt[k] += w[i];
        }
        for (int k = 0; k < BOOK; ++k) {
            if (cnt[k] == 0) {
                // An unused entry takes over the worst-served point.
                size_t worst = std::max_element(dmin.begin(), dmin.end()) - dmin.begin();
                book[k] = pts[worst];
                dmin[worst] = 0;
                continue;
            }
            for (int c = 0; c < 4; ++c) book[k].y[c] = static_cast<int16_t>(std::lround(acc[k * 6 + c] / cnt[k]));
            book[k].u = static_cast<int16_t>(std::lround(acc[k * 6 + 4] / cnt[k]));
            book[k].v = static_cast<int16_t>(std::lround(acc[k * 6 + 5] / cnt[k]));
        }
    }
    return book;
}

struct Frame {
    // Per 2 x 2 piece, row-major over the picture.
    std::vector<Vec> pieces;
};

// Cinepak's colour space, with the chroma of each 2 x 2 piece averaged.
inline Frame toPieces(const uint8_t* rgb, int w, int h) {
    Frame f;
    f.pieces.resize(static_cast<size_t>(w / 2) * (h / 2));
    for (int py = 0; py < h / 2; ++py)
        for (int px = 0; px < w / 2; ++px) {
            Vec& v = f.pieces[static_cast<size_t>(py) * (w / 2) + px];
            double su = 0, sv = 0;
            for (int i = 0; i < 4; ++i) {
                const uint8_t* p = rgb + ((static_cast<size_t>(py) * 2 + i / 2) * w + px * 2 + i % 2) * 3;
                double y = (2.0 * p[0] + 4.0 * p[1] + p[2]) / 7.0;
                v.y[i] = static_cast<int16_t>(std::lround(y));
                su += (p[2] - y) / 2;
                sv += (p[0] - y) / 2;
            }
            v.u = static_cast<int16_t>(std::max(-128L, std::min(127L, std::lround(su / 4))));
            v.v = static_cast<int16_t>(std::max(-128L, std::min(127L, std::lround(sv / 4))));
        }
    return f;
}

// A 4 x 4 block shrunk to one piece, for the V1 codebook (each luma value stands for
// a 2 x 2 square when decoded).
inline Vec shrinkBlock(const Vec q[4]) {
    Vec v;
    int su = 0, sv = 0;
    for (int i = 0; i < 4; ++i) {
        v.y[i] = static_cast<int16_t>((q[i].y[0] + q[i].y[1] + q[i].y[2] + q[i].y[3] + 2) / 4);
        su += q[i].u;
        sv += q[i].v;
    }
    v.u = static_cast<int16_t>(std::lround(su / 4.0));
    v.v = static_cast<int16_t>(std::lround(sv / 4.0));
    return v;
}

struct Code {
    bool v4 = false;
    uint8_t idx[4] = {0, 0, 0, 0};
    bool operator==(const Code& o) const { return v4 == o.v4 && (v4 ? std::memcmp(idx, o.idx, 4) == 0 : idx[0] == o.idx[0]); }
};

struct Options {
    int strips = 24;  // Wine's decoder refuses 32 or more
    // How much more error a V1 block (one byte, half detail) may have than a V4 block
    // (four bytes) before V4 is used; 0 picks whichever is closer.
    int v1Bias = 0;
    int trainEvery = 8;
};

class Encoder {
public:
    Encoder(int w, int h, Options o) : w_(w), h_(h), opt_(o), stripH_(h / o.strips) {}

    // Trains the codebooks on the given frames.
    void train(const std::vector<const Frame*>& frames) {
        v4_.assign(opt_.strips, {});
        v1_.assign(opt_.strips, {});
        parallel(opt_.strips, [&](int s) {
            std::unordered_map<uint64_t, std::pair<Vec, int>> set4, set1;
            for (const Frame* f : frames)
                forBlocks(s, [&](int bx, int by) {
                    Vec q[4];
                    gather(*f, bx, by, q);
                    for (auto& v : q) {
                        auto& e = set4[key(v)];
                        e.first = v;
                        ++e.second;
                    }
                    Vec v1 = shrinkBlock(q);
                    auto& e = set1[key(v1)];
                    e.first = v1;
                    ++e.second;
                });
            v4_[s] = cinepak::train(set4);
            v1_[s] = cinepak::train(set1);
        });
    }

    // Encodes one frame; the first call makes the key frame.
    std::vector<uint8_t> encode(const Frame& f) {
        bool key = state_.empty();
        int bw = w_ / 4, bh = h_ / 4;
        if (key) state_.assign(static_cast<size_t>(bw) * bh, Code{});
        std::vector<std::vector<uint8_t>> strips(opt_.strips);
        parallel(opt_.strips, [&](int s) { strips[s] = encodeStrip(f, s, key); });
        std::vector<uint8_t> out(10);
        for (auto& s : strips) out.insert(out.end(), s.begin(), s.end());
        out[0] = key ? 0x00 : 0x01;  // inter frames keep each strip's own codebooks
        put24(out, 1, out.size());
        put16(out, 4, w_);
        put16(out, 6, h_);
        put16(out, 8, opt_.strips);
        return out;
    }

private:
    static void put16(std::vector<uint8_t>& b, size_t at, size_t v) {
        b[at] = static_cast<uint8_t>(v >> 8);
        b[at + 1] = static_cast<uint8_t>(v);
    }
    static void put24(std::vector<uint8_t>& b, size_t at, size_t v) {
        b[at] = static_cast<uint8_t>(v >> 16);
        put16(b, at + 1, v & 0xffff);
    }

    static void parallel(int n, const std::function<void(int)>& job) {
        unsigned threads = std::max(1u, std::thread::hardware_concurrency());
        std::vector<std::thread> pool;
        for (unsigned t = 0; t < threads; ++t)
            pool.emplace_back([&, t] {
                for (int i = static_cast<int>(t); i < n; i += static_cast<int>(threads)) job(i);
            });
        for (auto& th : pool) th.join();
    }

    template <class F>
    void forBlocks(int s, F fn) const {
        for (int by = s * stripH_ / 4; by < (s + 1) * stripH_ / 4; ++by)
            for (int bx = 0; bx < w_ / 4; ++bx) fn(bx, by);
    }

    void gather(const Frame& f, int bx, int by, Vec q[4]) const {
        int pw = w_ / 2;
        for (int i = 0; i < 4; ++i) q[i] = f.pieces[static_cast<size_t>(by * 2 + i / 2) * pw + bx * 2 + i % 2];
    }

    Code choose(int s, const Vec q[4]) const {
        Code c4, c1;
        c4.v4 = true;
        int e4 = 0;
        for (int i = 0; i < 4; ++i) {
            int e;
            c4.idx[i] = static_cast<uint8_t>(nearest(v4_[s], q[i], &e));
            e4 += e;
        }
        int e;
        c1.idx[0] = static_cast<uint8_t>(nearest(v1_[s], shrinkBlock(q), &e));
        // The error of the V1 block against the full-detail pieces.
        const Vec& b = v1_[s][c1.idx[0]];
        int e1 = 0;
        for (int i = 0; i < 4; ++i) {
            for (int j = 0; j < 4; ++j) {
                int d = q[i].y[j] - b.y[i];
                e1 += 3 * d * d;
            }
            int du = q[i].u - b.u, dv = q[i].v - b.v;
            e1 += 17 * du * du + 20 * dv * dv;
        }
        return e1 <= e4 + opt_.v1Bias ? c1 : c4;
    }

    // Bits for a vector chunk, read by the decoder 32 at a time just before the block
    // that needs the next one; the index bytes follow in between.
    struct BitSink {
        std::vector<uint8_t>& out;
        size_t word = 0;
        int left = 0;
        void bit(bool b) {
            if (left == 0) {
                word = out.size();
                out.insert(out.end(), 4, 0);
                left = 32;
            }
            --left;
            if (b) out[word + 3 - left / 8] |= static_cast<uint8_t>(1u << (left % 8));
        }
    };

    std::vector<uint8_t> encodeStrip(const Frame& f, int s, bool key) {
        std::vector<uint8_t> out(12, 0);
        out[0] = key ? 0x10 : 0x11;
        put16(out, 8, stripH_);  // top 0 and this height: strips stack downwards
        put16(out, 10, w_);
        if (key) {
            for (int book = 0; book < 2; ++book) {
                const std::vector<Vec>& cb = book == 0 ? v4_[s] : v1_[s];
                size_t at = out.size();
                out.insert(out.end(), 4, 0);
                out[at] = book == 0 ? 0x20 : 0x22;
                for (int i = 0; i < BOOK; ++i) {
                    Vec v = i < static_cast<int>(cb.size()) ? cb[i] : Vec{{0, 0, 0, 0}, 0, 0};
                    for (int c = 0; c < 4; ++c) out.push_back(static_cast<uint8_t>(std::max(0, std::min(255, int(v.y[c])))));
                    out.push_back(static_cast<uint8_t>(static_cast<int8_t>(std::max(-128, std::min(127, int(v.u))))));
                    out.push_back(static_cast<uint8_t>(static_cast<int8_t>(std::max(-128, std::min(127, int(v.v))))));
                }
                put24(out, at + 1, out.size() - at);
            }
        }
        size_t at = out.size();
        out.insert(out.end(), 4, 0);
        out[at] = key ? 0x30 : 0x31;
        BitSink bits{out};
        forBlocks(s, [&](int bx, int by) {
            Vec q[4];
            gather(f, bx, by, q);
            Code c = choose(s, q);
            Code& shown = state_[static_cast<size_t>(by) * (w_ / 4) + bx];
            if (!key) {
                bool send = !(c == shown);
                bits.bit(send);
                if (!send) return;
            }
            shown = c;
            bits.bit(c.v4);
            for (int i = 0; i < (c.v4 ? 4 : 1); ++i) out.push_back(c.idx[i]);
        });
        // Decoders expect a vector chunk in every strip, even one that skips everything.
        put24(out, at + 1, out.size() - at);
        put24(out, 1, out.size());
        return out;
    }

    int w_, h_;
    Options opt_;
    int stripH_;
    std::vector<std::vector<Vec>> v4_, v1_;
    std::vector<Code> state_;
};

// A plain AVI: one Cinepak video stream, an index, the first frame marked as key.
inline std::vector<uint8_t> avi(const std::vector<std::vector<uint8_t>>& frames, int w, int h, int fps) {
    std::vector<uint8_t> b;
    auto u32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    auto u16 = [&](uint16_t v) {
        b.push_back(static_cast<uint8_t>(v));
        b.push_back(static_cast<uint8_t>(v >> 8));
    };
    auto cc = [&](const char* s) { b.insert(b.end(), s, s + 4); };
    auto patch = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    uint32_t biggest = 0;
    for (auto& f : frames) biggest = std::max<uint32_t>(biggest, static_cast<uint32_t>(f.size()));
    uint32_t n = static_cast<uint32_t>(frames.size());

    cc("RIFF");
    size_t riffSize = b.size();
    u32(0);
    cc("AVI ");
    cc("LIST");
    size_t hdrlSize = b.size();
    u32(0);
    cc("hdrl");
    cc("avih");
    u32(56);
    u32(1000000 / fps);
    u32(biggest * fps);
    u32(0);
    u32(0x10);  // has an index
    u32(n);
    u32(0);
    u32(1);
    u32(biggest);
    u32(w);
    u32(h);
    for (int i = 0; i < 4; ++i) u32(0);
    cc("LIST");
    size_t strlSize = b.size();
    u32(0);
    cc("strl");
    cc("strh");
    u32(56);
    cc("vids");
    cc("cvid");
    u32(0);
    u16(0);
    u16(0);
    u32(0);
    u32(1);
    u32(fps);
    u32(0);
    u32(n);
    u32(biggest);
    u32(0xffffffff);
    u32(0);
    u16(0);
    u16(0);
    u16(static_cast<uint16_t>(w));
    u16(static_cast<uint16_t>(h));
    cc("strf");
    u32(40);
    u32(40);
    u32(w);
    u32(h);
    u16(1);
    u16(24);
    cc("cvid");
    u32(static_cast<uint32_t>(w) * h * 3);
    u32(0);
    u32(0);
    u32(0);
    u32(0);
    patch(strlSize, static_cast<uint32_t>(b.size() - strlSize - 4));
    patch(hdrlSize, static_cast<uint32_t>(b.size() - hdrlSize - 4));

    cc("LIST");
    size_t moviSize = b.size();
    u32(0);
    size_t movi = b.size();
    cc("movi");
    std::vector<uint32_t> offsets;
    for (auto& f : frames) {
        offsets.push_back(static_cast<uint32_t>(b.size() - movi));
        cc("00dc");
        u32(static_cast<uint32_t>(f.size()));
        b.insert(b.end(), f.begin(), f.end());
        if (f.size() & 1) b.push_back(0);
    }
    patch(moviSize, static_cast<uint32_t>(b.size() - moviSize - 4));
    cc("idx1");
    u32(16 * n);
    for (uint32_t i = 0; i < n; ++i) {
        cc("00dc");
        u32(i == 0 ? 0x10 : 0);  // key frame flag
        u32(offsets[i]);
        u32(static_cast<uint32_t>(frames[i].size()));
    }
    patch(riffSize, static_cast<uint32_t>(b.size() - 8));
    return b;
}

}  // namespace cinepak
