// The render loop and the preview render, through the stand-in host and the
// test module's effects.
#include <cmath>
#include <cstdlib>
#include <string>

#include "tests/plugin/frame_fixture.h"

using namespace standin;
using namespace frametest;

namespace {

Document Pattern(int32_t width, int32_t height, int32_t depth) {
  Document d = Document::Make(width, height, depth);
  const int32_t full = d.FullScale();
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c) d.At(x, y, c) = static_cast<uint16_t>((x * 7 + y * 13 + c * 101) % (full + 1));
  return d;
}

Document Inverted(const Document& d) {
  Document out = d;
  for (auto& s : out.samples) s = static_cast<uint16_t>(d.FullScale() - s);
  return out;
}

// The test effect "FastBlur" shifts the image down by its margin, repeating
// the top row.
Document ShiftedDown(const Document& d, int32_t m) {
  Document out = d;
  for (int32_t y = 0; y < d.height; ++y)
    for (int32_t x = 0; x < d.width; ++x)
      for (int c = 0; c < 3; ++c) out.At(x, y, c) = d.At(x, std::max(0, y - m), c);
  return out;
}

Document MirroredVertically(const Document& d) {
  Document out = d;
  for (int32_t y = 0; y < d.height; ++y)
    for (int32_t x = 0; x < d.width; ++x)
      for (int c = 0; c < 3; ++c) out.At(x, y, c) = d.At(x, d.height - 1 - y, c);
  return out;
}

class RenderLoop : public ::testing::Test {
 protected:
  void SetUp() override {
    Probe(module).dialogAccepts = 1;
    Probe(module).dialogSetsAmount = NAN;
  }
  // Renders entry over doc with the settings edited by `set` (key, value).
  RunResult Render(Host& host, const std::string& entry,
                   const std::vector<std::pair<std::string, std::string>>& set = {}) {
    const std::vector<uint8_t> block = SettingsFor(host, module, entry, set);
    Probe(module).renderCallCount = 0;
    RunOptions run;
    run.scriptedSettings = block;
    return RunFilter(host, module, entry, run);
  }
  std::vector<OvraTestRenderCall> Calls() {
    const OvraTestProbe& p = Probe(module);
    return {p.renderCalls, p.renderCalls + p.renderCallCount};
  }
  Module& module = SharedModule();
};

TEST_F(RenderLoop, BandsOfTheHostsTileHeight) {
  struct Case {
    int32_t tileRows;
    std::vector<int32_t> rows;
  };
  for (const Case& c : {Case{256, {256, 256, 188}}, Case{0, {256, 256, 188}}, Case{700, {700}},
                        Case{300, {300, 300, 100}}}) {
    Host host;
    host.Options().tileRows = c.tileRows;
    host.SetDocument(Pattern(1000, 700, 8));
    const Document source = host.Doc();
    ASSERT_EQ(Render(host, "BleachBypass").result, 0);
    const auto calls = Calls();
    ASSERT_EQ(calls.size(), c.rows.size()) << c.tileRows;
    int32_t top = 0;
    for (std::size_t i = 0; i < calls.size(); ++i) {
      EXPECT_EQ(calls[i].areaTop, 0);
      EXPECT_EQ(calls[i].areaLeft, 0);
      EXPECT_EQ(calls[i].areaBottom, c.rows[i]) << c.tileRows << " band " << i;
      EXPECT_EQ(calls[i].areaRight, 1000);
      EXPECT_EQ(calls[i].outTop, top);
      EXPECT_EQ(calls[i].tileIndex, static_cast<int32_t>(i));
      EXPECT_EQ(calls[i].tileCount, static_cast<int32_t>(c.rows.size()));
      EXPECT_EQ(calls[i].imageWidth, 1000);
      EXPECT_EQ(calls[i].isPreview, 0);
      EXPECT_EQ(calls[i].scale, 1.0f);
      top += c.rows[i];
    }
    EXPECT_EQ(host.Doc(), Inverted(source)) << c.tileRows;
    // Progress counts tiles and never passes its total.
    ASSERT_EQ(host.progress.size(), c.rows.size());
    for (std::size_t i = 0; i < host.progress.size(); ++i) {
      EXPECT_EQ(host.progress[i].first, static_cast<int32_t>(i + 1));
      EXPECT_EQ(host.progress[i].second, static_cast<int32_t>(c.rows.size()));
    }
  }
}

