#include "support/crashfs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <random>

#include "common/errors.h"

namespace {

constexpr int kSector = 512;

QByteArray ReadReal(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return QByteArray();
  return f.readAll();
}

class TCrashFile final : public TFile {
 public:
  TCrashFile(TCrashFs& fs, std::unique_ptr<TFile> inner)
      : TFile(inner->Path()), fs_(fs), inner_(std::move(inner)) {}

  int64_t ReadAt(int64_t offset, void* buffer, int64_t n) override {
    return inner_->ReadAt(offset, buffer, n);
  }
  void WriteAt(int64_t offset, const void* buffer, int64_t n) override {
    fs_.Step();
    inner_->WriteAt(offset, buffer, n);
    fs_.State(Path()).pending.push_back(
        {false, offset, QByteArray(static_cast<const char*>(buffer), qsizetype(n))});
  }
  void WritePartsAt(int64_t offset, const Part* parts, int count) override {
    fs_.Step();
    QByteArray all;
    for (int i = 0; i < count; ++i)
      all.append(static_cast<const char*>(parts[i].data), qsizetype(parts[i].size));
    inner_->WriteAt(offset, all.constData(), all.size());
    fs_.State(Path()).pending.push_back({false, offset, all});
  }
  int64_t Size() override { return inner_->Size(); }
  void Truncate(int64_t size) override {
    fs_.Step();
    inner_->Truncate(size);
    fs_.State(Path()).pending.push_back({true, size, {}});
  }
  // Durability is what this layer simulates: the disk itself is not asked to flush.
  void Flush() override {
    fs_.Step();
    fs_.Flushed(Path());
  }
  bool TryLock() override { return inner_->TryLock(); }
  void Unlock() override { inner_->Unlock(); }

 private:
  TCrashFs& fs_;
  std::unique_ptr<TFile> inner_;
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
      FileState& state = State(path);  // remembers the content before the truncation
      Step();
      auto file = TFile::OpenNative(path, mode);
      state.pending.push_back({true, 0, {}});
      return std::unique_ptr<TFile>(new TCrashFile(*this, std::move(file)));
    }
    State(path);
    return std::unique_ptr<TFile>(new TCrashFile(*this, TFile::OpenNative(path, mode)));
  });
  oldFolderOps_ = SetFolderOps({[this](const QString& path) {
                                  Step();
                                  State(path);
                                  NativeRemoveFile(path);
                                },
                                [this](const QString& folder) {
                                  Step();
                                  FolderFlushed(folder);
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

TCrashFs::FileState& TCrashFs::State(const QString& path) {
  const QString key = QFileInfo(path).absoluteFilePath();
  auto it = files_.find(key);
  if (it == files_.end()) {
    FileState state;
    if (FileExists(key)) {
      state.durable = ReadReal(key);
      state.entryDurable = true;
    }
    it = files_.emplace(key, std::move(state)).first;
  }
  return it->second;
}

void TCrashFs::Flushed(const QString& path) {
  FileState& state = State(path);
  state.durable = ReadReal(path);
  state.pending.clear();
}

void TCrashFs::FolderFlushed(const QString& folder) {
  const QString dir = QFileInfo(folder).absoluteFilePath();
  for (auto& [path, state] : files_) {
    if (QFileInfo(path).absolutePath() != dir) continue;
    state.entryDurable = FileExists(path);
    // A removed file's content no longer matters once its removal is durable.
    if (!state.entryDurable) {
      state.durable.reset();
      state.pending.clear();
    }
  }
}

void TCrashFs::Cut(uint32_t seed) {
  std::mt19937 random(seed);
  auto coin = [&] { return (random() & 1) != 0; };
  for (auto& [path, state] : files_) {
    const bool existsNow = FileExists(path);
    // An entry changed since its folder was flushed may be either way on the disk.
    const bool exists = existsNow == state.entryDurable ? existsNow : coin();
    if (!exists) {
      QFile::remove(path);
      continue;
    }
    QByteArray content = state.durable.value_or(QByteArray());
    for (const Op& op : state.pending) {
      if (op.truncate) {
        if (coin()) Apply(content, op);
        continue;
      }
      // Each sector of the write reached the disk, or did not.
      for (qsizetype at = 0; at < op.bytes.size();) {
        const int64_t absolute = op.offset + at;
        const qsizetype n =
            std::min<qsizetype>(op.bytes.size() - at, kSector - qsizetype(absolute % kSector));
        if (coin()) Apply(content, {false, absolute, op.bytes.mid(at, n)});
        at += n;
      }
    }
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) continue;
    f.write(content);
  }
  files_.clear();
  cut_ = false;
  cutAt_ = failAt_ = -1;
}
