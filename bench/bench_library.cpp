// Opening libraries and fetching images, each next to the floor it is measured against.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <cstring>
#include <random>

#include "common/byteio.h"
#include "library/myjov.h"
#include "library/runcode16.h"
#include "support/libbuilder.h"

namespace {

QTemporaryDir& Dir() {
  static QTemporaryDir dir(QDir::tempPath() + "/jovbench-XXXXXX");
  return dir;
}

const QString& Library100k() {
  static const QString path = [] {
    LibraryBuilder b(0);
    std::vector<uint8_t> pixels(16, 3);
    for (int i = 0; i < 100000; ++i) b.Add8(4, 4, int16_t(i % 50), int16_t(-i % 50), pixels);
    return b.Write(Dir().path(), "big");
  }();
  return path;
}

void BM_Open100k(benchmark::State& state) {
  TJOV jov;
  for (auto _ : state) {
    jov.Open(Library100k());
    benchmark::DoNotOptimize(jov.ImageCount());
    jov.Close();
  }
}
BENCHMARK(BM_Open100k)->Unit(benchmark::kMicrosecond);

// Floor: read the index bytes and check every entry against the data file's size.
void BM_Open100k_Floor(benchmark::State& state) {
  const QByteArray index = QFile::encodeName(Library100k().chopped(4) + ".JOX");
  std::vector<uint8_t> bytes;
  for (auto _ : state) {
    int fd = ::open(index.constData(), O_RDONLY);
    const off_t size = ::lseek(fd, 0, SEEK_END);
    bytes.resize(size_t(size));
    if (::pread(fd, bytes.data(), bytes.size(), 0) != size) state.SkipWithError("read");
    ::close(fd);
    const int32_t count = GetI32(bytes.data() + 44);
    int bad = 0;
    for (int32_t i = 0; i < count; ++i) {
      const int32_t e = GetI32(bytes.data() + 48 + size_t(i) * 4);
      bad += e < 1080;
    }
    benchmark::DoNotOptimize(bad);
  }
}
BENCHMARK(BM_Open100k_Floor)->Unit(benchmark::kMicrosecond);

const QString& Library8() {
  static const QString path = [] {
    LibraryBuilder b(0);
    std::vector<uint8_t> pixels(256 * 256);
    std::mt19937 rng(1);
    for (auto& p : pixels) p = uint8_t(rng());
    b.Add8(256, 256, 1, 2, pixels);
    return b.Write(Dir().path(), "one8");
  }();
  return path;
}

void BM_ImageAt8_256(benchmark::State& state) {
  TJOV jov;
  jov.Open(Library8());
  for (auto _ : state) benchmark::DoNotOptimize(jov.ImageAt(0)->constBits());
}
BENCHMARK(BM_ImageAt8_256)->Unit(benchmark::kMicrosecond);

// Floor: one positioned read of the record and a copy of its rows.
void BM_ImageAt8_256_Floor(benchmark::State& state) {
  int fd = ::open(QFile::encodeName(Library8()).constData(), O_RDONLY);
  std::vector<uint8_t> record(8 + 256 * 256), image(256 * 256);
  for (auto _ : state) {
    if (::pread(fd, record.data(), record.size(), 1080) != ssize_t(record.size()))
      state.SkipWithError("read");
    for (int y = 0; y < 256; ++y)
      std::memcpy(image.data() + y * 256, record.data() + 8 + (255 - y) * 256, 256);
    benchmark::DoNotOptimize(image.data());
  }
  ::close(fd);
}
BENCHMARK(BM_ImageAt8_256_Floor)->Unit(benchmark::kMicrosecond);

// A sprite-like 256 x 256 picture: per row a skip, then pixel runs of varying length.
std::vector<uint16_t> Sprite16() {
  std::vector<uint16_t> words;
  std::mt19937 rng(2);
  words.push_back(0);  // the leading extra row record: empty
  for (int y = 0; y < 256; ++y) {
    std::vector<uint16_t> codes;
    int x = 0;
    while (x < 256) {
      const int skip = int(rng() % 8);
      const int run = std::min(256 - x - skip, int(8 + rng() % 56));
      if (run <= 0) break;
      codes.push_back(0xC0);
      codes.push_back(uint16_t(skip));
      codes.push_back(uint16_t(0xC1 + rng() % 3));
      codes.push_back(uint16_t(run));
      for (int i = 0; i < run; ++i) codes.push_back(uint16_t(rng()));
      x += skip + run;
    }
    words.push_back(uint16_t(codes.size()));
    words.insert(words.end(), codes.begin(), codes.end());
  }
  return words;
}

const QString& Library16() {
  static const QString path = [] {
    LibraryBuilder b(2);
    b.Add16(256, 256, 0, 0, Sprite16());
    return b.Write(Dir().path(), "one16");
  }();
  return path;
}

void BM_ImageAt16_256(benchmark::State& state) {
  TJOV jov;
  jov.Open(Library16());
  for (auto _ : state) benchmark::DoNotOptimize(jov.ImageAt(0)->constBits());
}
BENCHMARK(BM_ImageAt16_256)->Unit(benchmark::kMicrosecond);

// The run decoding alone, from words already in memory.
void BM_DecodeRuns16_256(benchmark::State& state) {
  const std::vector<uint16_t> words = Sprite16();
  QImage picture(256, 256, QImage::Format_RGB16);
  for (auto _ : state) {
    DecodeRuns16(reinterpret_cast<const uint8_t*>(words.data()), int64_t(words.size()), 256, 256,
                 picture);
    benchmark::DoNotOptimize(picture.constBits());
  }
}
BENCHMARK(BM_DecodeRuns16_256)->Unit(benchmark::kMicrosecond);

// Floor: a memcpy of the decoded bytes.
void BM_ImageAt16_256_Floor(benchmark::State& state) {
  std::vector<uint8_t> from(256 * 256 * 2, 1), to(256 * 256 * 2);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), to.size());
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_ImageAt16_256_Floor)->Unit(benchmark::kMicrosecond);

