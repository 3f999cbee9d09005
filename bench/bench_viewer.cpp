// The viewer's drawing speed: FillInfo with its synchronous preview repaint (the speed
// of Play, in images per second, also through a library of 50,000 images), the steadiness
// of Play at 60 frames a second, and one screen of thumbnails.  Runs the real window on
// the offscreen platform.

#include <benchmark/benchmark.h>

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

#include "app/jovver3.h"
#include "support/libbuilder.h"
#include "viewer/collapsepanel.h"
#include "viewer/ffpbox.h"
#include "viewer/mail.h"

namespace {

QTemporaryDir& Dir() {
  static QTemporaryDir dir(QDir::tempPath() + "/jovbench-viewer-XXXXXX");
  return dir;
}

// n images of w x h with a pattern that changes from image to image, black corners
// (drawn transparent) and placements.
QString Library(int w, int h, int n) {
  LibraryBuilder b(0);
  for (int i = 0; i < n; ++i) {
    std::vector<uint8_t> pixels(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const int dx = x - w / 2, dy = y - h / 2;
        const bool inside = dx * dx * 4 < w * w && dy * dy * 4 < h * h;
        pixels[size_t(y) * size_t(w) + size_t(x)] = inside ? uint8_t(1 + (x + y + i * 7) % 250) : 0;
      }
    b.Add8(int16_t(w), int16_t(h), int16_t(-w / 2), int16_t(-h / 2), pixels);
  }
  return b.Write(Dir().path(), QStringLiteral("lib%1x%2").arg(w).arg(h));
}

// The six windows, shown, with the grid expanded as in the documented layout.
std::unique_ptr<TFormMain> Window(const QString& library) {
  TFormMain::MessageHook = [](const QString&, QMessageBox::Icon, const QString&) {};
  std::unique_ptr<TFormMain> main = CreateMainWindows();
  main->show();
  (void)QTest::qWaitForWindowExposed(main.get());
  main->GridPanel->SetExpanded(true);
  QCoreApplication::processEvents();
  main->OpenLibrary(library);
  QCoreApplication::processEvents();
  return main;
}

// Stepping: FillInfo of the next image, the preview repainted at once.
void BM_FillInfo(benchmark::State& state) {
  const int w = int(state.range(0)), h = int(state.range(1)), zoom = int(state.range(2));
  const int n = 32;
  auto main = Window(Library(w, h, n));
  (zoom == 0 ? main->rbauto : zoom == 4 ? main->rb400 : main->rb100)->click();
  int i = 0;
  for (auto _ : state) {
    main->FillInfo(i);
    i = (i + 1) % n;
  }
  state.SetItemsProcessed(state.iterations());
  state.SetLabel(zoom == 0 ? "Auto" : zoom == 4 ? "400%" : "100%");
}
BENCHMARK(BM_FillInfo)
    ->Args({64, 64, 1})
    ->Args({64, 64, 4})
    ->Args({640, 480, 1})
    ->Args({640, 480, 0})
    ->Unit(benchmark::kMicrosecond);

// Play from the first image to the last: FillInfo and message pumping per image.
void BM_Play(benchmark::State& state) {
  const int w = int(state.range(0)), h = int(state.range(1));
  const int n = 64;
  auto main = Window(Library(w, h, n));
  for (auto _ : state) {
    main->FillInfo(0);
    main->BtnAutoPlay->click();
  }
  state.SetItemsProcessed(state.iterations() * (n - 1));
}
BENCHMARK(BM_Play)->Args({64, 64})->Args({640, 480})->Unit(benchmark::kMillisecond);

// Play at "max" through 2,000 images of a 50,000-image library (its "To" field ends the
// run): the rate must stay that of a small library.
void BM_PlayLargeLibrary(benchmark::State& state) {
  auto main = Window(Library(64, 64, 50000));
  main->EditLoopTo->setText(QStringLiteral("2000"));
  for (auto _ : state) {
    main->FillInfo(0);
    main->BtnAutoPlay->click();
  }
  state.SetItemsProcessed(state.iterations() * 2000);
}
BENCHMARK(BM_PlayLargeLibrary)->Unit(benchmark::kMillisecond);

// Play at 60 frames a second, looping over 10 images, for 120 frames: the time between
// two frames, measured where the preview paints; "worst_off_ms" is the largest distance
// from 1000 / 60 ms (target: at most 2).
void BM_Play60Fps(benchmark::State& state) {
  auto main = Window(Library(64, 64, 32));
  main->SpinFps->setValue(60);
  main->CheckLoop->setChecked(true);
  main->EditLoopFrom->setText(QStringLiteral("0"));
  main->EditLoopTo->setText(QStringLiteral("9"));
  double worst = 0, sum = 0;
  int64_t intervals = 0;
  const auto paint = main->PaintBox1->OnPaint;
  for (auto _ : state) {
    QElapsedTimer clock;
    int64_t last = -1;
    int frames = 0, shown = -1;
    main->PaintBox1->OnPaint = [&](TFlickerFreePaintBox* box, QPainter& canvas) {
      paint(box, canvas);
      if (main->CurrentIndex() == shown) return;  // a repaint of the same frame
      shown = main->CurrentIndex();
      const int64_t now = clock.nsecsElapsed();
      if (last >= 0) {
        const double ms = double(now - last) / 1e6;
        worst = std::max(worst, std::abs(ms - 1000.0 / 60));
        sum += ms;
        ++intervals;
      }
      last = now;
      if (++frames == 120) main->btnstop->click();
    };
    main->FillInfo(0);
    clock.start();
    main->BtnAutoPlay->click();
  }
  main->PaintBox1->OnPaint = paint;
  state.counters["worst_off_ms"] = worst;
  state.counters["mean_ms"] = intervals > 0 ? sum / double(intervals) : 0;
}
BENCHMARK(BM_Play60Fps)->Iterations(3)->Unit(benchmark::kMillisecond);

// One screen of the expanded grid: every visible cell fetches its image again.
void BM_ThumbnailScreen(benchmark::State& state) {
  const int w = int(state.range(0)), h = int(state.range(1));
  auto main = Window(Library(w, h, 48));
  QWidget* viewport = main->DrawGrid1->viewport();
  const int cells = int(std::ceil(viewport->height() / 65.0)) * 6;
  for (auto _ : state) viewport->repaint();
  state.SetItemsProcessed(state.iterations() * cells);
  state.SetLabel(std::to_string(cells) + " cells");
}
BENCHMARK(BM_ThumbnailScreen)->Args({64, 64})->Args({640, 480})->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
  Q_INIT_RESOURCE(templates);
  TJovApplication app(argc, argv);
  ApplyViewerLook(app);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
