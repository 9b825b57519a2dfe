// Octree colour quantization (depth 6, at most 256 leaves) and serpentine Floyd-Steinberg
// dithering with limited error, the reduction behind GIF output.
#include "imaging/gifreduce.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "imaging/imagefiles.h"

namespace parvula::imaging {

namespace {

    constexpr int TreeDepth = 6;
    constexpr int MaxColours = 256;

    struct TNode {
        int level = 0;
        bool leaf = false;
        std::uint32_t pixelCount = 0;
        // 64 bits: 128 megapixels of 255 overflow a 32-bit sum and would wrap the mean.
        std::uint64_t redSum = 0;
        std::uint64_t greenSum = 0;
        std::uint64_t blueSum = 0;
        std::array<std::unique_ptr<TNode>, 8> children;
    };

    class TOctree {
    public:
        TOctree()
        {
            m_root = std::make_unique<TNode>();
            m_reducible[0].push_back(m_root.get());
        }

        void Add(std::uint8_t r, std::uint8_t g, std::uint8_t b)
        {
            TNode* node = m_root.get();
            while (!node->leaf) {
                const int shift = 7 - node->level;
                const int index
                    = (((r >> shift) & 1) << 2) | (((g >> shift) & 1) << 1) | ((b >> shift) & 1);
                std::unique_ptr<TNode>& child = node->children[index];
                if (!child) {
                    child = std::make_unique<TNode>();
                    child->level = node->level + 1;
                    if (child->level == TreeDepth) {
                        child->leaf = true;
                        ++m_leafCount;
                    } else {
                        // The reducible lists are stacks: the newest node is merged first.
                        m_reducible[child->level].push_back(child.get());
                    }
                }
                node = child.get();
            }
            ++node->pixelCount;
            node->redSum += r;
            node->greenSum += g;
            node->blueSum += b;
            while (m_leafCount > MaxColours)
                Reduce();
        }

        // Depth first, children in index order; each leaf's mean with the fraction dropped.
        std::vector<TRgb> Palette() const
        {
            std::vector<TRgb> palette;
            Collect(m_root.get(), palette);
            return palette;
        }

    private:
        void Reduce()
        {
            int level = TreeDepth - 1;
            while (level > 0 && m_reducible[level].empty())
                --level;
            if (m_reducible[level].empty())
                return;
            TNode* node = m_reducible[level].back();
            m_reducible[level].pop_back();
            int children = 0;
            for (std::unique_ptr<TNode>& child : node->children) {
                if (!child)
                    continue;
                node->pixelCount += child->pixelCount;
                node->redSum += child->redSum;
                node->greenSum += child->greenSum;
                node->blueSum += child->blueSum;
                child.reset();
                ++children;
            }
            node->leaf = true;
            m_leafCount -= children - 1;
        }

        static void Collect(const TNode* node, std::vector<TRgb>& palette)
        {
            if (node->leaf) {
                TRgb c;
                if (node->pixelCount > 0) {
                    c.r = static_cast<std::uint8_t>(node->redSum / node->pixelCount);
                    c.g = static_cast<std::uint8_t>(node->greenSum / node->pixelCount);
                    c.b = static_cast<std::uint8_t>(node->blueSum / node->pixelCount);
                }
                palette.push_back(c);
                return;
            }
            for (const std::unique_ptr<TNode>& child : node->children)
                if (child)
                    Collect(child.get(), palette);
        }

        std::unique_ptr<TNode> m_root;
        std::array<std::vector<TNode*>, TreeDepth> m_reducible;
        int m_leafCount = 0;
    };

    // The nearest palette entry by squared distance in red, green and blue; on a tie the lowest
    // index wins. A small direct-mapped cache of exact colours spares most searches; it stores
    // the full colour, so a hit always gives the same answer as the search.
    //
    // The search itself looks only at the candidates of the colour's cell (a cube of 8 x 8 x 8
    // values): the entries whose nearest point of the cell is no farther than the smallest
    // farthest point of any entry. Every entry that can be nearest to a colour in the cell, ties
    // included, is such a candidate, and candidates keep the palette's order, so the answer is
    // the full search's. A cell's candidates are found when the cell is first needed.
    class TNearest {
    public:
        explicit TNearest(const std::vector<TRgb>& palette)
            : m_palette(palette)
            , m_cache(CacheSize, Entry { 0xFFFFFFFFu, 0 })
            , m_cellFirst(CellCount, -1)
            , m_cellCount(CellCount, 0)
        {
        }

        int Find(int r, int g, int b)
        {
            const std::uint32_t key = (static_cast<std::uint32_t>(r) << 16) | (g << 8) | b;
            Entry& slot = m_cache[(key ^ (key >> 11) ^ (key >> 19)) & (CacheSize - 1)];
            if (slot.key == key)
                return slot.index;
            const std::size_t cell = (static_cast<std::size_t>(r >> CellBits) << (2 * AxisBits))
                | (static_cast<std::size_t>(g >> CellBits) << AxisBits)
                | static_cast<std::size_t>(b >> CellBits);
            if (m_cellFirst[cell] < 0)
                FindCandidates(cell, r, g, b);
            const std::uint8_t* candidate = m_candidates.data() + m_cellFirst[cell];
            const std::uint8_t* end = candidate + m_cellCount[cell];
            int best = 0;
            int bestDistance = 0x7FFFFFFF;
            for (; candidate != end; ++candidate) {
                const TRgb& entry = m_palette[*candidate];
                const int dr = r - entry.r;
                const int dg = g - entry.g;
                const int db = b - entry.b;
                const int distance = dr * dr + dg * dg + db * db;
                if (distance < bestDistance) {
                    bestDistance = distance;
                    best = *candidate;
                    if (distance == 0)
                        break;
                }
            }
            slot = Entry { key, best };
            return best;
        }

