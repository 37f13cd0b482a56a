#include "commands.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <filesystem>
#include <iomanip>
#include <ostream>

#include "cli_error.h"
#include "output.h"
#include "render.h"
#include "report.h"
#include "sample.h"
#include "scene.h"

namespace kwcli {

namespace {

struct EvalOptions {
  String scene;
  int frame = 0;
  bool frameGiven = false;
  std::vector<String> press;
  String outFolder;
  String jsonFile;
  int repeat = 1;
};

struct RenderCommand {
  String scene;
  int frame = 0;
  bool frameGiven = false;
  String out;
  String size = "800x600";
  bool wireframe = false;
};

struct SampleOptions {
  String scene;
  String object;
  std::vector<String> at;
  int frame = 0;
  bool frameGiven = false;
  bool json = false;
};

/// The shortest text that reads back as the same double.
String Number(Real value) {
  char buffer[64];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
  return String(buffer, r.ptr);
}

const char* KindName(kwhost::PluginKind kind) {
  switch (kind) {
    case kwhost::PluginKind::Deformer:
      return "deformer";
    case kwhost::PluginKind::Falloff:
      return "falloff";
    case kwhost::PluginKind::Tag:
      return "tag";
    case kwhost::PluginKind::Object:
      return "object";
  }
  return "object";
}

void LoadModules(kwhost::ModuleLoader& loader, const String& folder) {
  if (folder.empty()) {
    throw CliError(kExitPlugins,
                   "no plug-in folder next to the program; name one with --plugins DIR");
  }
  if (!loader.LoadFolder(folder)) {
    const String reason = loader.LastError().empty() ? "" : ": " + loader.LastError();
    throw CliError(kExitPlugins, folder + ": cannot read the plug-in folder" + reason);
  }
}

// plugins ----------------------------------------------------------------------------------

void RunPlugins(const kwhost::ModuleLoader& loader, bool json, std::ostream& out) {
  const auto& plugins = kwhost::RegisteredPlugins();
  if (json) {
    Json j = Json::object();
    j["console"] = kwhost::ConsoleLines();
    Json modules = Json::array();
    for (const kwhost::ModuleInfo& m : loader.Modules()) {
      Json entry = Json::object();
      entry["name"] = m.name;
      entry["file"] = m.file;
      entry["started"] = m.started;
      modules.push_back(std::move(entry));
    }
    j["modules"] = std::move(modules);
    Json list = Json::array();
    for (const kwhost::PluginInfo& p : plugins) {
      Json entry = Json::object();
      entry["module"] = p.module;
      entry["kind"] = KindName(p.kind);
      entry["id"] = p.id;
      entry["class"] = p.className;
      entry["name"] = p.name;
      entry["description"] = p.description;
      entry["icon"] = p.icon.empty() ? Json(nullptr) : Json(p.icon);
      entry["flags"] = p.flags;
      entry["diskLevel"] =
          p.kind == kwhost::PluginKind::Falloff ? Json(nullptr) : Json(p.diskLevel);
      list.push_back(std::move(entry));
    }
    j["plugins"] = std::move(list);
    out << FormatJson(j);
    return;
  }
  for (const String& line : kwhost::ConsoleLines()) out << line << "\n";
  out << "\nmodules:\n";
  for (const kwhost::ModuleInfo& m : loader.Modules()) {
    out << "  " << std::left << std::setw(12) << m.name << std::setw(13)
        << (m.started ? "started" : "not started") << m.file << "\n";
  }
  std::vector<std::vector<String>> rows = {
      {"MODULE", "KIND", "ID", "CLASS", "NAME", "DESCRIPTION", "ICON", "FLAGS", "DISK LEVEL"}};
  for (const kwhost::PluginInfo& p : plugins) {
    rows.push_back({p.module, KindName(p.kind), std::to_string(p.id), p.className, p.name,
                    p.description, p.icon.empty() ? "-" : p.icon, std::to_string(p.flags),
                    p.kind == kwhost::PluginKind::Falloff ? "-" : std::to_string(p.diskLevel)});
  }
  std::vector<size_t> widths(rows.front().size(), 0);
  for (const auto& row : rows) {
    for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
  }
  out << "\nplug-ins:\n";
  for (const auto& row : rows) {
    String line;
    for (size_t c = 0; c < row.size(); ++c) {
      line += "  " + row[c];
      if (c + 1 < row.size()) line += String(widths[c] - row[c].size(), ' ');
    }
    out << line << "\n";
  }
}

// eval -------------------------------------------------------------------------------------

void RunEval(const EvalOptions& options, std::ostream& out, std::ostream& err) {
  const bool showProgress = &err == &std::cerr && StderrIsTerminal();
  std::unique_ptr<Scene> scene = LoadScene(options.scene);
  for (const String& press : options.press) PressButton(*scene, press);
  const LONG frame = options.frameGiven ? options.frame : scene->Frame();

  std::vector<double> passMs;
  {
    Progress progress(err, showProgress && options.repeat > 1, "evaluating", options.repeat);
    for (int i = 0; i < options.repeat; ++i) {
      BaseThread thread;
      const auto start = std::chrono::steady_clock::now();
      const Bool ok = Evaluate(*scene, frame, &thread);
      const auto end = std::chrono::steady_clock::now();
      if (!ok) {
        throw CliError(kExitHost, options.scene + ": evaluation failed at frame " +
                                      std::to_string(frame) +
                                      " (a deformer reported failure or the pass was stopped)");
      }
      passMs.push_back(std::chrono::duration<double, std::milli>(end - start).count());
      progress.Update(i + 1);
    }
  }

  Json report = BuildReport(*scene, frame);
  if (options.repeat > 1) {
    std::vector<double> sorted = passMs;
    std::sort(sorted.begin(), sorted.end());
    const size_t n = sorted.size();
    const double median = n % 2 ? sorted[n / 2] : 0.5 * (sorted[n / 2 - 1] + sorted[n / 2]);
    Json timing = Json::object();
    timing["passes"] = options.repeat;
    timing["medianMs"] = median;
    timing["minMs"] = sorted.front();
    report["timing"] = timing;
    err << "timing: " << options.repeat << " passes, median " << Number(median) << " ms, min "
        << Number(sorted.front()) << " ms\n";
  }

  OutputFiles files;
  if (!options.outFolder.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(options.outFolder, ec);
    if (ec) throw CliError(kExitOutput, options.outFolder + ": cannot create: " + ec.message());
    StageObjFiles(*scene, options.outFolder, files, err, showProgress);
  }
  const bool reportToStdout = options.jsonFile == "-";
  if (!options.jsonFile.empty() && !reportToStdout) {
    files.Write(options.jsonFile, FormatJson(report));
  }
  const std::vector<String> written = files.Targets();
  files.Commit();

  if (reportToStdout) {
    out << FormatJson(report);
    return;
  }
  for (const String& line : kwhost::ConsoleLines()) out << line << "\n";
  if (!kwhost::StatusText().empty()) out << "status: " << kwhost::StatusText() << "\n";
  out << "evaluated " << options.scene << " at frame " << frame << "\n";
  for (const String& path : written) out << "wrote " << path << "\n";
}

// render -----------------------------------------------------------------------------------

void RunRender(const RenderCommand& command, const RenderOptions& options, std::ostream& out) {
  std::unique_ptr<Scene> scene = LoadScene(command.scene);
  const LONG frame = command.frameGiven ? command.frame : scene->Frame();
  BaseThread thread;
  if (!Evaluate(*scene, frame, &thread)) {
    throw CliError(kExitHost,
                   command.scene + ": evaluation failed at frame " + std::to_string(frame));
  }
  OutputFiles files;
  RenderScene(*scene, options, files);
  files.Commit();
  out << "wrote " << options.out << " (" << options.width << "x" << options.height << ")\n";
}

// sample -----------------------------------------------------------------------------------

void RunSample(const SampleOptions& options, const std::vector<Vector>& positions,
               std::ostream& out) {
  std::unique_ptr<Scene> scene = LoadScene(options.scene);
  const LONG frame = options.frameGiven ? options.frame : scene->Frame();
  BaseThread thread;
  if (!Evaluate(*scene, frame, &thread)) {
    throw CliError(kExitHost,
                   options.scene + ": evaluation failed at frame " + std::to_string(frame));
  }
  BaseObject* op = scene->FindObject(options.object, "--object " + options.object);
  const std::vector<FalloffSample> samples = SampleFalloff(*scene, op, positions);
  if (options.json) {
    Json list = Json::array();
    for (const FalloffSample& s : samples) {
      Json entry = Json::object();
      entry["at"] = VectorToJson(s.at);
      entry["weight"] = s.weight;
      entry["raw"] = s.raw;
      list.push_back(std::move(entry));
    }
    out << FormatJson(list);
    return;
  }
  for (const FalloffSample& s : samples) {
    out << Number(s.at.x) << "," << Number(s.at.y) << "," << Number(s.at.z) << "  weight "
        << Number(s.weight) << "  raw " << Number(s.raw) << "\n";
  }
}

}  // namespace

int RunKwhost(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  CLI::App app{"kwhost: loads the KW plug-in modules and evaluates JSON scenes with them",
               "kwhost"};
  app.require_subcommand(1, 1);
  app.fallthrough();
  String pluginFolder = kwhost::DefaultPluginFolder();
  app.add_option("--plugins", pluginFolder, "Folder of the plug-in modules")
      ->default_str("<bin>/../plugins");

  bool pluginsJson = false;
  CLI::App* plugins = app.add_subcommand("plugins", "Load the modules and list their plug-ins");
  plugins->add_flag("--json", pluginsJson, "Print the listing as JSON");

  EvalOptions eval;
  CLI::App* evalCommand = app.add_subcommand(
      "eval", "Evaluate a scene: OBJ files of the deformed meshes and a JSON report");
  evalCommand->add_option("SCENE", eval.scene, "JSON scene file")->required();
  CLI::Option* evalFrame =
      evalCommand->add_option("--frame", eval.frame, "Frame to evaluate (default: the scene's)");
  evalCommand->add_option("--press", eval.press, "Press a button first: OBJECT:BUTTON (repeatable)")
      ->allow_extra_args(false);
  evalCommand->add_option("--out", eval.outFolder, "Folder for <object>.obj files");
  evalCommand->add_option("--json", eval.jsonFile, "Report file ('-': standard output)");
  evalCommand->add_option("--repeat", eval.repeat, "Evaluate N times and report pass timings")
      ->check(CLI::Range(1, 1000000));

  RenderCommand render;
  CLI::App* renderCommand =
      app.add_subcommand("render", "Draw the evaluated scene into a PNG or SVG picture");
  renderCommand->add_option("SCENE", render.scene, "JSON scene file")->required();
  CLI::Option* renderFrame = renderCommand->add_option("--frame", render.frame, "Frame to draw");
  renderCommand->add_option("--out", render.out, "Picture file: .png or .svg")->required();
  renderCommand->add_option("--size", render.size, "Picture size WxH")->default_str("800x600");
  renderCommand->add_flag("--wireframe", render.wireframe, "Mesh edges instead of shaded faces");

  SampleOptions sample;
  CLI::App* sampleCommand =
      app.add_subcommand("sample", "Print an object's falloff weights at positions");
  sampleCommand->add_option("SCENE", sample.scene, "JSON scene file")->required();
  sampleCommand->add_option("--object", sample.object, "Deformer or falloff object")->required();
  sampleCommand->add_option("--at", sample.at, "Global position X,Y,Z (repeatable)")
      ->required()
      ->allow_extra_args(false);
  CLI::Option* sampleFrame =
      sampleCommand->add_option("--frame", sample.frame, "Frame to evaluate");
  sampleCommand->add_flag("--json", sample.json, "Print the samples as JSON");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help is a parse "error" that succeeds.
    if (e.get_exit_code() == 0) return app.exit(e, out, err);
    err << e.what() << " (see --help)\n";
    return kExitUsage;
  }
  eval.frameGiven = evalFrame->count() > 0;
  render.frameGiven = renderFrame->count() > 0;
  sample.frameGiven = sampleFrame->count() > 0;