TEST_F(RenderLoop, MarginsFromTheExpandRectangle) {
  Host host;
  host.SetDocument(Pattern(1000, 700, 8));
  ASSERT_EQ(Render(host, "FastBlur", {{"margin", "10"}}).result, 0);
  const auto calls = Calls();
  ASSERT_EQ(calls.size(), 3u);
  // Buffers of (256 + 20) rows by the image width (1020 capped at 1000).
  for (const auto& c : calls) {
    EXPECT_EQ(c.rasterHeight, 276);
    EXPECT_EQ(c.rasterWidth, 1000);
  }
  // The first band starts its input at row 0; the others 10 rows above.
  EXPECT_EQ(calls[0].areaBottom, 266);
  EXPECT_EQ(calls[1].areaBottom, 276);
  EXPECT_EQ(calls[2].areaBottom, 10 + 188);
}

TEST_F(RenderLoop, APaddedBandCoveringTheImageIsOneTile) {
  Host host;
  host.SetDocument(Pattern(300, 200, 8));
  ASSERT_EQ(Render(host, "FastBlur", {{"margin", "10"}}).result, 0);
  const auto calls = Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].areaBottom, 200);
  EXPECT_EQ(calls[0].areaRight, 300);
}

TEST_F(RenderLoop, BandsWithMarginsLeaveNoSeams) {
  for (int32_t depth : {8, 16}) {
    const Document source = Pattern(97, 301, depth);
    const Document expected = ShiftedDown(source, 23);
    for (int32_t tileRows : {0, 1, 7, 50, 256, 1000}) {
      Host host;
      host.Options().tileRows = tileRows;
      host.SetDocument(source);
      ASSERT_EQ(Render(host, "FastBlur", {{"margin", "23"}}).result, 0);
      EXPECT_EQ(host.Doc(), expected) << depth << "-bit, tile rows " << tileRows << ": "
                                      << FirstDifference(host.Doc(), expected);
    }
  }
}

// The host keeps one copy of the document: the rows a band overwrites are
// saved to a scratch file, or kept in memory where no scratch file can be
// made, and margins read them back as they were.
TEST_F(RenderLoop, OverwrittenRowsReadBackAsTheyWereFromScratchOrMemory) {
  const Document source = Pattern(61, 203, 16);
  const Document expected = ShiftedDown(source, 31);
  const char* saved = std::getenv("TMPDIR");
  const std::string before = saved != nullptr ? saved : "";
  for (const bool scratch : {true, false}) {
    if (scratch)
      saved != nullptr ? setenv("TMPDIR", before.c_str(), 1) : unsetenv("TMPDIR");
    else
      setenv("TMPDIR", "/nonexistent/ovra-no-scratch", 1);
    Host host;
    host.Options().tileRows = 40;
    host.SetDocument(source);
    ASSERT_EQ(Render(host, "FastBlur", {{"margin", "31"}}).result, 0);
    EXPECT_EQ(host.Doc(), expected) << (scratch ? "scratch file" : "memory") << ": "
                                    << FirstDifference(host.Doc(), expected);
    // Every row but the last band's was overwritten before a margin read it.
    EXPECT_EQ(host.Backup().RowsInMemory(), scratch ? 0u : static_cast<std::size_t>(source.height));
    // A second start reads the document as it stands then.
    const Document once = host.Doc();
    ASSERT_EQ(Render(host, "FastBlur", {{"margin", "31"}}).result, 0);
    EXPECT_EQ(host.Doc(), ShiftedDown(once, 31));
  }
  saved != nullptr ? setenv("TMPDIR", before.c_str(), 1) : unsetenv("TMPDIR");
}

TEST_F(RenderLoop, BothTransferPathsAgree) {
  // At 16 bits the host's planes hold two-byte samples; the fallback moves
  // them at the document's depth, as the ports do.
  for (int32_t depth : {8, 16}) {
    const Document source = Pattern(61, 45, depth);
    for (const char* entry : {"BleachBypass", "FastBlur", "LensDistortion"}) {
      SCOPED_TRACE(std::string(entry) + " " + std::to_string(depth) + "-bit");
      Host ports;
      ports.Options().tileRows = 16;
      ports.SetDocument(source);
      ASSERT_EQ(Render(ports, entry).result, 0);
      Host interleaved;
      interleaved.Options().tileRows = 16;
      interleaved.Options().interleaved = true;
      interleaved.SetDocument(source);
      ASSERT_EQ(Render(interleaved, entry).result, 0);
      EXPECT_EQ(interleaved.Doc(), ports.Doc()) << FirstDifference(interleaved.Doc(), ports.Doc());
      EXPECT_NE(ports.Doc(), source);
      EXPECT_EQ(ports.bufferSuiteBuffersLive, 0);
      EXPECT_EQ(interleaved.bufferProcsBuffersLive, 0);
      // The interleaved path leaves the host with empty rectangles.
      const VRect last = interleaved.requestedInputRects.back();
      EXPECT_EQ(last.bottom - last.top, 0);
    }
  }
}

