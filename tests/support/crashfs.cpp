#include "support/crashfs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
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
    node.pending.clear();
  }
  bool TryLock() override { return inner_->TryLock(); }
  bool IsFileAt(const QString& path) override { return inner_->IsFileAt(path); }
  void Unlock() override { inner_->Unlock(); }

 private:
  TCrashFs& fs_;
  std::unique_ptr<TFile> inner_;
  int node_;
};

void Apply(QByteArray& content, const TCrashFs::Op& op) {
  if (op.truncate) {
    content.resize(qsizetype(op.offset), '\0');
    return;
  }
  const qsizetype end = qsizetype(op.offset) + op.bytes.size();
  if (content.size() < end) content.resize(end, '\0');
  std::memcpy(content.data() + op.offset, op.bytes.constData(), size_t(op.bytes.size()));
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
    nodes_.push_back({ReadReal(key), {}});
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
  std::map<int, QByteArray> contents;
  auto contentOf = [&](int id) -> const QByteArray& {
    auto it = contents.find(id);
    if (it != contents.end()) return it->second;
    const Node& node = nodes_[size_t(id)];
    QByteArray content = node.durable.value_or(QByteArray());
    for (const Op& op : node.pending) {
      if (op.truncate) {
        if (coin()) Apply(content, op);
        continue;
      }
      for (qsizetype at = 0; at < op.bytes.size();) {
        const int64_t absolute = op.offset + at;
        const qsizetype n =
            std::min<qsizetype>(op.bytes.size() - at, kSector - qsizetype(absolute % kSector));
        if (coin()) Apply(content, {false, absolute, op.bytes.mid(at, n)});
        at += n;
      }
    }
    return contents.emplace(id, std::move(content)).first->second;
  };
  for (auto& [path, node] : live_) entries.try_emplace(path, -1);
  for (const auto& [path, node] : entries) {
    if (node < 0) {
      QFile::remove(path);
      continue;
    }
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) continue;
    f.write(contentOf(node));
  }
  nodes_.clear();
  live_.clear();
  durableEntry_.clear();
  folderOps_.clear();
  cut_ = false;
  cutAt_ = failAt_ = -1;
}
