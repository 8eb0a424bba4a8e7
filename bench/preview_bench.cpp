// The settings dialog's preview after a parameter change, as the user sees
// it: Bleach Bypass on a 6000 x 4000 document, the whole image in the
// 480 x 350 viewer (its scaled source cached), rendered and painted by the
// Viewer on the offscreen platform.
#include <QApplication>
#include <QImage>

#include "bench/bench_support.h"
#include "framework/registry.h"
#include "plugin/entry_call.h"
#include "plugin/render_loop.h"
#include "ui/application.h"
#include "ui/viewer.h"

namespace {

void ViewerRepaintAfterChange(benchmark::State& state) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ps::Application();
  standin::Host host;
  host.SetDocument(bench::Scene(6000, 4000, 16));
  bench::PrepareRun(host, &PIMAIN_BleachBypass, [](std::vector<uint8_t>&) {});
  host.PrepareRecord();
  fx::EffectInstance* effect = fx::Registry().Lookup("BleachBypass");
  intptr_t data = 0;
  int16_t result = 0;
  ps::EntryCall call(&host.Record(), &data, &result, effect, "", false);
  ps::PreviewRenderer preview(&host.Record(), *effect);
  const int contrast = fx::IndexOfKey(*effect, "contrast");
  {
    Viewer viewer(nullptr, call, preview);
    viewer.setFixedSize(480, 350);
    viewer.zoomToFit();
    QImage screen(480, 350, QImage::Format_RGB32);
    viewer.render(&screen);  // the first paint reads the scaled source
    int step = 0;
    for (auto _ : state) {
      fx::SetRange(effect->parameters[contrast], ++step % 50);
      viewer.invalidate();
      viewer.render(&screen);
    }
  }
  fx::ResetToDefault(effect->parameters[contrast]);
  // Qt made globals of its own while painting; the application goes first.
  ps::KeepReleaseLast();
  state.SetLabel("parameter change, cached source, paint included");
}
BENCHMARK(ViewerRepaintAfterChange)->Unit(benchmark::kMillisecond);

}  // namespace