TEST_F(RenderLoop, ADepthItCannotMoveIsRefusedBeforeAnyPixel) {
  for (bool interleaved : {false, true})
    for (int32_t depth : {1, 24, 32}) {
      Host host;
      host.Options().interleaved = interleaved;
      host.SetDocument(Pattern(20, 10, 8));
      host.Record().depth = depth;
      const Document source = host.Doc();
      EXPECT_EQ(Render(host, "BleachBypass").result, filterBadMode) << interleaved << " depth " << depth;
      EXPECT_EQ(host.Doc(), source) << interleaved << " depth " << depth;
      EXPECT_EQ(Calls().size(), 0u);
      // Nothing but the closing empty request reaches the host.
      for (const VRect& r : host.requestedInputRects)
        EXPECT_TRUE(r.bottom <= r.top || r.right <= r.left) << interleaved << " depth " << depth;
    }
}

TEST_F(RenderLoop, SixteenBitDocumentsRenderAtSixteenBits) {
  Host host;
  host.SetDocument(Pattern(40, 30, 16));
  const Document source = host.Doc();
  ASSERT_EQ(Render(host, "BleachBypass").result, 0);
  EXPECT_EQ(host.Doc(), Inverted(source));
  for (const auto& c : Calls()) EXPECT_EQ(c.is16Bit, 1);
}

TEST_F(RenderLoop, AbortAfterTheFirstTileKeepsOnlyThatBand) {
  Host host;
  host.Options().abortAfterTiles = 1;
  host.SetDocument(Pattern(100, 600, 8));
  const Document source = host.Doc();
  const RunResult r = Render(host, "BleachBypass");
  EXPECT_EQ(r.result, userCanceledErr);
  EXPECT_EQ(Calls().size(), 1u);
  const Document inverted = Inverted(source);
  for (int32_t y : {0, 255, 256, 599}) {
    EXPECT_EQ(host.Doc().At(5, y, 0), (y < 256 ? inverted : source).At(5, y, 0)) << y;
  }
  EXPECT_EQ(host.bufferSuiteBuffersLive, 0);
}

TEST_F(RenderLoop, InactiveEffectsCopy) {
  Host host;
  host.SetDocument(Pattern(50, 40, 8));
  const Document source = host.Doc();
  for (const auto& set : std::vector<std::vector<std::pair<std::string, std::string>>>{
           {{"amount", "0"}, {"temperature", "0"}}, {{"view", "1"}}}) {
    ASSERT_EQ(Render(host, "BleachBypass", set).result, 0);
    EXPECT_TRUE(Calls().empty());
    EXPECT_EQ(host.Doc(), source);
  }
}

TEST_F(RenderLoop, AFailingBandIsClearedAndTheLoopGoesOn) {
  Host host;
  host.Options().tileRows = 10;
  host.SetDocument(Pattern(20, 25, 8));
  ASSERT_EQ(Render(host, "Fog", {{"failure", "6"}}).result, 0);
  for (uint16_t s : host.Doc().samples) ASSERT_EQ(s, 0);
  EXPECT_EQ(host.progress.size(), 3u);
}

TEST_F(RenderLoop, SourceAccessReadsBeyondTheTile) {
  for (bool interleaved : {false, true}) {
    Host host;
    host.Options().tileRows = 32;
    host.Options().interleaved = interleaved;
    host.SetDocument(Pattern(30, 100, 8));
    const Document source = host.Doc();
    ASSERT_EQ(Render(host, "LensDistortion").result, 0);
    EXPECT_EQ(host.Doc(), MirroredVertically(source)) << interleaved << ": "
                                                      << FirstDifference(host.Doc(), MirroredVertically(source));
  }
}