// ---- Following other programs (TJOV::SetFollowOthers), against not following, in one
// run: each iteration fetches with both objects, in turns that swap, and times each.
// Counters: microseconds per fetch of each and the ratio following / not following.
// checkEvery: the fetches of one shown frame, after which the follower asks FetchesSound
// (0: never, the fetch alone).

// The microseconds a turn took on average, plain and following, and their ratio.
void ReportTurns(benchmark::State& state, const std::chrono::steady_clock::duration spent[2],
                 int64_t n) {
  auto us = [&](int which) {
    return std::chrono::duration<double, std::micro>(spent[which]).count() / double(n);
  };
  state.counters["plain_us"] = us(0);
  state.counters["follow_us"] = us(1);
  state.counters["ratio"] = us(1) / us(0);
}
template <class Fetch>
void FollowAgainstNot(benchmark::State& state, const QString& library, int checkEvery,
                      Fetch fetch) {
  TJOV plain, following;
  following.SetFollowOthers(true);
  plain.Open(library);
  following.Open(library);
  using Clock = std::chrono::steady_clock;
  Clock::duration spent[2] = {};
  int64_t n = 0;
  for (auto _ : state) {
    for (int turn = 0; turn < 2; ++turn) {
      const int which = (int(n) + turn) % 2;
      const Clock::time_point start = Clock::now();
      fetch(which == 0 ? plain : following, n);
      if (which == 1 && checkEvery > 0 && n % checkEvery == 0)
        benchmark::DoNotOptimize(following.FetchesSound());
      spent[which] += Clock::now() - start;
    }
    ++n;
  }
  ReportTurns(state, spent, n);
}

// The preview: one 256 x 256 fetch a frame, checked (Arg 1), or the fetch alone (Arg 0).
void BM_ImageAt8_256_FollowRatio(benchmark::State& state) {
  FollowAgainstNot(state, Library8(), int(state.range(0)), [](TJOV& jov, int64_t) {
    benchmark::DoNotOptimize(jov.ImageAt(0)->constBits());
  });
}
BENCHMARK(BM_ImageAt8_256_FollowRatio)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// Tiny 4 x 4 records, where a check weighs most: fetches alone (Arg 0), or checked once
// per grid page of 30 cells (Arg 30) or after every fetch (Arg 1).
void BM_ImageAt8_4_FollowRatio(benchmark::State& state) {
  FollowAgainstNot(state, Library100k(), int(state.range(0)), [](TJOV& jov, int64_t n) {
    benchmark::DoNotOptimize(jov.ImageAt(int(n % 100000))->constBits());
  });
}
BENCHMARK(BM_ImageAt8_4_FollowRatio)->Arg(0)->Arg(30)->Arg(1)->Unit(benchmark::kMicrosecond);

// Opening while following (the stamps and the watch taken) against not, in turns that
// swap, in one run.  Counters: microseconds of each, and their ratio.
void BM_Open100k_FollowRatio(benchmark::State& state) {
  TJOV plain, following;
  following.SetFollowOthers(true);
  using Clock = std::chrono::steady_clock;
  Clock::duration spent[2] = {};
  int64_t n = 0;
  for (auto _ : state) {
    for (int turn = 0; turn < 2; ++turn) {
      const int which = (int(n) + turn) % 2;
      TJOV& jov = which == 0 ? plain : following;
      const Clock::time_point start = Clock::now();
      jov.Open(Library100k());
      spent[which] += Clock::now() - start;
      jov.Close();
    }
    ++n;
  }
  ReportTurns(state, spent, n);
}
BENCHMARK(BM_Open100k_FollowRatio)->Unit(benchmark::kMicrosecond);

}  // namespace
