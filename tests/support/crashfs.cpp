#include "support/crashfs.h"

#include <fcntl.h>
#include <linux/falloc.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdlib>
#include <cstring>
#include <random>

#include "common/errors.h"

namespace {

constexpr int kSector = 512;

QString Key(const QString& path) {
  return QFileInfo(path).absoluteFilePath();
}

QByteArray ReadReal(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return QByteArray();
  return f.readAll();
}

constexpr int64_t kPage = TCrashFs::kPage;

// The pages of the file at path that are holes.
std::set<int64_t> HolesOf(const QString& path) {
  std::set<int64_t> holes;
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
  if (fd < 0) return holes;
  const off_t size = ::lseek(fd, 0, SEEK_END);
  for (off_t at = 0; at < size;) {
    const off_t hole = ::lseek(fd, at, SEEK_HOLE);
    if (hole < 0 || hole >= size) break;
    off_t data = ::lseek(fd, hole, SEEK_DATA);
    if (data < 0) data = size;
    for (int64_t page = (hole + kPage - 1) / kPage; page * kPage < data; ++page) holes.insert(page);
    at = data;
  }
  ::close(fd);
  return holes;
}

class TCrashFile final : public TFile {
 public:
  TCrashFile(TCrashFs& fs, std::unique_ptr<TFile> inner, int node)
      : TFile(inner->Path()), fs_(fs), inner_(std::move(inner)), node_(node) {}

  int64_t ReadAt(int64_t offset, void* buffer, int64_t n) override {
    return inner_->ReadAt(offset, buffer, n);
  }
  void WriteAt(int64_t offset, const void* buffer, int64_t n) override {
    fs_.Step();
    inner_->WriteAt(offset, buffer, n);
    fs_.NodeOf(node_).pending.push_back(
        {false, offset, QByteArray(static_cast<const char*>(buffer), qsizetype(n))});
  }
  void WritePartsAt(int64_t offset, const Part* parts, int count) override {
    fs_.Step();
    QByteArray all;
    for (int i = 0; i < count; ++i)
      all.append(static_cast<const char*>(parts[i].data), qsizetype(parts[i].size));
    inner_->WriteAt(offset, all.constData(), all.size());
    fs_.NodeOf(node_).pending.push_back({false, offset, all});
  }
  int64_t Size() override { return inner_->Size(); }
  void Truncate(int64_t size) override {
    fs_.Step();
    inner_->Truncate(size);
    fs_.NodeOf(node_).pending.push_back({true, size, {}});
  }
  // Durability is what this layer simulates: the disk itself is not asked to flush.
  void Flush() override {
    fs_.Step();
    QByteArray content(qsizetype(inner_->Size()), '\0');
    content.resize(qsizetype(inner_->ReadAt(0, content.data(), content.size())));
    TCrashFs::Node& node = fs_.NodeOf(node_);
    node.durable = content;
    if (holes_) node.durableHoles = HolesOf(inner_->Path());
    node.pending.clear();
  }
  // A file system that shifts is asked (a test on a real one); on any other the unit the
  // layer is given stands for it.
  int64_t ShiftUnit() override {
    if (fs_.refuseShifts) return fs_.ShiftUnit();
    const int64_t native = inner_->ShiftUnit();
    return native > 0 ? native : fs_.ShiftUnit();
  }
  bool Shift(int64_t offset, int64_t delta) override {
    const int64_t unit = ShiftUnit(), size = inner_->Size(), length = std::abs(delta);
    if (unit == 0 || fs_.refuseShifts || offset % unit != 0 || length % unit != 0 ||
        offset >= size || (delta < 0 && offset + length >= size))
      return false;
    fs_.Step();
    if (!inner_->Shift(offset, delta)) ShiftByCopying(offset, delta);
    fs_.NodeOf(node_).pending.push_back({false, offset, {}, delta, 0});
    holes_ = true;
    return true;
  }
  // The tail moved by copying, and the hole punched; the disk a cut leaves is made by Cut.
  void ShiftByCopying(int64_t offset, int64_t delta) {
    const int64_t size = inner_->Size(), length = std::abs(delta);
    QByteArray tail(qsizetype(size - offset - (delta < 0 ? length : 0)), '\0');
    inner_->ReadExactAt(delta > 0 ? offset : offset + length, tail.data(), tail.size());
    inner_->WriteAt(delta > 0 ? offset + delta : offset, tail.constData(), tail.size());
    if (delta > 0 && !inner_->PunchHole(offset, delta))
      throw EWriteError(std::string("the scratch folder cannot hold holes"));
    if (delta < 0) inner_->Truncate(size - length);
  }
  bool PunchHole(int64_t offset, int64_t length) override {
    fs_.Step();
    if (!inner_->PunchHole(offset, length))
      throw EWriteError(std::string("the scratch folder cannot hold holes"));
    fs_.NodeOf(node_).pending.push_back({false, offset, {}, 0, length});
    holes_ = true;
    return true;
  }
  int64_t NextHole(int64_t offset) override { return inner_->NextHole(offset); }
  bool TryLock() override { return inner_->TryLock(); }
  bool IsFileAt(const QString& path) override { return inner_->IsFileAt(path); }
  void Unlock() override { inner_->Unlock(); }

