// The editor's plug-in: one procedure per filter the module registers, each
// running the filter through the stand-in host's protocol implementation with
// the editor's layer as the document.
#include <libgimp/gimp.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "effects/catalogue.h"
#include "gimp/layer_store.h"
#include "gimp/procedures.h"
#include "host/cli.h"
#include "host/filter_catalogue.h"
#include "host/filter_run.h"
#include "host/settings_codec.h"

namespace ovra_gimp {
namespace {

struct Filter {
  standin::FilterName name;
  std::string procedure;
  std::string description;
};

std::unique_ptr<standin::Module> LoadModule(std::string& error) {
  const std::string path = standin::cli::DefaultModulePath();
  auto module = standin::Module::Load(path, error);
  if (!module) error = "cannot load the Ovra module " + path + ": " + error;
  return module;
}

// The filters the module runs (those whose parameters selector succeeds), in
// catalogue order; only the one of that procedure when one is named.
std::vector<Filter> Filters(const standin::Module& module, const std::string& procedure = "") {
  std::vector<Filter> out;
  const std::vector<std::string> exported = module.ExportedEntries();
  for (const standin::FilterName& f : standin::KnownFilters()) {
    if (!procedure.empty() && ProcedureName(f.entry) != procedure) continue;
    if (std::find(exported.begin(), exported.end(), f.entry) == exported.end()) continue;
    standin::Host host;
    std::vector<uint8_t> block;
    standin::SettingsView view;
    std::string error;
    if (!standin::ReportedSettings(host, module, f.entry, block, error) ||
        !standin::ParseSettings(block, view, error))
      continue;
    Filter filter{f, ProcedureName(f.entry), ""};
    if (filter.name.displayName.empty()) filter.name.displayName = view.effectName;
    for (const fx::catalogue::Entry& c : fx::catalogue::kEntries)
      if (f.registryName == c.registryName) filter.description = c.description;
    if (filter.description.empty()) filter.description = filter.name.displayName;
    out.push_back(std::move(filter));
  }
  return out;
}

void Query() {
  std::string error;
  auto module = LoadModule(error);
  if (!module) {
    g_printerr("ovra: %s\n", error.c_str());
    return;
  }
  static const GimpParamDef args[] = {
      {GIMP_PDB_INT32, const_cast<gchar*>("run-mode"),
       const_cast<gchar*>(
           "The run mode { RUN-INTERACTIVE (0), RUN-NONINTERACTIVE (1), RUN-WITH-LAST-VALS (2) }")},
      {GIMP_PDB_IMAGE, const_cast<gchar*>("image"), const_cast<gchar*>("Input image")},
      {GIMP_PDB_DRAWABLE, const_cast<gchar*>("drawable"),
       const_cast<gchar*>("Input drawable (an RGB layer)")},
      {GIMP_PDB_STRING, const_cast<gchar*>("settings"),
       const_cast<gchar*>(
           "Empty (the last used settings, else the defaults), a .kvr preset file, or KEY=VALUE "
           "items separated by ';' as ovra-host apply --set takes them; a preset may come first")},
  };
  for (const Filter& f : Filters(*module)) {
    const std::string label = f.name.displayName + "...";
    const std::string help = f.description + "\n\nSettings: ovra-host params " + f.name.registryName +
                             " lists the keys and values this filter takes.";
    gimp_install_procedure(f.procedure.c_str(), f.description.c_str(), help.c_str(), fx::kMakerName,
                           fx::kMakerName, "2024", label.c_str(), "RGB*", GIMP_PLUGIN, G_N_ELEMENTS(args), 0,
                           args, nullptr);
    gimp_plugin_menu_register(f.procedure.c_str(), MenuPath(f.name.family).c_str());
  }
}

// The run's outcome as the editor takes it back.
struct Outcome {
  GimpPDBStatusType status = GIMP_PDB_SUCCESS;
  std::string message;
};

Outcome Fail(GimpPDBStatusType status, std::string message) {
  return {status, std::move(message)};
}

std::string RegistryPath() {
  gchar* path = g_build_filename(gimp_directory(), "ovra-registry", nullptr);
  std::string out = path;
  g_free(path);
  return out;
}

std::vector<uint8_t> LastValues(const std::string& procedure) {
  const gint size = gimp_get_data_size(procedure.c_str());
  std::vector<uint8_t> block(size > 0 ? static_cast<std::size_t>(size) : 0);
  if (!block.empty() && !gimp_get_data(procedure.c_str(), block.data())) block.clear();
  return block;
}

// Fault injection for tests: a band count from the environment, or -1.
//   OVRA_ABORT_AFTER_TILES  the host reports abort after that many bands.
//   OVRA_CLOSE_AFTER_TILES  the process ends after that many bands, as the
//                           editor ends a plug-in whose progress the user
//                           cancelled.
int32_t TilesFromEnvironment(const char* name) {
  const char* env = std::getenv(name);
  if (env == nullptr || *env == '\0') return -1;
  char* end = nullptr;
  const long n = std::strtol(env, &end, 10);
  return *end == '\0' && n >= 0 && n < 1000000 ? static_cast<int32_t>(n) : -1;
}

// The perceptual depth the layer is filtered at; a note when its own
// precision is not one of those.
int32_t TransferDepth(gint32 image, std::string& note) {
  switch (gimp_image_get_precision(image)) {
    case GIMP_PRECISION_U8_GAMMA:
      return 8;
    case GIMP_PRECISION_U16_GAMMA:
      return 16;
    case GIMP_PRECISION_HALF_LINEAR:
    case GIMP_PRECISION_HALF_GAMMA:
    case GIMP_PRECISION_FLOAT_LINEAR:
    case GIMP_PRECISION_FLOAT_GAMMA:
    case GIMP_PRECISION_DOUBLE_LINEAR:
    case GIMP_PRECISION_DOUBLE_GAMMA:
      note =
          "Ovra filters this floating-point image through perceptual 16-bit samples: values outside 0..1 are "
          "clipped.";
      return 16;
    default:
      note =
          "Ovra filters this image through perceptual 16-bit samples (its own precision is converted to "
          "them and back).";
      return 16;
  }
}

// The window the dialog belongs to: the image's display, as the editor gives
// its native handle.
intptr_t ImageWindow() {
  const gint32 display = gimp_default_display();
  if (display <= 0) return 0;
  return static_cast<intptr_t>(static_cast<guint32>(gimp_display_get_window_handle(display)));
}

Outcome Run(const gchar* procedure, const GimpParam* params, gint nparams) {
  if (nparams < 3)
    return Fail(GIMP_PDB_CALLING_ERROR, "the procedure takes a run mode, an image and a drawable");
  const auto mode = static_cast<GimpRunMode>(params[0].data.d_int32);
  const gint32 image = params[1].data.d_image;
  const gint32 drawable = params[2].data.d_drawable;
  const std::string text = nparams > 3 && params[3].data.d_string ? params[3].data.d_string : "";

  std::string error;
  auto module = LoadModule(error);
  if (!module) return Fail(GIMP_PDB_EXECUTION_ERROR, error);
  const std::vector<Filter> filters = Filters(*module, procedure);
  const auto filter =
      std::find_if(filters.begin(), filters.end(), [&](const Filter& f) { return f.procedure == procedure; });
  if (filter == filters.end())
    return Fail(GIMP_PDB_CALLING_ERROR, std::string("no Ovra filter is named ") + procedure);
  const std::string& entry = filter->name.entry;
  const std::string& shown = filter->name.displayName;

  if (!gimp_item_is_drawable(drawable) || !gimp_drawable_is_rgb(drawable))
    return Fail(GIMP_PDB_EXECUTION_ERROR,
                shown + " works on RGB layers only: convert the image to RGB (Image > Mode > RGB) first.");
  gint x = 0, y = 0, width = 0, height = 0;
  // Nothing selected on this layer: nothing to do.
  if (!gimp_drawable_mask_intersect(drawable, &x, &y, &width, &height) || width <= 0 || height <= 0)
    return {};

  const std::string registry = RegistryPath();
  standin::HostOptions options;
  options.abortAfterTiles = TilesFromEnvironment("OVRA_ABORT_AFTER_TILES");

  // The settings handed to the filter, as a recorded action would hand them.
  std::vector<uint8_t> block =
      mode == GIMP_RUN_NONINTERACTIVE ? std::vector<uint8_t>() : LastValues(procedure);
  if (mode == GIMP_RUN_NONINTERACTIVE || (mode == GIMP_RUN_WITH_LAST_VALS && block.empty())) {
    SettingsText parsed;
    if (mode == GIMP_RUN_NONINTERACTIVE && !ParseSettingsText(text, parsed, error))
      return Fail(GIMP_PDB_CALLING_ERROR, shown + ": " + error);
    standin::Host check(options);
    if (!check.LoadRegistry(registry, error)) return Fail(GIMP_PDB_EXECUTION_ERROR, error);
    standin::cli::Settings settings;
    std::string message;
    if (standin::cli::BuildSettings(check, *module, entry, parsed.preset, parsed.sets, settings, message) !=
        0) {
      for (const std::string lead : {"ovra-host: ", "--set "})
        if (message.rfind(lead, 0) == 0) message.erase(0, lead.size());
      return Fail(GIMP_PDB_CALLING_ERROR, shown + ": " + message);
    }
    // Records not given keep the filter's own values (the last used ones or
    // the defaults), as ovra-host apply hands them over.
    block = settings.block;
    for (std::size_t i = 0; i < settings.params.params.size(); ++i)
      if (!settings.given[i]) std::memset(block.data() + settings.params.params[i].offset, 0, 4);
  }

  const gint32 width0 = gimp_drawable_width(drawable), height0 = gimp_drawable_height(drawable);
  std::string note;
  const int32_t depth = TransferDepth(image, note);
  if (!note.empty()) gimp_message(note.c_str());

  GeglBuffer* source = gimp_drawable_get_buffer(drawable);
  GeglBuffer* shadow = gimp_drawable_get_shadow_buffer(drawable);
  standin::RunResult result;
  {
    const GeglRectangle area{x, y, width, height};
    LayerStore store(source, shadow, depth, area);
    standin::Host host(options);
    host.SetPixelStore(&store, width0, height0, depth);
    host.SetFilterRect({y, x, y + height, x + width});
    // The editor's image window is the native parent; the editor offers no
    // native window operations of the kind the bridge calls.
    PlatformData platform{mode == GIMP_RUN_INTERACTIVE ? ImageWindow() : 0, nullptr};
    host.Record().platformData = &platform;
    if (!host.LoadRegistry(registry, error)) {
      g_object_unref(shadow);
      g_object_unref(source);
      gimp_drawable_free_shadow(drawable);
      return Fail(GIMP_PDB_EXECUTION_ERROR, error);
    }
    gimp_progress_init(shown.c_str());
    host.onProgress = [closeAfter = TilesFromEnvironment("OVRA_CLOSE_AFTER_TILES")](int32_t done, int32_t total) {
      if (total > 0) gimp_progress_update(static_cast<gdouble>(done) / total);
      if (closeAfter >= 0 && done >= closeAfter) raise(SIGKILL);
    };
    standin::RunOptions run;
    run.showDialog = mode == GIMP_RUN_INTERACTIVE;
    if (!block.empty()) run.scriptedSettings = block;
    result = standin::RunFilter(host, *module, entry, run);
    if (result.result == noErr) {
      store.Flush();
      gegl_buffer_flush(shadow);
      if (const auto used = host.ParametersBytes())
        gimp_set_data(procedure, used->data(), static_cast<guint32>(used->size()));
      standin::cli::WriteWhole(
          registry,
          [&host](const std::string& temp, std::string& why) { return host.SaveRegistry(temp, why); }, error);
    }
  }
  g_object_unref(shadow);
  g_object_unref(source);
  // The change is one undo step. An aborted or failed run leaves the layer as
  // it was and the image clean: the shadow is dropped, and nothing is pushed.
  if (result.result == noErr) {
    gimp_image_undo_group_start(image);
    gimp_drawable_merge_shadow(drawable, TRUE);
    gimp_drawable_update(drawable, x, y, width, height);
    gimp_image_undo_group_end(image);
  } else {
    gimp_drawable_free_shadow(drawable);
  }
  gimp_progress_end();
  if (result.result == userCanceledErr) return Fail(GIMP_PDB_CANCEL, shown + ": cancelled");
  if (result.result != noErr) return Fail(GIMP_PDB_EXECUTION_ERROR, shown + ": " + result.message);
  if (mode != GIMP_RUN_NONINTERACTIVE) gimp_displays_flush();
  return {};
}

void RunProcedure(const gchar* name, gint nparams, const GimpParam* params, gint* nreturn,
                  GimpParam** returns) {
  static GimpParam values[2];
  static std::string message;
  Outcome outcome;
  gegl_init(nullptr, nullptr);
  try {
    outcome = Run(name, params, nparams);
  } catch (const std::exception& e) {
    outcome = Fail(GIMP_PDB_EXECUTION_ERROR, std::string("Ovra: ") + e.what());
  } catch (...) {
    outcome = Fail(GIMP_PDB_EXECUTION_ERROR, "Ovra: the filter failed");
  }
  values[0].type = GIMP_PDB_STATUS;
  values[0].data.d_status = outcome.status;
  *nreturn = 1;
  *returns = values;
  if (outcome.status != GIMP_PDB_SUCCESS && !outcome.message.empty()) {
    message = outcome.message;
    values[1].type = GIMP_PDB_STRING;
    values[1].data.d_string = const_cast<gchar*>(message.c_str());
    *nreturn = 2;
  }
}

void QueryProcedures() {
  try {
    Query();
  } catch (const std::exception& e) {
    g_printerr("ovra: %s\n", e.what());
  } catch (...) {
    g_printerr("ovra: registering the filters failed\n");
  }
}

const GimpPlugInInfo kPlugIn = {nullptr, nullptr, &QueryProcedures, &RunProcedure};

}  // namespace
}  // namespace ovra_gimp

int main(int argc, char** argv) {
  // The module's dialog runs on X11 beside the editor's windows, whatever
  // platform Qt would pick itself.
  if (const char* display = std::getenv("DISPLAY"); display != nullptr && *display != '\0')
    setenv("QT_QPA_PLATFORM", "xcb", 1);
  return gimp_main(&ovra_gimp::kPlugIn, argc, argv);
}
