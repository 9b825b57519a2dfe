// Weight lists and the separable two-pass resampler.
//
// Numbers follow one rule: scales, centres, widths, kernel arguments, weights and channel sums
// are floats, each computed in double and rounded to float where it is stored. The output bytes
// are the reference for any faster variant of these loops, so the order of the additions and
// every rounding point are fixed here.
#include "imaging/picstretch1.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cassert>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

#include "imaging/imagefiles_internal.h"
#include "imaging/picstretch1_simd.h"

namespace parvula::imaging {

namespace {

    // A channel sum to a byte: clamped first, then rounded half to even. Written out rather
    // than left to the floating-point environment's rounding mode.
    std::uint8_t SumToByte(float sum)
    {
        if (sum > 255.0f)
            return 255;
        if (sum < 0.0f)
            return 0;
        const float whole = std::floor(sum);
        const float fraction = sum - whole; // exact: both lie in 0 .. 255
        int byte = static_cast<int>(whole);
        if (fraction > 0.5f || (fraction == 0.5f && (byte & 1) != 0))
            ++byte;
        return static_cast<std::uint8_t>(byte);
    }

    // Mirrors a position outside 0 .. length - 1 back into the line: about the first pixel
    // (which is not repeated) on the left, about the outer edge of the last pixel (which is
    // repeated) on the right. A kernel wider than the whole line can mirror past the other end;
    // such a position reads the nearest pixel of the line instead of memory beside it.
    int SourceIndex(int j, int length)
    {
        int n = j;
        if (j < 0)
            n = -j;
        else if (j >= length)
            n = 2 * length - 1 - j;
        return std::clamp(n, 0, length - 1);
    }

} // namespace

float ResampleScale(int destLength, int sourceLength)
{
    // Corner alignment maps the first and last pixels onto each other, which needs at least two
    // pixels on both sides; a single pixel on either side scales by the plain ratio instead.
    if (sourceLength == 1 || destLength <= 1)
        return static_cast<float>(static_cast<double>(destLength) / sourceLength);
    return static_cast<float>(static_cast<double>(destLength - 1) / (sourceLength - 1));
}

TWeightLists BuildWeightLists(
    int destLength, int sourceLength, float scale, TFilterFunc filter, float support)
{
    TWeightLists lists;
    if (destLength <= 0)
        return lists;
    if (sourceLength < 1)
        throw EError(TCode::SourceBitmapTooSmall);
    if (!(scale > 0.0f) || filter == nullptr)
        throw EError(TCode::ResampleInvalidScale);
    lists.resize(static_cast<std::size_t>(destLength));

    // Shrinking widens the kernel by 1 / scale and flattens it by the same factor, so every
    // source pixel under the wider window contributes.
    const bool shrinking = scale < 1.0f;
    float width = support;
    float fscale = 1.0f;
    if (shrinking) {
        width = static_cast<float>(static_cast<double>(support) / scale);
        fscale = static_cast<float>(1.0 / scale);
    }

    for (int i = 0; i < destLength; ++i) {
        TWeightList& list = lists[static_cast<std::size_t>(i)];
        const float centre = static_cast<float>(static_cast<double>(i) / scale);
        const int left = static_cast<int>(std::floor(static_cast<double>(centre) - width));
        const int right = static_cast<int>(std::ceil(static_cast<double>(centre) + width));
        list.reserve(static_cast<std::size_t>(right - left + 1));
        for (int j = left; j <= right; ++j) {
            float weight;
            if (shrinking) {
                const float arg = static_cast<float>((static_cast<double>(centre) - j) / fscale);
                weight = static_cast<float>(static_cast<double>(filter(arg)) / fscale);
            } else {
                weight = filter(static_cast<float>(static_cast<double>(centre) - j));
            }
            if (weight == 0.0f)
                continue;
            list.push_back(TWeight { SourceIndex(j, sourceLength), weight });
        }
    }
    return lists;
}

void ApplyWeightLists(const std::uint8_t* input, std::ptrdiff_t inputStep,
    const TWeightLists& lists, std::uint8_t* output, std::ptrdiff_t outputStep)
{
    for (const TWeightList& list : lists) {
        float sumB = 0.0f;
        float sumG = 0.0f;
        float sumR = 0.0f;
        // Each sum is rounded to float after every entry, in list order; the product of a byte
        // and a float is exact in double, so only the addition rounds.
        for (const TWeight& entry : list) {
            const std::uint8_t* pixel = input + entry.index * inputStep;
            const double w = entry.weight;
            sumB = static_cast<float>(sumB + pixel[0] * w);
            sumG = static_cast<float>(sumG + pixel[1] * w);
            sumR = static_cast<float>(sumR + pixel[2] * w);
        }
        output[0] = SumToByte(sumB);
        output[1] = SumToByte(sumG);
        output[2] = SumToByte(sumR);
        output += outputStep;
    }
}

namespace {

