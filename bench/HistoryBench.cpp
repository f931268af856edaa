// The cleanup-history reader: files of about 1 KiB, 1 MiB and 16 MiB in both encodings, left
// unchanged between passes (answered from the identity cache) or changed before each pass
// (read and parsed again); the parser alone on the same bytes; and deep nesting, which must
// cost time linear in the input's size whether it is within the nesting limit or beyond it.
#include "BenchSupport.h"

#include "status/CleanupHistoryReader.h"
#include "status/PropertyList.h"

#include <QFile>
#include <array>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

using kmb::bench::HistoryFiles;

constexpr std::array<const char*, 2> encodings{"xml", "binary"};
constexpr std::array<const char*, 3> sizes{"1k", "1m", "16m"};

const char* encodingOf(const benchmark::State& state)
{
    return encodings[std::size_t(state.range(0))];
}
const char* sizeOf(const benchmark::State& state)
{
    return sizes[std::size_t(state.range(1))];
}

void allFiles(benchmark::internal::Benchmark* benchmark)
{
    benchmark->ArgNames({"xml0_binary1", "1k0_1m1_16m2"});
    for (int encoding = 0; encoding < 2; ++encoding)
        for (int size = 0; size < 3; ++size)
            benchmark->Args({encoding, size});
}

void BM_HistoryRead_Unchanged(benchmark::State& state)
{
    const HistoryFiles& files = HistoryFiles::instance();
    kmb::CleanupHistoryReader reader(files.dataDir(encodingOf(state), sizeOf(state)));
    const std::int64_t total = reader.readTotalCleanedBytes(); // fills the cache
    for (auto _ : state)
        benchmark::DoNotOptimize(reader.readTotalCleanedBytes());
    if (total == 0 || reader.readTotalCleanedBytes() != total)
        state.SkipWithError("the history gave no total");
    state.SetLabel(std::to_string(QFile(files.path(encodingOf(state), sizeOf(state))).size()) +
                   " bytes");
}
BENCHMARK(BM_HistoryRead_Unchanged)->Apply(allFiles);

void BM_HistoryRead_ChangedEveryPass(benchmark::State& state)
{
    const HistoryFiles& files = HistoryFiles::instance();
    const QByteArray path = QFile::encodeName(files.path(encodingOf(state), sizeOf(state)));
    kmb::CleanupHistoryReader reader(files.dataDir(encodingOf(state), sizeOf(state)));
    std::int64_t total = 0;
    timespec times[2] = {{0, UTIME_OMIT}, {1'700'000'000, 0}};
    for (auto _ : state) {
        state.PauseTiming();
        ++times[1].tv_nsec; // a new mtime (and with it a new ctime): the identity changes
        if (::utimensat(AT_FDCWD, path.constData(), times, 0) != 0)
            state.SkipWithError("cannot touch the history file");
        state.ResumeTiming();
        total = reader.readTotalCleanedBytes();
    }
    if (total == 0)
        state.SkipWithError("the history gave no total");
    const qint64 size = QFile(QString::fromLocal8Bit(path)).size();
    state.SetBytesProcessed(state.iterations() * size);
    state.SetLabel(std::to_string(size) + " bytes");
}
BENCHMARK(BM_HistoryRead_ChangedEveryPass)->Apply(allFiles)->Unit(benchmark::kMicrosecond);

void BM_HistoryParse(benchmark::State& state)
{
    const QByteArray bytes = HistoryFiles::instance().bytes(encodingOf(state), sizeOf(state));
    std::optional<std::int64_t> total;
    for (auto _ : state)
        benchmark::DoNotOptimize(total = kmb::totalCleanedBytesFromPropertyList(bytes));
    if (!total)
        state.SkipWithError("the history gave no total");
    state.SetBytesProcessed(state.iterations() * bytes.size());
}
BENCHMARK(BM_HistoryParse)->Apply(allFiles)->Unit(benchmark::kMicrosecond);

// ---- Deep nesting ------------------------------------------------------------------------

// {"nest": [[[ ... ]]], "totalCleanedBytes": 42} with `depth` arrays in the chain: the
// dictionary is level 1, so depth + 1 levels in all.
QByteArray deepXml(std::int64_t depth)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">"
                     "<dict><key>nest</key>";
    xml.reserve(xml.size() + depth * 15 + 100);
    for (std::int64_t i = 0; i < depth; ++i)
        xml += "<array>";
    for (std::int64_t i = 0; i < depth; ++i)
        xml += "</array>";
    xml += "<key>totalCleanedBytes</key><integer>42</integer></dict></plist>\n";
    return xml;
}

void appendBigEndian(QByteArray& out, std::uint64_t value, int bytes)
{
    for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8)
        out += char((value >> shift) & 0xff);
}