 private:
  TCrashFs& fs_;
  std::unique_ptr<TFile> inner_;
  int node_;
  bool holes_ = false;  // may hold holes (they are looked for only then)
};

// A file as a disk may hold it: its bytes, and its pages that are holes.
struct TDiskFile {
  QByteArray bytes;
  std::set<int64_t> holes;

  void Resize(int64_t size) {
    bytes.resize(qsizetype(size), '\0');
    std::erase_if(holes, [&](int64_t page) { return page * kPage >= size; });
  }
  void Fill(int64_t at, int64_t length) {
    for (int64_t page = at / kPage; page * kPage < at + length; ++page) holes.erase(page);
  }
  void Write(int64_t at, const QByteArray& data) {
    if (bytes.size() < at + data.size()) bytes.resize(qsizetype(at + data.size()), '\0');
    std::memcpy(bytes.data() + at, data.constData(), size_t(data.size()));
    Fill(at, data.size());
  }
  // A hole of length bytes opened at `at` (a page, or the end), every page from there on
  // moved.
  void Open(int64_t at, int64_t length) {
    bytes.insert(qsizetype(at), QByteArray(qsizetype(length), '\0'));
    std::set<int64_t> moved;
    for (int64_t page : holes) moved.insert(page * kPage >= at ? page + length / kPage : page);
    const int64_t end = at + length == bytes.size() ? at + length + kPage - 1 : at + length;
    for (int64_t page = (at + kPage - 1) / kPage; (page + 1) * kPage <= end; ++page)
      moved.insert(page);
    holes = std::move(moved);
    Clip();
  }
  // The length bytes at `at` (a page) removed, every page behind them moved.
  void Close(int64_t at, int64_t length) {
    bytes.remove(qsizetype(at), qsizetype(length));
    std::set<int64_t> moved;
    for (int64_t page : holes) {
      if (page * kPage < at) moved.insert(page);
      if (page * kPage >= at + length) moved.insert(page - length / kPage);
    }
    holes = std::move(moved);
  }
  // Holes are pages that start inside the file: the file's last one may end inside it, as
  // a file system's last block does.
  void Clip() {
    std::erase_if(holes, [&](int64_t page) { return page * kPage >= bytes.size(); });
  }
};

// A shift that a power cut may have left done in part: up to `stop` (a page, or the old
// end) the bytes stand where they stood.  An opening shift has changed the size first: a
// hole of its length stands at stop.  A closing one has emptied its range first and moved
// the bytes up to stop: the hole stands right before stop, and the size changes last.
void ShiftInPart(TDiskFile& file, int64_t offset, int64_t delta, int64_t stop) {
  const int64_t length = std::abs(delta);
  if (delta > 0) {
    file.Open(stop, length);
    return;
  }
  const int64_t size = file.bytes.size();
  QByteArray moved = file.bytes.mid(qsizetype(offset + length), qsizetype(stop - offset - length));
  file.Write(offset, moved);
  file.bytes.replace(qsizetype(stop - length), qsizetype(length), QByteArray(qsizetype(length), 0));
  const int64_t end = stop == size ? stop + kPage - 1 : stop;
  for (int64_t page = (stop - length + kPage - 1) / kPage; (page + 1) * kPage <= end; ++page)
    file.holes.insert(page);
  file.Resize(size);
  file.Clip();
}

// One pending operation as a power cut may have left it.
void ApplyAtCut(TDiskFile& file, const TCrashFs::Op& op, std::mt19937& random) {
  auto coin = [&] { return (random() & 1) != 0; };
  if (op.shift != 0) {
    const int64_t size = file.bytes.size(), length = std::abs(op.shift);
    const int64_t first = op.shift > 0 ? op.offset : op.offset + length;
    switch (random() % 4) {
      case 0:
        return;  // lost
      case 1:
        if (op.shift > 0)
          file.Open(op.offset, length);
        else
          file.Close(op.offset, length);
        return;
      default: {
        const int64_t pages = (size - first) / kPage + 1;
        ShiftInPart(file, op.offset, op.shift,
                    std::min(size, first + int64_t(random() % uint32_t(pages + 1)) * kPage));
        return;
      }
    }
  }
  if (op.punch != 0) {
    if (!coin()) return;
    file.Write(op.offset, QByteArray(qsizetype(op.punch), '\0'));
    for (int64_t page = op.offset / kPage; page * kPage < op.offset + op.punch; ++page)
      file.holes.insert(page);
    file.Clip();
    return;
  }
  if (op.truncate) {
    if (coin()) file.Resize(op.offset);
    return;
  }
  for (qsizetype at = 0; at < op.bytes.size();) {
    const int64_t absolute = op.offset + at;
    const qsizetype n =
        std::min<qsizetype>(op.bytes.size() - at, kSector - qsizetype(absolute % kSector));
    if (coin()) file.Write(absolute, op.bytes.mid(at, n));
    at += n;
  }
}

void WriteDisk(const QString& path, const TDiskFile& file) {
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
  f.write(file.bytes);
  f.flush();
  for (int64_t page : file.holes)
    (void)::fallocate(f.handle(), FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, off_t(page * kPage),
                      off_t(kPage));
}

}  // namespace