    // The value of the last set bit of a float's significand (0 for zero and subnormals, which
    // the test below then refuses).
    double LastBitValue(float value)
    {
        const std::uint32_t bits = std::bit_cast<std::uint32_t>(value) & 0x7FFFFFFFU;
        if (bits < 0x00800000U)
            return 0.0;
        // value = significand * 2^(biased exponent - 150), significand a whole number below
        // 2^24; the last set bit of the significand gives the power of two, a normal double.
        const std::uint32_t significand = (bits & 0x007FFFFFU) | 0x00800000U;
        const int power = static_cast<int>(bits >> 23) - 150 + std::countr_zero(significand);
        return std::bit_cast<double>(static_cast<std::uint64_t>(1023 + power) << 52);
    }

    // A threshold as a float no smaller than the exact value.
    float RoundedUp(double value)
    {
        float rounded = static_cast<float>(value);
        if (static_cast<double>(rounded) < value)
            rounded = std::nextafter(rounded, std::numeric_limits<float>::infinity());
        return rounded;
    }

    // The fused-operation thresholds of one list's entries (see TFlatWeights).
    void MarkFusedEntries(const TWeightList& list, std::vector<float>& fusedAbove)
    {
        double smallestBit = std::numeric_limits<double>::infinity();
        double before = 0.0; // sum of the magnitudes of the earlier weights
        // How far the rounded float sums may outgrow the exact bound: each rounding adds at most
        // 2^-24 of the sum (2^-22 leaves room for the step through double).
        double growth = 1.0;
        for (const TWeight& entry : list) {
            const double w = std::fabs(static_cast<double>(entry.weight));
            const double bit = LastBitValue(entry.weight);
            smallestBit = std::min(smallestBit, bit);
            const double magnitude = before + w;
            growth *= 1.0 + 0x1p-22;
            float threshold = 0.0f;
            if (!(smallestBit > 0.0 && 255.0 * magnitude * growth <= smallestBit * 0x1p53)) {
                if (bit > 0.0 && 1024.0 * before * growth + 256.0 * w <= bit * 0x1p53)
                    threshold = RoundedUp(510.0 * w * 0x1p-28);
                else
                    threshold = RoundedUp(510.0 * w * 0x1p27);
                threshold = std::max(threshold, std::numeric_limits<float>::min());
            }
            fusedAbove.push_back(threshold);
            before = magnitude;
        }
    }

} // namespace

TFlatWeights::TFlatWeights(const TWeightLists& lists)
{
    std::size_t entries = 0;
    for (const TWeightList& list : lists)
        entries += list.size();
    index.reserve(entries);
    weight.reserve(entries);
    weightFloat.reserve(entries);
    fusedAbove.reserve(entries);
    start.reserve(lists.size() + 1);
    start.push_back(0);
    for (const TWeightList& list : lists) {
        for (const TWeight& entry : list) {
            index.push_back(entry.index);
            weight.push_back(entry.weight);
            weightFloat.push_back(entry.weight);
        }
        start.push_back(static_cast<int>(index.size()));
        int low = 0;
        int high = 0;
        if (!list.empty()) {
            const auto [min, max] = std::minmax_element(list.begin(), list.end(),
                [](const TWeight& a, const TWeight& b) { return a.index < b.index; });
            low = min->index;
            high = max->index;
        }
        lowest.push_back(low);
        highest.push_back(high);
        int step = list.empty() ? 0 : 1;
        if (list.size() >= 2) {
            step = list[1].index - list[0].index;
            for (std::size_t e = 1; e < list.size() && (step == 1 || step == -1); ++e)
                if (list[e].index - list[e - 1].index != step)
                    step = 0;
            if (step != 1 && step != -1)
                step = 0;
        }
        runFirst.push_back(list.empty() ? 0 : list.front().index);
        runStep.push_back(step);
        const std::size_t first = fusedAbove.size();
        MarkFusedEntries(list, fusedAbove);
        std::size_t checked = first;
        while (checked < fusedAbove.size() && fusedAbove[checked] == 0.0f)
            ++checked;
        checkedFrom.push_back(static_cast<int>(checked - first));
    }
}

void TFlatWeights::PlaceInRing(int columns)
{
    offset.resize(index.size());
    for (std::size_t e = 0; e < index.size(); ++e)
        offset[e] = (index[e] & (columns - 1)) * 3 * 16;
}

int TurnedBytesFor(const TFlatWeights& weights, int first, int last, int bytes)
{
    int high = 0;
    for (int k = first; k <= last; ++k)
        high = std::max(high, weights.highest[static_cast<std::size_t>(k)]);
    const long long need = 3LL * (high + 1);
    return static_cast<int>(std::min<long long>(bytes, (need + 63) / 64 * 64));
}

int RingColumns(const TFlatWeights& weights, int sourceWidth, int group)
{
    const int bytes = 3 * sourceWidth;
    int columns = 256; // 3 * columns bytes: a whole number of the 64-byte steps
    for (; columns < sourceWidth; columns *= 2) {
        const long long ringBytes = 3LL * columns;
        int done = 0;
        bool fits = true;
        for (int i = 0; i < weights.Count() && fits; i += group) {
            const int last = std::min(weights.Count(), i + group) - 1;
            done = std::max(done, TurnedBytesFor(weights, i, last, bytes));
            for (int k = i; k <= last; ++k)
                fits
                    = fits && 3LL * weights.lowest[static_cast<std::size_t>(k)] >= done - ringBytes;
        }
        if (fits)
            break;
    }
    assert(3 * columns % 64 == 0);
    return columns;
}

void VerticalBytesScalar(const std::uint8_t* work, std::ptrdiff_t workStride,
    const TFlatWeights& weights, int k, std::uint8_t* out, int from, int to)
{
    const int first = weights.start[static_cast<std::size_t>(k)];
    const int end = weights.start[static_cast<std::size_t>(k) + 1];
    for (int b = from; b < to; ++b) {
        float sum = 0.0f;
        for (int e = first; e < end; ++e) {
            const std::uint8_t value
                = work[weights.index[static_cast<std::size_t>(e)] * workStride + b];
            sum = static_cast<float>(sum + value * weights.weight[static_cast<std::size_t>(e)]);
        }
        out[b] = SumToByte(sum);
    }
}

namespace {