// The same document in the binary encoding: object 0 the dictionary, 1 and 2 its keys, 3 the
// integer, 4 .. 4 + depth - 1 the chain of one-element arrays (the last one empty).
QByteArray deepBinary(std::int64_t depth)
{
    const std::uint64_t objects = 4 + std::uint64_t(depth);
    const int refSize = objects <= 0x100 ? 1 : objects <= 0x10000 ? 2 : 4;
    QByteArray out = "bplist00";
    std::vector<std::uint64_t> offsets;
    offsets.reserve(objects);
    offsets.push_back(out.size()); // 0: {"nest": 4, "totalCleanedBytes": 3}
    out += char(0xD2);
    appendBigEndian(out, 1, refSize);
    appendBigEndian(out, 2, refSize);
    appendBigEndian(out, 4, refSize);
    appendBigEndian(out, 3, refSize);
    offsets.push_back(out.size()); // 1
    out += char(0x54);
    out += "nest";
    offsets.push_back(out.size()); // 2: 17 characters, so the length follows as an integer
    out += char(0x5F);
    out += char(0x10);
    out += char(17);
    out += "totalCleanedBytes";
    offsets.push_back(out.size()); // 3
    out += char(0x10);
    out += char(42);
    for (std::int64_t level = 0; level < depth; ++level) {
        offsets.push_back(out.size());
        if (level + 1 < depth) {
            out += char(0xA1);
            appendBigEndian(out, 4 + std::uint64_t(level) + 1, refSize);
        } else {
            out += char(0xA0);
        }
    }
    const std::uint64_t tableOffset = out.size();
    const int offsetSize = tableOffset < 0x100 ? 1 : tableOffset < 0x10000 ? 2 : 4;
    for (const std::uint64_t offset : offsets)
        appendBigEndian(out, offset, offsetSize);
    out += QByteArray(6, '\0');
    out += char(offsetSize);
    out += char(refSize);
    appendBigEndian(out, objects, 8);
    appendBigEndian(out, 0, 8);
    appendBigEndian(out, tableOffset, 8);
    return out;
}

template <QByteArray (*make)(std::int64_t)> void BM_DeepNesting(benchmark::State& state)
{
    const std::int64_t depth = state.range(0);
    const QByteArray bytes = make(depth);
    std::optional<std::int64_t> total;
    for (auto _ : state)
        benchmark::DoNotOptimize(total = kmb::totalCleanedBytesFromPropertyList(bytes));
    const bool withinLimit = depth + 1 <= kmb::kMaxNestingLevels;
    if (total != (withinLimit ? std::optional<std::int64_t>(42) : std::nullopt))
        state.SkipWithError("unexpected result for this depth");
    state.SetComplexityN(bytes.size());
    state.SetBytesProcessed(state.iterations() * bytes.size());
    state.counters["depth"] = double(depth);
    state.counters["accepted"] = total ? 1 : 0;
}

// Within the limit (up to 511 arrays under the dictionary), then far beyond it: the time per
// byte stays flat, and the fitted complexity is O(N) in the input's size.
void depths(benchmark::internal::Benchmark* benchmark)
{
    for (std::int64_t depth : {16, 128, 511, 4096, 32768, 262144, 2097152})
        benchmark->Arg(depth);
    benchmark->ArgName("depth")->Complexity(benchmark::oN)->Unit(benchmark::kMicrosecond);
}
BENCHMARK(BM_DeepNesting<deepXml>)->Name("BM_DeepNesting/xml")->Apply(depths);
BENCHMARK(BM_DeepNesting<deepBinary>)->Name("BM_DeepNesting/binary")->Apply(depths);

} // namespace