TCrashFs::TCrashFs() {
  oldFactory_ = TFile::SetFactory([this](const QString& path, TFile::Mode mode) {
    if (mode == TFile::Mode::Create) {
      int node = NodeAt(path);  // remembers the content before the truncation
      Step();
      auto file = TFile::OpenNative(path, mode);
      if (node < 0)
        node = Created(path);
      else
        NodeOf(node).pending.push_back({true, 0, {}});
      return std::unique_ptr<TFile>(new TCrashFile(*this, std::move(file), node));
    }
    auto file = TFile::OpenNative(path, mode);
    return std::unique_ptr<TFile>(new TCrashFile(*this, std::move(file), NodeAt(path)));
  });
  oldFolderOps_ = SetFolderOps({[this](const QString& path) {
                                  Step();
                                  NodeAt(path);
                                  NativeRemoveFile(path);
                                  Removed(path);
                                },
                                [this](const QString& folder) {
                                  Step();
                                  FolderFlushed(folder);
                                },
                                [this](const QString& from, const QString& to) {
                                  Step();
                                  NodeAt(from);
                                  NodeAt(to);
                                  NativeRenameFile(from, to);
                                  Renamed(from, to);
                                }});
}

TCrashFs::~TCrashFs() {
  TFile::SetFactory(std::move(oldFactory_));
  SetFolderOps(std::move(oldFolderOps_));
}