    // -1 until the first use reads the environment.
    std::atomic<int> g_simdLevel { -1 };

    TSimdLevel LevelFromEnvironment()
    {
        const char* text = std::getenv("PARVULA_SIMD");
        const std::string_view name = text ? text : "";
        if (name == "scalar")
            return TSimdLevel::Scalar;
        if (name == "sse2")
            return TSimdLevel::Sse2;
        if (name == "avx2")
            return TSimdLevel::Avx2;
        return TSimdLevel::Avx512;
    }

    // The vertical pass catches up after every 16 source rows (a whole number of every level's
    // blocks): measured, waiting for more rows only made the ring of work rows larger and the
    // decoder slower.
    constexpr int kCatchUpRows = 16;

    // A turned picture's first pass reads a whole window of decoded rows for each line it
    // makes. Lines are made after every 64 rows, several at once, a stretch of bytes at a time,
    // so that the window's stretch stays in the cache for all of them.
    constexpr int kTurnedCatchUpRows = 64;
    constexpr int kTurnedStretchBytes = 2048;

    // Waiting for more lines keeps more decoded rows: at most this much more than making each
    // line alone would (a very small box from a large photo waits for fewer lines).
    constexpr long long kTurnedWaitingBytes = 4LL << 20;

    // The lines of a turned picture's first pass that can be made once rows 0 .. read - 1 are
    // in: next .. the returned line - 1. Lines wait until linesAtOnce of them are ready
    // together (all that are left, after the last row), so that they are made in whole groups.
    int TurnedLinesReady(
        const TFlatWeights& rows, int linesAtOnce, int next, int read, int sourceHeight)
    {
        int last = next;
        while (last < rows.Count() && rows.highest[static_cast<std::size_t>(last)] < read)
            ++last;
        if (read < sourceHeight)
            last = next + (last - next) / linesAtOnce * linesAtOnce;
        return last;
    }

    // The ring of decoded rows a turned picture's first pass needs: the rows from the lowest
    // one a waiting line reads up to the last one read (any count: the indices are folded
    // into it once), or every stored row when that is not fewer.
    int TurnedWorkRows(const TFlatWeights& rows, int linesAtOnce, int sourceHeight)
    {
        int ring = std::min(sourceHeight, kTurnedCatchUpRows);
        int next = 0;
        for (int read = 0; read < sourceHeight;) {
            read = std::min(sourceHeight, read + kTurnedCatchUpRows);
            const int last = TurnedLinesReady(rows, linesAtOnce, next, read, sourceHeight);
            for (; next < last; ++next)
                ring = std::max(ring, read - rows.lowest[static_cast<std::size_t>(next)]);
        }
        return std::min(ring, sourceHeight);
    }

    // The most lines made at once, up to most, whose waiting stays within kTurnedWaitingBytes;
    // sets the ring's rows for it.
    int LinesAtOnceWithin(
        const TFlatWeights& rows, int most, int sourceWidth, int sourceHeight, int& ringRows)
    {
        const long long rowBytes = 3LL * sourceWidth;
        const int alone = TurnedWorkRows(rows, 1, sourceHeight);
        for (int lines = most; lines > 1; --lines) {
            ringRows = TurnedWorkRows(rows, lines, sourceHeight);
            if ((ringRows - alone) * rowBytes <= kTurnedWaitingBytes)
                return lines;
        }
        ringRows = alone;
        return 1;
    }

    // The horizontal pass's result for the vector loops: destination width, and as many rows
    // as the vertical pass still needs while the horizontal one goes on (a ring of a power of
    // two rows), or every source row when that is not fewer.
    int WorkRows(const TFlatWeights& rows, int sourceHeight, int catchUpRows)
    {
        // lowestFrom[k]: the smallest row that destination rows k on still read.
        std::vector<int> lowestFrom(rows.lowest.size() + 1, std::numeric_limits<int>::max());
        for (std::size_t k = rows.lowest.size(); k-- > 0;)
            lowestFrom[k] = std::min(lowestFrom[k + 1], rows.lowest[k]);
        for (int ring = 64; ring < sourceHeight; ring *= 2) {
            bool fits = true;
            std::size_t next = 0; // the first destination row not yet computed
            for (int y = 0; y < sourceHeight && fits; y += catchUpRows) {
                // Rows y .. y + catchUpRows - 1 take the places of rows y - ring on.
                fits = lowestFrom[next] >= y + catchUpRows - ring;
                const int ready = std::min(sourceHeight, y + catchUpRows);
                while (next < rows.highest.size() && rows.highest[next] < ready)
                    ++next;
            }
            if (fits)
                return ring;
        }
        return sourceHeight;
    }

