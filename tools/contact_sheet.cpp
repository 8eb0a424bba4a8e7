// ovra-contact-sheet: one photograph through every item of an effect's list
// of presets (a catalogue's filters, a film stock, a light source), or
// through every picture of an image-file parameter's data folder (Light!'s
// patterns), rendered by the real module through the stand-in host and laid
// out as one labelled grid, so that a whole catalogue can be looked at at
// once.
//
//   ovra-contact-sheet <filter> <input image> <output.png> [options]
//     --list KEY        the list or image-file parameter to sweep (default
//                       "presets")
//     --set KEY=VALUE   settings for every cell (as ovra-host apply; repeatable)
//     --depth 8|16      the depth the module renders at (default 8)
//     --width N         thumbnail width in pixels (default 160)
//     --columns N       cells per row (default 6)
//     --module FILE     the module (default: ovra.so beside this program)
//
// The first cell is the photograph itself, then one cell per list item after
// the first ("Custom" and the like), each labelled with the item's name.
#include <unistd.h>

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QStringList>
#include <QTextLayout>

#include <algorithm>
#include <array>
#include <filesystem>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "framework/registry.h"
#include "framework/settings_block.h"
#include "host/filter_run.h"
#include "host/image_io.h"
#include "host/module_loader.h"
#include "host/settings_codec.h"
#include "host/standin_host.h"
#include "plugin/entry_table.h"