TEST_F(RenderLoop, SourceAccessOfAFilterAreaInsideTheImage) {
  // The render information carries the filter rectangle, whose coordinates
  // source access takes: the test effect mirrors the filter area alone.
  Host host;
  host.Options().tileRows = 16;
  host.SetDocument(Pattern(80, 60, 8));
  host.SetFilterRect({10, 5, 50, 70});
  const Document source = host.Doc();
  ASSERT_EQ(Render(host, "LensDistortion").result, 0);
  for (int32_t y = 0; y < 60; ++y)
    for (int32_t x = 0; x < 80; ++x) {
      const bool inside = y >= 10 && y < 50 && x >= 5 && x < 70;
      const int32_t from = inside ? 10 + 49 - y : y;
      for (int c = 0; c < 3; ++c) ASSERT_EQ(host.Doc().At(x, y, c), source.At(x, from, c)) << x << "," << y;
    }
}

TEST_F(RenderLoop, AFilterAreaInsideTheImage) {
  Host host;
  host.Options().tileRows = 16;
  host.SetDocument(Pattern(80, 60, 8));
  host.SetFilterRect({10, 5, 50, 70});
  const Document source = host.Doc();
  ASSERT_EQ(Render(host, "BleachBypass").result, 0);
  const Document inverted = Inverted(source);
  for (int32_t y = 0; y < 60; ++y)
    for (int32_t x = 0; x < 80; ++x) {
      const bool inside = y >= 10 && y < 50 && x >= 5 && x < 70;
      ASSERT_EQ(host.Doc().At(x, y, 1), (inside ? inverted : source).At(x, y, 1)) << x << "," << y;
    }
}

// --- the preview render -----------------------------------------------------

class Preview : public ::testing::Test {
 protected:
  // A host with doc, and a preview of the effect over it.
  void Open(const Document& doc, const char* registryName, bool interleaved = false) {
    Close();
    host = std::make_unique<Host>();
    host->Options().interleaved = interleaved;
    host->SetDocument(doc);
    PrepareWith(*host, module, registryName);
    host->PrepareRecord(module.Path());
    Probe(module).renderCallCount = 0;
    auto open = reinterpret_cast<OvraTestPreviewOpenProc>(module.Symbol("ovra_test_preview_open"));
    preview = open(&host->Record(), registryName);
    ASSERT_NE(preview, nullptr);
  }
  bool Render(VRect v, float zoom, std::vector<uint8_t>& out, bool dragging = false) {
    out.assign(static_cast<std::size_t>(v.bottom - v.top) * (v.right - v.left) * 4, 0xEE);
    auto render = reinterpret_cast<OvraTestPreviewRenderProc>(module.Symbol("ovra_test_preview_render"));
    return render(preview, v.top, v.left, v.bottom, v.right, zoom, out.data(), (v.right - v.left) * 4,
                  dragging) != 0;
  }
  void Close() {
    if (preview) reinterpret_cast<OvraTestPreviewCloseProc>(module.Symbol("ovra_test_preview_close"))(preview);
    preview = nullptr;
  }
  void TearDown() override { Close(); }
  std::vector<OvraTestRenderCall> Calls() {
    const OvraTestProbe& p = Probe(module);
    return {p.renderCalls, p.renderCalls + p.renderCallCount};
  }
  Module& module = SharedModule();
  std::unique_ptr<Host> host;
  void* preview = nullptr;
};

TEST_F(Preview, AtFullSizeItShowsTheRenderedImage) {
  for (bool interleaved : {false, true}) {
    Open(Pattern(40, 30, 8), "BleachBypass", interleaved);
    std::vector<uint8_t> out;
    ASSERT_TRUE(Render({0, 0, 30, 40}, 1.0f, out));
    for (int32_t y : {0, 17, 29})
      for (int32_t x : {0, 9, 39})
        for (int c = 0; c < 3; ++c)
          EXPECT_EQ(out[(y * 40 + x) * 4 + c], 255 - host->Doc().At(x, y, c)) << interleaved;
  }
}