    // Everything both passes need that depends only on the sizes, the kernel and the level: a
    // folder of photos from one camera has one or two sizes, so the last few are kept and
    // shared by the workers (read only).
    struct TPassPlan {
        TWeightLists columnLists; // the plain loops' (empty for the vector levels)
        TWeightLists rowLists;
        // The vector levels' tables, placed in their rings; empty for the plain loops.
        std::optional<TFlatWeights> columns;
        std::optional<TFlatWeights> rows;
        int ring = 0;
        int workRows = 0;
        int linesAtOnce = 1; // a turned picture's first pass (LinesAtOnceWithin)
    };

    struct TPlanKey {
        int dw, sw, dh, sh; // sw and sh as stored, dw and dh upright
        TFilterFunc filter;
        float support;
        TSimdLevel level;
        int orientation; // 1 to 8
        friend bool operator==(const TPlanKey&, const TPlanKey&) = default;
    };

    // What an orientation does to the stored picture. Upright row y of a turned (5 to 8)
    // picture is stored column y (or sw - 1 - y with storedColumnsReversed), read downwards
    // through the stored rows (upwards with storedRowsReversed). For 2 to 4 the stored rows
    // are the upright ones, mirrored and in reverse order as the flags say.
    struct TTurn {
        bool transposed;
        bool mirrored; // 2, 3: each row reversed
        bool flipped; // 3, 4: the rows in reverse order
        bool storedRowsReversed; // 6, 7
        bool storedColumnsReversed; // 7, 8
    };

    TTurn TurnOf(int orientation)
    {
        const int o = orientation;
        return TTurn { o >= 5 && o <= 8, o == 2 || o == 3, o == 3 || o == 4, o == 6 || o == 7,
            o == 7 || o == 8 };
    }

    // The lists of a line read backwards: the list of position p is that of length - 1 - p of
    // the line as it was, every index counted from the other end. Each list keeps the order of
    // its entries, so every sum adds the same values in the same order as before.
    TWeightLists Mirrored(TWeightLists lists, int length)
    {
        std::reverse(lists.begin(), lists.end());
        for (TWeightList& list : lists)
            for (TWeight& entry : list)
                entry.index = length - 1 - entry.index;
        return lists;
    }

    // The plan of a turned picture (5 to 8): the upright picture's horizontal pass runs down
    // the stored columns (rowLists, one list per upright destination column, over the stored
    // rows, read from a ring of decoded rows), then its vertical pass along the rows that first
    // pass gives (columnLists, one list per destination row, over the stored columns).
    std::shared_ptr<const TPassPlan> MakeTurnedPlan(const TPlanKey& key)
    {
        const TTurn turn = TurnOf(key.orientation);
        auto plan = std::make_shared<TPassPlan>();
        TWeightLists across = BuildWeightLists(
            key.dw, key.sh, ResampleScale(key.dw, key.sh), key.filter, key.support);
        TWeightLists down = BuildWeightLists(
            key.dh, key.sw, ResampleScale(key.dh, key.sw), key.filter, key.support);
        plan->rowLists
            = turn.storedRowsReversed ? Mirrored(std::move(across), key.sh) : std::move(across);
        plan->columnLists
            = turn.storedColumnsReversed ? Mirrored(std::move(down), key.sw) : std::move(down);
        TFlatWeights& rows = plan->rows.emplace(plan->rowLists);
        plan->linesAtOnce
            = LinesAtOnceWithin(rows, TurnedLinesAtOnce(key.level), key.sw, key.sh, plan->workRows);
        if (plan->workRows < key.sh)
            for (int& index : rows.index)
                index %= plan->workRows;
        plan->rowLists = {};
        if (key.level == TSimdLevel::Scalar)
            return plan;
        TFlatWeights& columns = plan->columns.emplace(plan->columnLists);
        const int group = key.level == TSimdLevel::Avx512 ? 2 : 1;
        plan->ring = key.level == TSimdLevel::Sse2 ? key.sw : RingColumns(columns, key.sw, group);
        if (key.level != TSimdLevel::Sse2)
            columns.PlaceInRing(plan->ring);
        plan->columnLists = {};
        return plan;
    }