namespace {

using standin::Document;

constexpr const char* kUsage =
    "usage: ovra-contact-sheet <filter> <input image> <output.png> [--list KEY] [--set KEY=VALUE]...\n"
    "                          [--depth 8|16] [--width N] [--columns N] [--module FILE]\n";

// ------------------------------------------------------------ lettering

// Labels are set by Qt in a real font: hand-drawn letters are too easily
// misread ("g" as "9").
QFont LabelFont(int pixelSize, bool bold = false) {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  return font;
}

// The text laid out in lines of at most `width` pixels, at most maxLines of
// them; the last one ends in an ellipsis when text is left over.
QStringList Wrap(const QString& text, const QFont& font, int width, int maxLines) {
  QStringList lines;
  QTextLayout layout(text, font);
  layout.beginLayout();
  for (;;) {
    QTextLine line = layout.createLine();
    if (!line.isValid()) break;
    line.setLineWidth(width);
    if (lines.size() + 1 == maxLines) {
      const QString rest = text.mid(line.textStart());
      lines << QFontMetrics(font).elidedText(rest, Qt::ElideRight, width);
      break;
    }
    lines << text.mid(line.textStart(), line.textLength()).trimmed();
  }
  layout.endLayout();
  return lines;
}

// ------------------------------------------------------------ pictures

// The photograph reduced to `width` by averaging the source pixels each
// thumbnail pixel covers.
Document Thumbnail(const Document& photo, int32_t width) {
  width = std::clamp(width, 1, photo.width);
  const int32_t height = std::max(1, static_cast<int32_t>(int64_t{photo.height} * width / photo.width));
  Document t = Document::Make(width, height, photo.depth);
  for (int32_t y = 0; y < height; ++y) {
    const int32_t y0 = static_cast<int32_t>(int64_t{y} * photo.height / height);
    const int32_t y1 = std::max(y0 + 1, static_cast<int32_t>(int64_t{y + 1} * photo.height / height));
    for (int32_t x = 0; x < width; ++x) {
      const int32_t x0 = static_cast<int32_t>(int64_t{x} * photo.width / width);
      const int32_t x1 = std::max(x0 + 1, static_cast<int32_t>(int64_t{x + 1} * photo.width / width));
      for (int c = 0; c < 3; ++c) {
        int64_t sum = 0;
        for (int32_t v = y0; v < y1; ++v)
          for (int32_t u = x0; u < x1; ++u) sum += photo.At(u, v, c);
        t.At(x, y, c) = static_cast<uint16_t>(sum / (int64_t{y1 - y0} * (x1 - x0)));
      }
    }
  }
  return t;
}

QImage ToImage(const Document& picture) {
  const Document p = picture.depth == 8 ? picture : standin::ConvertDepth(picture, 8);
  QImage image(p.width, p.height, QImage::Format_RGB32);
  for (int32_t y = 0; y < p.height; ++y)
    for (int32_t x = 0; x < p.width; ++x) image.setPixel(x, y, qRgb(p.At(x, y, 0), p.At(x, y, 1), p.At(x, y, 2)));
  return image;
}

Document ToDocument(const QImage& image) {
  Document d = Document::Make(image.width(), image.height(), 8);
  for (int32_t y = 0; y < d.height; ++y)
    for (int32_t x = 0; x < d.width; ++x) {
      const QRgb c = image.pixel(x, y);
      d.At(x, y, 0) = static_cast<uint16_t>(qRed(c));
      d.At(x, y, 1) = static_cast<uint16_t>(qGreen(c));
      d.At(x, y, 2) = static_cast<uint16_t>(qBlue(c));
    }
  return d;
}

// ------------------------------------------------------------ the module

std::string ModuleBesideThisProgram() {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string dir = ".";
  if (n > 0) {
    self[n] = '\0';
    dir = self;
    dir = dir.substr(0, dir.find_last_of('/'));
  }
  return dir + "/ovra.so";
}

const char* RegistryNameOf(const std::string& filter) {
  const std::string entry = standin::Module::EntryName(filter);
  for (const ps::EntryInfo& e : ps::kEntryTable)
    if (entry == e.entryName) return e.registryName;
  return nullptr;
}

int Fail(const std::string& message) {
  std::cerr << "ovra-contact-sheet: " << message << "\n";
  return 1;
}

int Usage(const std::string& message) {
  std::cerr << "ovra-contact-sheet: " << message << "\n" << kUsage;
  return 2;
}

bool ToInt(const std::string& text, int lo, int hi, int& out) {
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || v < lo || v > hi) return false;
  out = static_cast<int>(v);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> positional;
  std::vector<std::pair<std::string, std::string>> sets;
  std::string listKey = "presets", modulePath = ModuleBesideThisProgram();
  int depth = 8, width = 160, columns = 6;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("--", 0) != 0) {
      positional.push_back(a);
      continue;
    }
    if (i + 1 >= argc) return Usage(a + " needs a value");
    const std::string v = argv[++i];
    if (a == "--list") {
      listKey = v;
    } else if (a == "--module") {
      modulePath = v;
    } else if (a == "--set") {
      const std::size_t eq = v.find('=');
      if (eq == std::string::npos || eq == 0) return Usage("--set needs KEY=VALUE");
      sets.emplace_back(v.substr(0, eq), v.substr(eq + 1));
    } else if (a == "--depth") {
      if (v != "8" && v != "16") return Usage("--depth is 8 or 16");
      depth = std::stoi(v);
    } else if (a == "--width") {
      if (!ToInt(v, 8, 2000, width)) return Usage("--width is 8..2000");
    } else if (a == "--columns") {
      if (!ToInt(v, 1, 100, columns)) return Usage("--columns is 1..100");
    } else {
      return Usage("unknown option " + a);
    }
  }
  if (positional.size() != 3) return Usage("a filter, an input and an output are needed");
  const std::string& filter = positional[0];

  // The effect's table, for its defaults and the names of the list's items.
  const char* registryName = RegistryNameOf(filter);
  if (registryName == nullptr) return Fail("no such filter: " + filter);
  fx::EffectRegistry registry;
  fx::RegisterEffects(registry);
  fx::EffectInstance* effect = registry.Lookup(registryName);
  if (effect == nullptr) return Fail("the module has no effect for " + filter);
  for (uint32_t i = 0; i < effect->parameterCount; ++i) fx::ResetToDefault(effect->parameters[i]);
  const int listIndex = fx::IndexOfKey(*effect, listKey);
  if (listIndex < 0 || (effect->parameters[listIndex].kind != fx::Kind::List &&
                        effect->parameters[listIndex].kind != fx::Kind::ImageFile))
    return Fail(filter + " has no list or image file " + listKey);
  const fx::Parameter& list = effect->parameters[listIndex];
  // The values to sweep and their labels: a list's items after the first,
  // or the pictures of an image file's folder beside the module, by name.
  std::vector<std::pair<std::string, std::string>> items;
  if (list.kind == fx::Kind::List) {
    for (int32_t item = 1; item < list.ItemCount(); ++item) items.emplace_back(std::to_string(item), list.Item(item));
  } else {
    const char* sub = list.declaration != nullptr ? list.declaration->subFolder : nullptr;
    const std::filesystem::path folder = std::filesystem::path(modulePath).parent_path() / (sub ? sub : "");
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
      if (entry.is_regular_file(ec)) {
        const std::string name = entry.path().filename().string();
        items.emplace_back(name, entry.path().stem().string());
      }
    if (ec || items.empty()) return Fail("no pictures in " + folder.string());
    std::sort(items.begin(), items.end());
  }

  std::vector<uint8_t> base = fx::BuildSettings(*effect);
  std::string error;
  standin::SettingsView view;
  if (!standin::ParseSettings(base, view, error)) return Fail(error);
  auto set = [&](std::vector<uint8_t>& block, const std::string& key, const std::string& value) {
    for (const auto& r : view.records)
      if (r.key == key) return standin::SetValue(block, r, value, error);
    error = filter + " has no parameter " + key;
    return false;
  };
  for (const auto& [k, v] : sets)
    if (!set(base, k, v)) return Usage(error);

  Document photo;
  if (!standin::ReadImage(positional[1], photo, error)) return Fail(error);
  const Document thumb = standin::ConvertDepth(Thumbnail(photo, width), depth);
  std::unique_ptr<standin::Module> module = standin::Module::Load(modulePath, error);
  if (!module) return Fail(error);

  // The cells: the photograph, then every item after the first.
  struct Cell {
    std::string label;
    Document picture;
  };
  std::vector<Cell> cells = {{"(original)", thumb}};
  for (const auto& [value, label] : items) {
    std::vector<uint8_t> block = base;
    if (!set(block, listKey, value)) return Fail(error);
    standin::Host host;
    host.SetDocument(thumb);
    standin::RunOptions run;
    run.scriptedSettings = block;
    const standin::RunResult r = standin::RunFilter(host, *module, filter, run);
    if (r.result != 0) return Fail(label + ": " + standin::DescribeResult(r.result, r.message));
    cells.push_back({label, host.Doc()});
  }

  // Qt sets the text; the sheet is drawn off screen, no display needed.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int qtArgc = 1;
  char* qtArgv[] = {argv[0], nullptr};
  QGuiApplication app(qtArgc, qtArgv);

  // The grid: the effect's name and what was swept, then cells of the
  // thumbnail with up to three lines of label under it.
  constexpr int32_t kGap = 10, kLabelLines = 3;
  const QFont titleFont = LabelFont(18, true), subtitleFont = LabelFont(12), labelFont = LabelFont(11);
  const int32_t labelLine = QFontMetrics(labelFont).lineSpacing();
  const int32_t titleHeight = QFontMetrics(titleFont).lineSpacing() + QFontMetrics(subtitleFont).lineSpacing();
  const int32_t cellHeight = thumb.height + 4 + kLabelLines * labelLine;
  const int32_t cols = std::min<int32_t>(columns, static_cast<int32_t>(cells.size()));
  const int32_t rows = (static_cast<int32_t>(cells.size()) + cols - 1) / cols;
  const int32_t top = kGap + titleHeight + kGap;
  QImage sheet(kGap + cols * (thumb.width + kGap), top + rows * (cellHeight + kGap), QImage::Format_RGB32);
  sheet.fill(QColor(36, 36, 36));
  {
    QPainter painter(&sheet);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const int32_t textWidth = sheet.width() - 2 * kGap;
    painter.setPen(QColor(240, 240, 240));
    painter.setFont(titleFont);
    const QFontMetrics titleMetrics(titleFont);
    painter.drawText(QRect(kGap, kGap, textWidth, titleMetrics.lineSpacing()), Qt::AlignLeft | Qt::AlignTop,
                     titleMetrics.elidedText(QString::fromUtf8(fx::DisplayName(*effect)), Qt::ElideRight, textWidth));
    painter.setPen(QColor(190, 190, 190));
    painter.setFont(subtitleFont);
    const QString subtitle = QStringLiteral("%1 %2, %3-bit")
                                 .arg(cells.size() - 1)
                                 .arg(QString::fromUtf8(list.label))
                                 .arg(depth);
    painter.drawText(QRect(kGap, kGap + titleMetrics.lineSpacing(), textWidth, QFontMetrics(subtitleFont).lineSpacing()),
                     Qt::AlignLeft | Qt::AlignTop, subtitle);
    painter.setPen(QColor(225, 225, 225));
    painter.setFont(labelFont);
    for (std::size_t i = 0; i < cells.size(); ++i) {
      const int32_t left = kGap + static_cast<int32_t>(i % cols) * (thumb.width + kGap);
      const int32_t y = top + static_cast<int32_t>(i / cols) * (cellHeight + kGap);
      painter.drawImage(QPoint(left, y), ToImage(cells[i].picture));
      int32_t line = y + thumb.height + 4;
      for (const QString& text : Wrap(QString::fromUtf8(cells[i].label), labelFont, thumb.width, kLabelLines)) {
        painter.drawText(QRect(left, line, thumb.width, labelLine), Qt::AlignHCenter | Qt::AlignTop, text);
        line += labelLine;
      }
    }
  }
  if (!standin::WriteImage(positional[2], ToDocument(sheet), error)) return Fail(error);
  std::cout << positional[2] << ": " << cells.size() - 1 << " items of " << listKey << "\n";
  return 0;
}