  try {
    // Option values are checked before anything is loaded.
    RenderOptions renderOptions;
    std::vector<Vector> positions;
    if (renderCommand->parsed()) {
      if (PictureFormat(render.out).empty()) {
        throw CliError(kExitUsage, "--out " + render.out + ": expected a .png or .svg file");
      }
      if (!ParseSize(render.size, &renderOptions.width, &renderOptions.height)) {
        throw CliError(kExitUsage,
                       "--size " + render.size + ": expected WxH, each from 1 to 16384");
      }
      renderOptions.out = render.out;
      renderOptions.wireframe = render.wireframe;
    }
    if (sampleCommand->parsed()) {
      for (const String& text : sample.at) {
        Vector p;
        if (!ParsePosition(text, &p))
          throw CliError(kExitUsage, "--at " + text + ": expected X,Y,Z");
        positions.push_back(p);
      }
    }

    kwhost::ModuleLoader loader;
    struct RegistryReset {
      kwhost::ModuleLoader& loader;
      // Plug-in objects die with their scene before this runs; then the modules go, and
      // with them every registration that points into them.
      ~RegistryReset() {
        loader.Shutdown();
        kwhost::ClearRegistry();
      }
    } reset{loader};
    LoadModules(loader, pluginFolder);
    if (plugins->parsed()) {
      RunPlugins(loader, pluginsJson, out);
      return kExitOk;
    }
    // The modules' banners stay out of the reports: those tell what the scene printed.
    kwhost::ClearRecorders();
    if (evalCommand->parsed()) RunEval(eval, out, err);
    if (renderCommand->parsed()) RunRender(render, renderOptions, out);
    if (sampleCommand->parsed()) RunSample(sample, positions, out);
    return kExitOk;
  } catch (const CliError& e) {
    err << e.what() << "\n";
    return e.Status();
  } catch (const std::bad_alloc&) {
    err << "kwhost: out of memory\n";
    return kExitHost;
  }
}

}  // namespace kwcli