    std::shared_ptr<const TPassPlan> MakePlan(const TPlanKey& key)
    {
        const TTurn turn = TurnOf(key.orientation);
        if (turn.transposed)
            return MakeTurnedPlan(key);
        auto plan = std::make_shared<TPassPlan>();
        plan->columnLists = BuildWeightLists(
            key.dw, key.sw, ResampleScale(key.dw, key.sw), key.filter, key.support);
        plan->rowLists = BuildWeightLists(
            key.dh, key.sh, ResampleScale(key.dh, key.sh), key.filter, key.support);
        // Mirrored lists still run from left to right (and from the top), so the passes read
        // the stored rows as they come; the result is mirrored back once it is small.
        if (turn.mirrored)
            plan->columnLists = Mirrored(std::move(plan->columnLists), key.sw);
        if (turn.flipped)
            plan->rowLists = Mirrored(std::move(plan->rowLists), key.sh);
        if (key.level == TSimdLevel::Scalar)
            return plan;
        TFlatWeights& columns = plan->columns.emplace(plan->columnLists);
        TFlatWeights& rows = plan->rows.emplace(plan->rowLists);
        const int group = key.level == TSimdLevel::Avx512 ? 2 : 1;
        // SSE2 turns whole rows into doubles of its own layout; the others use the ring.
        plan->ring = key.level == TSimdLevel::Sse2 ? key.sw : RingColumns(columns, key.sw, group);
        if (key.level != TSimdLevel::Sse2)
            columns.PlaceInRing(plan->ring);
        plan->workRows = WorkRows(rows, key.sh, kCatchUpRows);
        if (plan->workRows < key.sh)
            for (int& index : rows.index)
                index &= plan->workRows - 1;
        // The vector loops read only the flat tables; the lists need not be kept.
        plan->columnLists = {};
        plan->rowLists = {};
        return plan;
    }

    std::shared_ptr<const TPassPlan> PlanFor(const TPlanKey& key)
    {
        constexpr std::size_t kKept = 4;
        static std::mutex mutex;
        static std::deque<std::pair<TPlanKey, std::shared_ptr<const TPassPlan>>> kept;
        {
            const std::lock_guard<std::mutex> lock(mutex);
            for (auto it = kept.begin(); it != kept.end(); ++it)
                if (it->first == key) {
                    auto found = *it;
                    kept.erase(it);
                    kept.push_front(found);
                    return found.second;
                }
        }
        // Built outside the lock: another worker's photo of a new size need not wait for it.
        auto plan = MakePlan(key);
        const std::lock_guard<std::mutex> lock(mutex);
        // Workers that started on photos of one size together built it each: one is kept.
        for (const auto& entry : kept)
            if (entry.first == key)
                return entry.second;
        kept.emplace_front(key, plan);
        if (kept.size() > kKept)
            kept.pop_back();
        return plan;
    }