TEST_F(Preview, SixteenBitDocumentsShowTheSameOnBothPaths) {
  // The preview is 8-bit; on the fallback path the module brings the host's
  // 16-bit planes down itself, at full size and through the scaler.
  for (float zoom : {1.0f, 0.5f}) {
    std::vector<uint8_t> byPorts, byPlanes;
    const VRect v{0, 0, static_cast<int32_t>(30 * zoom), static_cast<int32_t>(40 * zoom)};
    Open(Pattern(40, 30, 16), "BleachBypass", false);
    ASSERT_TRUE(Render(v, zoom, byPorts));
    Open(Pattern(40, 30, 16), "BleachBypass", true);
    ASSERT_TRUE(Render(v, zoom, byPlanes));
    // Zoomed out, the host's scaler and the module's triangle filter differ
    // by rounding only.
    const int tolerance = zoom == 1.0f ? 0 : 2;
    for (std::size_t i = 0; i < byPorts.size(); ++i) {
      if (i % 4 != 3) {
        ASSERT_NEAR(byPlanes[i], byPorts[i], tolerance) << zoom << " at " << i;
      }
    }
  }
}

TEST_F(Preview, ZoomedOutOnTheInterleavedPathThroughTheScaler) {
  Document flat = Document::Make(400, 300, 8);
  for (int32_t y = 0; y < 300; ++y)
    for (int32_t x = 0; x < 400; ++x) {
      flat.At(x, y, 0) = 40;
      flat.At(x, y, 1) = 120;
      flat.At(x, y, 2) = 200;
    }
  Open(flat, "BleachBypass", true);
  std::vector<uint8_t> out;
  ASSERT_TRUE(Render({0, 0, 150, 200}, 0.5f, out));
  for (std::size_t i = 0; i < out.size(); i += 4) {
    ASSERT_EQ(out[i], 215);
    ASSERT_EQ(out[i + 1], 135);
    ASSERT_EQ(out[i + 2], 55);
  }
}

TEST_F(Preview, TheWholeImageIsReadScaledOnceAndCached) {
  Open(Document::Make(6000, 4000, 16), "BleachBypass");
  std::vector<uint8_t> out;
  ASSERT_TRUE(Render({0, 0, 320, 480}, 0.08f, out));
  EXPECT_EQ(host->fullReadPixels, 0);
  EXPECT_EQ(host->scaledReadPixels, 3 * 480 * 320);  // three channels of the zoomed size
  ASSERT_TRUE(Render({0, 0, 320, 480}, 0.08f, out));
  EXPECT_EQ(host->scaledReadPixels, 3 * 480 * 320);  // a parameter change costs no read
  EXPECT_EQ(out[0], 255);                            // black inverted
  ASSERT_EQ(Calls().size(), 2u);
  for (const auto& c : Calls()) {
    EXPECT_EQ(c.isPreview, 1);
    EXPECT_EQ(c.is16Bit, 0);
    EXPECT_EQ(c.imageWidth, 480);
    EXPECT_EQ(c.imageHeight, 320);
    EXPECT_FLOAT_EQ(c.scale, 0.08f);
  }
}

TEST_F(Preview, APartOfTheImageIsRenderedWithItsMargins) {
  Open(Pattern(200, 150, 8), "FastBlur");
  std::vector<uint8_t> out;
  // Zoom 1, the window below the top: the effect sees 10 rows above it.
  ASSERT_TRUE(Render({50, 20, 100, 120}, 1.0f, out));
  const Document expected = ShiftedDown(host->Doc(), 10);
  for (int32_t y = 50; y < 100; y += 7)
    for (int32_t x = 20; x < 120; x += 9)
      EXPECT_EQ(out[((y - 50) * 100 + (x - 20)) * 4], expected.At(x, y, 0)) << x << "," << y;
  ASSERT_EQ(Calls().size(), 1u);
  EXPECT_EQ(Calls()[0].rasterHeight, 70);
  // While dragging the effect is skipped and the source shown.
  ASSERT_TRUE(Render({50, 20, 100, 120}, 1.0f, out, true));
  EXPECT_EQ(out[0], host->Doc().At(20, 50, 0));
  EXPECT_EQ(Calls().size(), 1u);
}

TEST_F(Preview, AViewLargerThanTheImageIsFilledAtTheClipOffset) {
  Open(Pattern(30, 20, 8), "BleachBypass");
  std::vector<uint8_t> out;
  // The image occupies (5, 5) .. (35, 25) of a 40 x 30 view.
  ASSERT_TRUE(Render({-5, -5, 25, 35}, 1.0f, out));
  EXPECT_EQ(out[0], 0xEE);  // outside the image: untouched
  EXPECT_EQ(out[(5 * 40 + 5) * 4], 255 - host->Doc().At(0, 0, 0));
  EXPECT_EQ(out[(24 * 40 + 34) * 4 + 2], 255 - host->Doc().At(29, 19, 2));
}

}  // namespace