void TCrashFs::Step() {
  ++count_;
  if (cut_ || count_ == cutAt_) {
    cut_ = true;
    throw EWriteError(std::string("power cut"));
  }
  if (count_ == failAt_) throw EWriteError(std::string("injected failure"));
}

void TCrashFs::Track(const QString& key) {
  if (live_.count(key)) return;
  int node = -1;
  if (FileExists(key)) {
    node = int(nodes_.size());
    nodes_.push_back({ReadReal(key), {}, {}});
  }
  live_[key] = node;
  durableEntry_[key] = node;
}

int TCrashFs::NodeAt(const QString& path) {
  const QString key = Key(path);
  Track(key);
  return live_[key];
}

int TCrashFs::Created(const QString& path) {
  const QString key = Key(path);
  Track(key);
  const int node = int(nodes_.size());
  nodes_.push_back({});
  live_[key] = node;
  folderOps_.push_back({FolderOp::Create, key, key, node});
  return node;
}

void TCrashFs::Removed(const QString& path) {
  const QString key = Key(path);
  Track(key);
  if (live_[key] < 0) return;
  folderOps_.push_back({FolderOp::Remove, key, key, live_[key]});
  live_[key] = -1;
}

void TCrashFs::Renamed(const QString& from, const QString& to) {
  const QString a = Key(from), b = Key(to);
  Track(a);
  Track(b);
  const int node = live_[a];
  live_[b] = node;
  live_[a] = -1;
  folderOps_.push_back({FolderOp::Rename, a, b, node});
}

void TCrashFs::FolderFlushed(const QString& folder) {
  const QString dir = Key(folder);
  auto inFolder = [&](const QString& path) { return QFileInfo(path).absolutePath() == dir; };
  for (auto& [path, node] : live_)
    if (inFolder(path)) durableEntry_[path] = node;
  std::erase_if(folderOps_,
                [&](const FolderOp& op) { return inFolder(op.from) && inFolder(op.to); });
}

void TCrashFs::Cut(uint32_t seed) {
  std::mt19937 random(seed);
  auto coin = [&] { return (random() & 1) != 0; };
  // The entries as the disk holds them: as last flushed, plus each later change or not.
  std::map<QString, int> entries = durableEntry_;
  for (const FolderOp& op : folderOps_) {
    if (!coin()) continue;
    switch (op.kind) {
      case FolderOp::Create:
        entries[op.to] = op.node;
        break;
      case FolderOp::Remove:
        if (entries[op.from] == op.node) entries[op.from] = -1;
        break;
      case FolderOp::Rename:
        if (entries[op.from] == op.node) {
          entries[op.from] = -1;
          entries[op.to] = op.node;
        }
        break;
    }
  }
  // Each node's content: what was flushed, plus each sector of each later write, or not.
  std::map<int, TDiskFile> contents;
  auto contentOf = [&](int id) -> const TDiskFile& {
    auto it = contents.find(id);
    if (it != contents.end()) return it->second;
    const Node& node = nodes_[size_t(id)];
    TDiskFile file{node.durable.value_or(QByteArray()), node.durableHoles};
    for (const Op& op : node.pending) ApplyAtCut(file, op, random);
    return contents.emplace(id, std::move(file)).first->second;
  };
  for (auto& [path, node] : live_) entries.try_emplace(path, -1);
  for (const auto& [path, node] : entries) {
    if (node < 0)
      QFile::remove(path);
    else
      WriteDisk(path, contentOf(node));
  }
  nodes_.clear();
  live_.clear();
  durableEntry_.clear();
  folderOps_.clear();
  cut_ = false;
  cutAt_ = failAt_ = -1;
}