    // Runs both passes into dest, which prepare() makes ready once everything that can fail
    // before the first pixel is done. fetch(y, count) gives pointers to count consecutive
    // source rows from row y on, each 3 * sw bytes; rows are asked for once each, from the top.
    // The vector loops compute each destination row as soon as its work rows exist.
    // An orientation of 2 to 4 leaves dest mirrored and flipped as the stored picture is; the
    // caller turns the small result.
    template <typename TPrepare, typename TFetch>
    void ResamplePasses(int sw, int sh, TPrepare prepare, TFetch fetch, TBitmap& dest,
        TFilterFunc filter, float support, TSimdLevel level, int orientation = 1)
    {
        const int dw = dest.Width();
        const int dh = dest.Height();
        // Every level refuses what the plain loops cannot hold, though the vector loops keep
        // only a ring of work rows: the levels stay comparable at every size. Refused before
        // any table is made, so none is kept for such a size.
        CheckImageSize(dw, sh, "Bitmap");
        const auto plan = PlanFor(TPlanKey { dw, sw, dh, sh, filter, support, level, orientation });
        const TWeightLists& columnLists = plan->columnLists;
        const TWeightLists& rowLists = plan->rowLists;
        if (level == TSimdLevel::Scalar) {
            TBitmap work(dw, sh, 24);
            prepare();
            if (dw == 0 || dh == 0)
                return;
            for (int y = 0; y < sh; ++y)
                ApplyWeightLists(fetch(y, 1)[0], 3, columnLists, work.ScanLine(y), 3);
            const auto workStride = static_cast<std::ptrdiff_t>(work.Stride());
            const auto destStride = static_cast<std::ptrdiff_t>(dest.Stride());
            for (int x = 0; x < dw; ++x)
                ApplyWeightLists(work.ScanLine(0) + 3 * x, workStride, rowLists,
                    dest.ScanLine(0) + 3 * x, destStride);
            return;
        }

        const TFlatWeights& columns = *plan->columns;
        const TFlatWeights& rows = *plan->rows;
        const int blockRows = HorizontalBlockRows(level);
        assert(kCatchUpRows % blockRows == 0);
        const int ring = plan->ring;
        const int workRows = plan->workRows;
        TBitmap work(dw, workRows, 24);
        // One block of source rows turned on its side: floats for AVX2 and AVX-512, doubles for
        // SSE2, 64-byte aligned (16 spare values of either kind cover the shift).
        const std::size_t values
            = static_cast<std::size_t>(ring) * 3 * static_cast<std::size_t>(blockRows);
        std::vector<float> floatStore(level == TSimdLevel::Sse2 ? 0 : values + 16);
        std::vector<double> doubleStore(level == TSimdLevel::Sse2 ? values + 16 : 0);
        std::vector<std::uint8_t*> outs(static_cast<std::size_t>(blockRows));
        prepare();
        if (dw == 0 || dh == 0)
            return;
        float* floats = floatStore.data();
        while (reinterpret_cast<std::uintptr_t>(floats) % 64 != 0)
            ++floats;
        double* doubles = doubleStore.data();
        while (reinterpret_cast<std::uintptr_t>(doubles) % 64 != 0)
            ++doubles;
        const auto workStride = static_cast<std::ptrdiff_t>(work.Stride());
        int next = 0; // the first destination row not yet computed
        for (int y = 0; y < sh; y += blockRows) {
            const int count = std::min(blockRows, sh - y);
            const std::uint8_t* const* source = fetch(y, count);
            for (int r = 0; r < count; ++r)
                outs[static_cast<std::size_t>(r)] = work.ScanLine((y + r) % workRows);
#if PARVULA_SIMD_X86
            if (level == TSimdLevel::Avx512)
                HorizontalBlockAvx512(source, count, sw, columns, ring, outs.data(), floats);
            else if (level == TSimdLevel::Avx2)
                HorizontalBlockAvx2(source, count, sw, columns, ring, outs.data(), floats);
            else
                HorizontalBlockSse2(source, count, sw, columns, outs.data(), doubles);
            // The destination rows whose work rows are all there, every so many source rows.
            const int ready = y + count;
            if (ready % kCatchUpRows != 0 && ready != sh)
                continue;
            for (; next < dh && rows.highest[static_cast<std::size_t>(next)] < ready; ++next) {
                // The ring still holds every row this destination row reads.
                assert(workRows == sh
                    || rows.lowest[static_cast<std::size_t>(next)] >= ready - workRows);
                if (level >= TSimdLevel::Avx2)
                    VerticalRowAvx2(
                        work.ScanLine(0), workStride, rows, next, dest.ScanLine(next), 3 * dw);
                else
                    VerticalRowSse2(
                        work.ScanLine(0), workStride, rows, next, dest.ScanLine(next), 3 * dw);
            }
#endif
        }
    }

} // namespace

int TurnedLinesAtOnce(TSimdLevel level)
{
    switch (level) {
    case TSimdLevel::Avx512:
        return kLinesAtOnce;
    case TSimdLevel::Avx2:
        return 2;
    case TSimdLevel::Sse2:
    case TSimdLevel::Scalar:
        break;
    }
    return 1;
}

int HorizontalBlockRows(TSimdLevel level)
{
    switch (level) {
    case TSimdLevel::Avx512:
    case TSimdLevel::Avx2:
        return 16;
    case TSimdLevel::Sse2:
        return 8;
    case TSimdLevel::Scalar:
        break;
    }
    return 1;
}

TSimdLevel SupportedSimdLevel()
{
#if PARVULA_SIMD_X86 && (defined(__GNUC__) || defined(__clang__))
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("fma"))
        return TSimdLevel::Sse2;
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")
        && __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vbmi"))
        return TSimdLevel::Avx512;
    return TSimdLevel::Avx2;
#elif PARVULA_SIMD_X86
    return TSimdLevel::Sse2;
#else
    return TSimdLevel::Scalar;
#endif
}

TSimdLevel ActiveSimdLevel()
{
    const int level = g_simdLevel.load(std::memory_order_relaxed);
    if (level >= 0)
        return static_cast<TSimdLevel>(level);
    return SetSimdLevel(LevelFromEnvironment());
}

TSimdLevel SetSimdLevel(TSimdLevel level)
{
    const TSimdLevel used = std::min(level, SupportedSimdLevel());
    g_simdLevel.store(static_cast<int>(used), std::memory_order_relaxed);
    return used;
}

namespace {

    // Before anything else is done, so a failure leaves the destination untouched.
    void CheckResampleSource(int width, int height, TFilterFunc filter)
    {
        if (width < 1 || height < 1)
            throw EError(TCode::SourceBitmapTooSmall);
        if (filter == nullptr)
            throw EError(TCode::ResampleNoKernel);
    }

} // namespace

void Resample(TBitmap& source, TBitmap& dest, TFilterFunc filter, float support)
{
    const int sw = source.Width();
    const int sh = source.Height();
    CheckResampleSource(sw, sh, filter);

    std::vector<const std::uint8_t*> rows(
        static_cast<std::size_t>(HorizontalBlockRows(ActiveSimdLevel())));
    ResamplePasses(
        sw, sh,
        [&] {
            source.ConvertTo24();
            dest.ConvertTo24();
        },
        [&](int y, int count) {
            rows.resize(static_cast<std::size_t>(count));
            for (int r = 0; r < count; ++r)
                rows[static_cast<std::size_t>(r)] = source.ScanLine(y + r);
            return rows.data();
        },
        dest, filter, support, ActiveSimdLevel());
}

namespace {