    private:
        static constexpr int CellBits = 3;
        static constexpr int AxisBits = 8 - CellBits;
        static constexpr std::size_t CellCount = std::size_t { 1 } << (3 * AxisBits);
        static constexpr std::size_t CacheSize = 1 << 15;
        struct Entry {
            std::uint32_t key;
            int index;
        };

        void FindCandidates(std::size_t cell, int r, int g, int b)
        {
            const int low[3] = { r >> CellBits << CellBits, g >> CellBits << CellBits,
                b >> CellBits << CellBits };
            constexpr int side = (1 << CellBits) - 1;
            std::vector<int> nearest(m_palette.size());
            int smallestFarthest = 0x7FFFFFFF;
            for (std::size_t i = 0; i < m_palette.size(); ++i) {
                const int value[3] = { m_palette[i].r, m_palette[i].g, m_palette[i].b };
                int near = 0;
                int far = 0;
                for (int c = 0; c < 3; ++c) {
                    const int below = low[c] - value[c]; // > 0: the entry lies below the cell
                    const int above = value[c] - (low[c] + side); // > 0: above it
                    const int inside = below > 0 ? below : above > 0 ? above : 0;
                    near += inside * inside;
                    const int toLow = value[c] - low[c];
                    const int toHigh = value[c] - (low[c] + side);
                    const int farthest = std::max(toLow * toLow, toHigh * toHigh);
                    far += farthest;
                }
                nearest[i] = near;
                smallestFarthest = std::min(smallestFarthest, far);
            }
            m_cellFirst[cell] = static_cast<int>(m_candidates.size());
            for (std::size_t i = 0; i < m_palette.size(); ++i)
                if (nearest[i] <= smallestFarthest)
                    m_candidates.push_back(static_cast<std::uint8_t>(i));
            m_cellCount[cell] = static_cast<int>(m_candidates.size()) - m_cellFirst[cell];
        }

        const std::vector<TRgb>& m_palette;
        std::vector<Entry> m_cache;
        std::vector<int> m_cellFirst; // -1 until the cell's candidates are known
        std::vector<int> m_cellCount;
        std::vector<std::uint8_t> m_candidates;
    };

    // Errors of small magnitude pass unchanged, larger ones are damped and capped at 32, so that
    // a smooth area keeps its dither while a hard edge does not smear across the next pixels.
    int LimitError(int e)
    {
        const int magnitude = e < 0 ? -e : e;
        int limited = 32;
        if (magnitude < 16)
            limited = magnitude;
        else if (magnitude < 48)
            limited = 16 + (magnitude - 16) / 2;
        return e < 0 ? -limited : limited;
    }

} // namespace

TReducedImage ReduceToPalette(const TBitmap& source)
{
    if (source.BitsPerPixel() != 24)
        throw EError(TCode::ReduceDepth);
    const int width = source.Width();
    const int height = source.Height();

    TOctree tree;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* p = source.ScanLine(y);
        for (int x = 0; x < width; ++x, p += 3)
            tree.Add(p[2], p[1], p[0]);
    }
    const std::vector<TRgb> colours = tree.Palette();

    TReducedImage result;
    result.bitmap = TBitmap(width, height, 8);
    std::copy(colours.begin(), colours.end(), result.bitmap.Palette().begin());
    result.colourCount = static_cast<int>(colours.size());
    if (colours.empty())
        return result;

    TNearest nearest(colours);
    int limit[511];
    for (int e = -255; e <= 255; ++e)
        limit[e + 255] = LimitError(e);

    // Errors in sixteenths; one spare entry on each side so "behind" and "ahead" never leave
    // the array at the row's ends.
    const std::size_t columns = static_cast<std::size_t>(width) + 2;
    std::array<std::vector<int>, 3> current, below;
    for (int c = 0; c < 3; ++c) {
        current[c].assign(columns, 0);
        below[c].assign(columns, 0);
    }
    for (int y = 0; y < height; ++y) {
        const int dir = (y % 2 == 0) ? 1 : -1;
        const std::uint8_t* src = source.ScanLine(y);
        std::uint8_t* dst = result.bitmap.ScanLine(y);
        std::array<int, 3> carry = { 0, 0, 0 };
        for (int c = 0; c < 3; ++c)
            std::fill(below[c].begin(), below[c].end(), 0);
        for (int i = 0; i < width; ++i) {
            const int x = dir > 0 ? i : width - 1 - i;
            const std::size_t at = static_cast<std::size_t>(x) + 1;
            std::array<int, 3> wanted;
            for (int c = 0; c < 3; ++c) {
                // Channel c: 0 red, 1 green, 2 blue; the source bytes run blue, green, red.
                int e = (carry[c] + current[c][at] + 8) / 16; // truncates toward zero
                e = limit[std::clamp(e, -255, 255) + 255];
                wanted[c] = std::clamp(src[3 * x + 2 - c] + e, 0, 255);
            }
            const int index = nearest.Find(wanted[0], wanted[1], wanted[2]);
            dst[x] = static_cast<std::uint8_t>(index);
            const TRgb chosen = colours[static_cast<std::size_t>(index)];
            const int chosenChannel[3] = { chosen.r, chosen.g, chosen.b };
            for (int c = 0; c < 3; ++c) {
                const int e = wanted[c] - chosenChannel[c];
                carry[c] = 7 * e;
                below[c][at - dir] += 3 * e;
                below[c][at] += 5 * e;
                below[c][at + dir] += e;
            }
        }
        std::swap(current, below);
    }
    return result;
}

} // namespace parvula::imaging