    // Turns a result of the passes for orientations 2 to 4 into the upright one: only moves
    // finished pixels, so the bytes stay those of the upright picture's passes.
    void TurnResult(TBitmap& dest, const TTurn& turn)
    {
        const int dw = dest.Width();
        const int dh = dest.Height();
        if (turn.mirrored)
            for (int y = 0; y < dh; ++y) {
                std::uint8_t* row = dest.ScanLine(y);
                for (int a = 0, b = dw - 1; a < b; ++a, --b)
                    std::swap_ranges(row + 3 * a, row + 3 * a + 3, row + 3 * b);
            }
        if (turn.flipped)
            for (int a = 0, b = dh - 1; a < b; ++a, --b)
                std::swap_ranges(dest.ScanLine(a), dest.ScanLine(a) + 3 * dw, dest.ScanLine(b));
    }

    // Lines first .. last - 1 in groups of up to linesAtOnce neighbours whose lists run the
    // same way; a line whose list is no run makes a group of its own.
    std::vector<TLineGroup> LineGroups(
        const TFlatWeights& rows, int linesAtOnce, int first, int last, TBitmap& lines)
    {
        std::vector<TLineGroup> groups;
        for (int p = first; p < last;) {
            TLineGroup group;
            const int step = rows.runStep[static_cast<std::size_t>(p)];
            group.step = step == 0 ? 1 : step;
            int count = 1;
            while (step != 0 && count < linesAtOnce && p + count < last
                && rows.runStep[static_cast<std::size_t>(p + count)] == step)
                ++count;
            group.count = count;
            group.firstRow = rows.runFirst[static_cast<std::size_t>(p)];
            for (int l = 0; l < count; ++l) {
                const int first = rows.runFirst[static_cast<std::size_t>(p + l)];
                group.firstRow = group.step > 0 ? std::min(group.firstRow, first)
                                                : std::max(group.firstRow, first);
            }
            for (int l = 0; l < count; ++l) {
                const auto at = static_cast<std::size_t>(p + l);
                group.line[l] = p + l;
                group.from[l] = group.step * (rows.runFirst[at] - group.firstRow);
                group.span
                    = std::max(group.span, group.from[l] + rows.start[at + 1] - rows.start[at]);
                group.out[l] = lines.ScanLine(p + l);
            }
            groups.push_back(group);
            p += count;
        }
        return groups;
    }

    // Orientations 5 to 8: the upright picture's rows are the stored columns. Its horizontal
    // pass becomes a pass down the stored columns, computed as the decoded rows arrive into a
    // ring; it gives one line per destination column, as long as a stored row. Its vertical
    // pass then runs along those lines, and each of its results is a destination column.
    void ResampleTurned(TRowReader& source, TBitmap& dest, TFilterFunc filter, float support,
        int orientation, TSimdLevel level)
    {
        const int sw = source.Width();
        const int sh = source.Height();
        const int dw = dest.Width();
        const int dh = dest.Height();
        // The lines of the first pass are what the upright picture's intermediate image holds.
        CheckImageSize(dw, sw, "Bitmap");
        const TTurn turn = TurnOf(orientation);
        const auto plan = PlanFor(TPlanKey { dw, sw, dh, sh, filter, support, level, orientation });
        const TFlatWeights& down = *plan->rows;
        const int ringRows = plan->workRows;
        const std::size_t rowBytes = static_cast<std::size_t>(sw) * 3;
        std::vector<std::uint8_t> ring(rowBytes * static_cast<std::size_t>(ringRows));
        TBitmap lines(sw, dw, 24);
        dest.ConvertTo24();
        if (dw == 0 || dh == 0)
            return;

        const auto bytes = static_cast<int>(rowBytes);
        const auto stride = static_cast<std::ptrdiff_t>(rowBytes);
        int next = 0; // the first line not yet computed
        for (int y = 0; y < sh;) {
            const int count = std::min(kTurnedCatchUpRows, sh - y);
            for (int r = 0; r < count; ++r)
                source.ReadRow(
                    ring.data() + rowBytes * static_cast<std::size_t>((y + r) % ringRows));
            y += count;
            const int last = TurnedLinesReady(down, plan->linesAtOnce, next, y, sh);
            const std::vector<TLineGroup> groups
                = LineGroups(down, plan->linesAtOnce, next, last, lines);
            for (int b = 0; b < bytes; b += kTurnedStretchBytes) {
                const int end = std::min(bytes, b + kTurnedStretchBytes);
                for (const TLineGroup& group : groups) {
                    assert(ringRows == sh
                        || down.lowest[static_cast<std::size_t>(group.line[0])] >= y - ringRows);
#if PARVULA_SIMD_X86
                    if (level == TSimdLevel::Avx512) {
                        VerticalLinesAvx512(ring.data(), stride, ringRows, down, group, b, end);
                        continue;
                    }
                    if (level == TSimdLevel::Avx2) {
                        VerticalLinesAvx2(ring.data(), stride, ringRows, down, group, b, end);
                        continue;
                    }
#endif
                    for (int l = 0; l < group.count; ++l) {
                        const int p = group.line[l];
                        std::uint8_t* out = group.out[l] + b;
#if PARVULA_SIMD_X86
                        if (level == TSimdLevel::Sse2)
                            VerticalRowSse2(ring.data() + b, stride, down, p, out, end - b);
                        else
#endif
                            VerticalBytesScalar(ring.data() + b, stride, down, p, out, 0, end - b);
                    }
                }
            }
            next = last;
        }
        ring = {};

        // Line p is destination column p (dw - 1 - p when the stored rows run upwards); result q
        // of a line is destination row q (dh - 1 - q when the stored columns run leftwards).
        const int blockRows = HorizontalBlockRows(level);
        std::vector<std::uint8_t> results(
            static_cast<std::size_t>(dh) * 3 * static_cast<std::size_t>(blockRows));
        std::vector<std::uint8_t*> outs(static_cast<std::size_t>(blockRows));
        std::vector<const std::uint8_t*> in(static_cast<std::size_t>(blockRows));
        for (int r = 0; r < blockRows; ++r)
            outs[static_cast<std::size_t>(r)]
                = results.data() + static_cast<std::size_t>(dh) * 3 * static_cast<std::size_t>(r);
        std::vector<float> floatStore;
        std::vector<double> doubleStore;
        float* floats = nullptr;
        double* doubles = nullptr;
        if (level == TSimdLevel::Sse2) {
            doubleStore.resize(static_cast<std::size_t>(plan->ring) * 3 * 8 + 16);
            doubles = doubleStore.data();
            while (reinterpret_cast<std::uintptr_t>(doubles) % 64 != 0)
                ++doubles;
        } else if (level != TSimdLevel::Scalar) {
            floatStore.resize(static_cast<std::size_t>(plan->ring) * 3 * 16 + 16);
            floats = floatStore.data();
            while (reinterpret_cast<std::uintptr_t>(floats) % 64 != 0)
                ++floats;
        }
        const auto destStride = static_cast<std::ptrdiff_t>(dest.Stride());
        for (int p = 0; p < dw; p += blockRows) {
            const int count = std::min(blockRows, dw - p);
            for (int r = 0; r < count; ++r)
                in[static_cast<std::size_t>(r)] = lines.ScanLine(p + r);
#if PARVULA_SIMD_X86
            if (level == TSimdLevel::Avx512)
                HorizontalBlockAvx512(
                    in.data(), count, sw, *plan->columns, plan->ring, outs.data(), floats);
            else if (level == TSimdLevel::Avx2)
                HorizontalBlockAvx2(
                    in.data(), count, sw, *plan->columns, plan->ring, outs.data(), floats);
            else if (level == TSimdLevel::Sse2)
                HorizontalBlockSse2(in.data(), count, sw, *plan->columns, outs.data(), doubles);
            else
#endif
                ApplyWeightLists(in[0], 3, plan->columnLists, outs[0], 3);
            for (int r = 0; r < count; ++r) {
                const int x = turn.storedRowsReversed ? dw - 1 - (p + r) : p + r;
                const std::uint8_t* result = outs[static_cast<std::size_t>(r)];
                std::uint8_t* column = dest.ScanLine(0) + 3 * static_cast<std::ptrdiff_t>(x);
                for (int q = 0; q < dh; ++q) {
                    const int y = turn.storedColumnsReversed ? dh - 1 - q : q;
                    std::memcpy(column + y * destStride, result + 3 * q, 3);
                }
            }
        }
    }

} // namespace

void ResampleRows(
    TRowReader& source, TBitmap& dest, TFilterFunc filter, float support, int orientation)
{
    const int sw = source.Width();
    const int sh = source.Height();
    CheckResampleSource(sw, sh, filter);
    if (orientation < 1 || orientation > 8)
        orientation = 1;
    const TTurn turn = TurnOf(orientation);
    if (turn.transposed) {
        ResampleTurned(source, dest, filter, support, orientation, ActiveSimdLevel());
        return;
    }

    // Rows are decoded 64 at a time (a whole number of every level's blocks): going back and
    // forth between the decoder and the horizontal pass less often leaves more of each one's
    // data in the caches. Only these rows of the source exist at a time.
    constexpr int kDecodedRows = 64;
    const TSimdLevel level = ActiveSimdLevel();
    const std::size_t rowBytes = static_cast<std::size_t>(sw) * 3;
    std::vector<std::uint8_t> decoded(
        rowBytes * static_cast<std::size_t>(std::min(sh, kDecodedRows)));
    std::vector<const std::uint8_t*> rows(kDecodedRows);
    ResamplePasses(
        sw, sh, [&] { dest.ConvertTo24(); },
        // The passes ask for blocks of 1, 8 or 16 rows, which never straddle a multiple of 64.
        [&](int y, int) {
            const int first = y % kDecodedRows;
            if (first == 0) {
                const int ahead = std::min(kDecodedRows, sh - y);
                for (int r = 0; r < ahead; ++r) {
                    std::uint8_t* row = decoded.data() + rowBytes * static_cast<std::size_t>(r);
                    source.ReadRow(row);
                    rows[static_cast<std::size_t>(r)] = row;
                }
            }
            return rows.data() + first;
        },
        dest, filter, support, level, orientation);
    TurnResult(dest, turn);
}

} // namespace parvula::imaging
