// orwenna models [--json] | models local [--json] | models setup [--model NAME] [--claude-code]
// orwenna login PROVIDER | logout PROVIDER | ask TEXT
//
// The model providers from the command line: see which are connected and how
// each examined model read, what runs on this machine, set up a local model
// (or Claude Code), sign in (keys come from standard input, never from
// arguments), sign out, and send one request. Provider endpoints come from
// Services (app/services.h).
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <memory>

#include "app/model_exam_results.h"
#include "app/services.h"
#include "base/clock.h"
#include "base/files.h"
#include "base/text.h"
#include "llm/catalog.h"
#include "llm/local_setup.h"
#include "llm/providers.h"
#include "llm/sign_in.h"
#include "orwenna/command.h"
#include "orwenna/model_choice.h"
#include "platform/credential_store.h"
#include "platform/process.h"

namespace orwenna::cmd {
namespace {

struct Models {
  LLMEnvironment environment = Services::fromProcess().llm(SecureRandom::shared(), FileCredentialStore::shared());
  std::vector<std::unique_ptr<LLMProvider>> providers = makeProviders(environment);
  LLMCredentials credentials{FileCredentialStore::shared()};

  LLMProvider& provider(const std::string& id) {
    for (auto& p : providers)
      if (p->info().id == id) return *p;
    std::string known;
    for (auto& p : providers) known += (known.empty() ? "" : ", ") + p->info().id;
    throw CommandFailure("There is no model provider \"" + id + "\". Known: " + known + ".");
  }
};

// What the settings page would say about a provider right now.
std::string stateOf(const ProviderInfo& info, const std::optional<Credential>& credential) {
  if (info.unavailable) return "unavailable";
  if (credential || info.kind == ProviderKind::local) return "connected";
  return info.takesKey ? "needs a key" : "needs sign-in";
}

Language languageNamed(const std::string& name) {
  if (name == "ru") return Language::russian;
  if (name == "en") return Language::english;
  throw CommandFailure("The language is en or ru, not \"" + name + "\".");
}

void registerLocal(CLI::App& models) {
  auto* cmd = models.add_subcommand("local", "What runs models on this machine, and which model fits its memory");
  auto json = std::make_shared<bool>(false);
  cmd->add_flag("--json", *json, "Print JSON");
  cmd->callback([json] {
    const Services services = Services::fromProcess();
    LocalSetup setup = localSetup(services);
    LocalState state = setup.detect();
    std::optional<std::string> latest;
    try {
      latest = setup.latestRelease();
    } catch (const Error& e) {
      if (!*json) std::cout << "(Ollama's newest release couldn't be read: " << e.what() << ")\n";
    }
    const std::vector<std::string>& candidates = findProvider("ollama")->models;
    auto sizes = setup.modelSizes(candidates);
    auto memory = machineMemoryGB();
    auto chosen = memory ? chooseModel(candidates, sizes, *memory) : std::nullopt;
    std::optional<std::string> offer;
    if (!state.install) {
      offer = SetupText::installOffer(Language::english);
    } else if (latest && state.installedVersion) {
      if (auto order = compareVersions(*state.installedVersion, *latest); order && *order < 0)
        offer = SetupText::updateOffer(Language::english, *state.installedVersion, *latest);
    }
    ModelExam::ResultStore exams(Defaults::standard());
    if (*json) {
      Json out = state.toJson();
      out["ollama"]["latest"] = latest ? Json(*latest) : Json();
      out["offer"] = offer ? Json(*offer) : Json();
      out["memoryGB"] = memory ? Json(*memory) : Json();
      Json rows = Json::array();
      for (const auto& model : candidates) {
        Json row = Json{{"model", model}, {"chosen", chosen == model}};
        if (auto it = sizes.find(model); it != sizes.end()) {
          row["sizeGB"] = it->second;
          row["runsInGB"] = it->second * 1.2;
        }
        if (auto exam = exams.find("ollama", model)) row["exam"] = exam->result.toJson();
        rows.push_back(std::move(row));
      }
      out["candidates"] = std::move(rows);
      std::cout << out.dump(2) << '\n';
      return;
    }
    if (!state.install) {
      std::cout << "Ollama: not installed";
    } else {
      std::cout << "Ollama " << state.installedVersion.value_or("(version unknown)") << " at "
                << state.install->program.string();
      if (state.install->kind == OllamaInstall::Kind::packaged) std::cout << " (managed elsewhere: a package manager)";
      if (state.install->kind == OllamaInstall::Kind::system) std::cout << " (managed elsewhere)";
      std::cout << (state.runningVersion ? ", running" : ", not running");
    }
    if (latest) std::cout << "; newest release " << *latest;
    std::cout << '\n';
    if (!state.installedModels.empty()) std::cout << "  models: " << text::join(state.installedModels, ", ") << '\n';
    if (offer) std::cout << "  " << *offer << '\n';
    if (memory) std::cout << SetupText::memoryExplanation(*memory) << '\n';
    for (const auto& model : candidates) {
      std::cout << "  " << model << ": ";
      auto it = sizes.find(model);
      std::cout << (it == sizes.end() ? "size unknown" : SetupText::modelRow(it->second));
      if (chosen == model) std::cout << "  ← the one `orwenna models setup` downloads";
      if (auto exam = exams.find("ollama", model)) std::cout << "  (exam: " << ModelExam::summary(exam->result) << ")";
      std::cout << '\n';
    }
    if (sizes.empty()) {
      std::cout << "  The models' sizes couldn't be read from the registry.\n";
    } else if (memory && !chosen) {
      std::cout << "  None of these fits this machine's memory.\n";
    }
    std::cout << "LM Studio: " << (state.lmStudioRunning ? "running" : "not running");
    if (!state.lmStudioModels.empty()) std::cout << ", models: " << text::join(state.lmStudioModels, ", ");
    std::cout << '\n';
  });
}

// Prints setup events; a pull's progress overwrites one line on a terminal.
class ProgressPrinter {
 public:
  void operator()(const SetupEvent& event) {
    switch (event.kind) {
      case SetupEvent::Kind::progress: {
        int step = static_cast<int>(event.percent) / (terminal_ ? 1 : 10);
        if (step == lastStep_) return;
        lastStep_ = step;
        if (terminal_) {
          std::cout << '\r' << event.text << "\x1b[K" << std::flush;
          open_ = true;
        } else {
          std::cout << event.text << '\n';
        }
        return;
      }
      case SetupEvent::Kind::failure:
        endLine();
        failure = event.text;
        return;
      case SetupEvent::Kind::status:
      case SetupEvent::Kind::notice:
        endLine();
        std::cout << event.text << '\n';
        return;
    }
  }
  std::optional<std::string> failure;

 private:
  void endLine() {
    if (open_) std::cout << '\n';
    open_ = false;
  }
  bool terminal_ = ::isatty(STDOUT_FILENO) == 1;
  bool open_ = false;
  int lastStep_ = -1;
};

void registerSetup(CLI::App& models) {
  auto* cmd = models.add_subcommand(
      "setup", "Install or update Ollama, start it and download the biggest model that fits this machine");
  struct Options {
    std::string model, language = "en";
    bool claudeCode = false;
  };
  auto o = std::make_shared<Options>();
  cmd->add_option("--model", o->model, "Download this Ollama model instead of the one chosen for this machine");
  cmd->add_flag("--claude-code", o->claudeCode, "Install the Claude Code program instead, then open its sign-in");
  cmd->add_option("--language", o->language, "en or ru, for the progress lines and the notice");
  cmd->callback([o] {
    Language language = languageNamed(o->language);
    const Services services = Services::fromProcess();
    AppPaths paths = AppPaths::fromEnvironment();
    LocalSetup setup = localSetup(services);
    ProgressPrinter printer;
    SetupProgress progress = [&printer](const SetupEvent& event) { printer(event); };
    if (o->claudeCode) {
      if (!setup.setUpClaudeCode(language, progress)) throw CommandFailure(printer.failure.value_or(""));
      auto program = findClaudeProgram(homeFolder(), searchPath());
      if (!program) return;
      auto script = writeClaudeSignInScript(paths.dataDir, *program);
      if (!openInTerminal(script)) std::cout << "To sign in, run: " << script.string() << '\n';
      return;
    }
    LocalSetupOptions options;
    options.language = language;
    if (!o->model.empty()) options.model = o->model;
    if (!setup.setUpOllama(options, progress)) throw CommandFailure(printer.failure.value_or(""));
  });
}

void registerModels(CLI::App& app) {
  auto* cmd = app.add_subcommand("models", "List the model providers, whether each is connected, and exam results");
  auto json = std::make_shared<bool>(false);
  cmd->add_flag("--json", *json, "Print JSON");
  registerLocal(*cmd);
  registerSetup(*cmd);
  cmd->callback([cmd, json] {
    if (!cmd->get_subcommands().empty()) return;
    Models m;
    std::vector<ModelExam::Record> exams = ModelExam::ResultStore(Defaults::standard()).all();
    Json out = Json::array();
    for (auto& p : m.providers) {
      const ProviderInfo& info = p->info();
      std::string state = stateOf(info, m.credentials.load(info.id));
      Json examined = Json::object();
      for (const auto& r : exams)
        if (r.provider == info.id) examined[r.model] = r.result.toJson();
      if (*json) {
        Json entry = Json::object();
        entry["id"] = info.id;
        entry["name"] = info.name;
        entry["kind"] = kindName(info.kind);
        entry["state"] = state;
        entry["defaultModel"] = info.defaultModel;
        entry["models"] = info.models;
        entry["note"] = info.note;
        if (info.unavailable) entry["unavailable"] = *info.unavailable;
        entry["exam"] = std::move(examined);
        out.push_back(std::move(entry));
        continue;
      }
      std::cout << info.id << " — " << info.name << " (" << kindName(info.kind) << "): " << state << '\n';
      if (info.unavailable) {
        std::cout << "    " << *info.unavailable << '\n';
        continue;
      }
      if (!info.defaultModel.empty()) std::cout << "    default model: " << info.defaultModel << '\n';
      std::cout << "    " << info.note << '\n';
      for (const auto& r : exams)
        if (r.provider == info.id) std::cout << "    exam of " << r.model << ": " << ModelExam::summary(r.result) << '\n';
    }
    if (*json) std::cout << out.dump(2) << '\n';
  });
}

void registerLogin(CLI::App& app) {
  auto* cmd = app.add_subcommand("login", "Connect a model provider: a key on standard input, a browser sign-in, or an existing login");
  auto id = std::make_shared<std::string>();
  auto existing = std::make_shared<bool>(false);
  cmd->add_option("PROVIDER", *id, "Provider id, as `orwenna models` lists them")->required();
  cmd->add_flag("--existing", *existing, "Adopt the login another program holds (ChatGPT: the Codex CLI login)");
  cmd->callback([id, existing] {
    Models m;
    LLMProvider& p = m.provider(*id);
    const ProviderInfo& info = p.info();
    if (info.unavailable) throw CommandFailure(*info.unavailable);
    std::optional<Credential> credential;
    if (info.takesKey) {
      std::string key = text::trimmed(readStandardInput());
      if (key.empty()) throw CommandFailure("No key arrived on standard input; nothing was changed.");
      credential = Credential::apiKey(key);
    } else if (info.kind == ProviderKind::local) {
      std::cout << info.name << " needs no sign-in.\n";
      return;
    } else if (info.existingLoginLabel && (*existing || !info.signInLabel)) {
      credential = p.existingLogin();
    } else {
      credential = p.signIn();
    }
    m.credentials.save(info.id, *credential);
    std::cout << "Connected " << info.name << ".\n";
  });
}

void registerLogout(CLI::App& app) {
  auto* cmd = app.add_subcommand("logout", "Forget the stored credential of a model provider");
  auto id = std::make_shared<std::string>();
  cmd->add_option("PROVIDER", *id, "Provider id")->required();
  cmd->callback([id] {
    Models m;
    const ProviderInfo& info = m.provider(*id).info();
    m.credentials.remove(info.id);
    std::cout << "Disconnected " << info.name << ".\n";
  });
}

void registerAsk(CLI::App& app) {
  auto* cmd = app.add_subcommand("ask", "Send one request to a model and print the answer");
  struct Options {
    std::string provider, model, text;
    bool json = false, think = false, stream = false;
  };
  auto o = std::make_shared<Options>();
  cmd->add_option("--provider", o->provider, "Provider id (default: the first connected one)");
  cmd->add_option("--model", o->model, "Model id (default: the provider's default model)");
  cmd->add_flag("--json", o->json, "Ask for one JSON object back");
  cmd->add_flag("--think", o->think, "Ask for the model's extended reasoning");
  cmd->add_flag("--stream", o->stream, "Print the answer as it arrives");
  cmd->add_option("TEXT", o->text, "The message")->required();
  cmd->callback([o] {
    Models m;
    LLMProvider* chosen = nullptr;
    std::optional<Credential> credential;
    if (!o->provider.empty()) {
      chosen = &m.provider(o->provider);
      credential = m.credentials.load(chosen->info().id);
    } else {
      for (auto& p : m.providers) {
        if (p->info().unavailable || p->info().kind == ProviderKind::local) continue;
        if ((credential = m.credentials.load(p->info().id))) {
          chosen = p.get();
          break;
        }
      }
      if (!chosen) throw CommandFailure("No model provider is connected. Run `orwenna login PROVIDER` first, or pass --provider.");
    }
    const ProviderInfo& info = chosen->info();
    if (info.unavailable) throw CommandFailure(*info.unavailable);
    std::string model = o->model.empty() ? info.defaultModel : o->model;
    if (model.empty()) throw CommandFailure(info.name + " has no default model; pick one with --model.");
    std::shared_ptr<LLMClient> client = chosen->makeClient(credential, model);
    if (o->think) client = std::make_shared<ThinkingClient>(client);
    LLMRequest request;
    request.model = model;
    request.messages = {{LLMMessage::Role::user, o->text}};
    request.wantsJSON = o->json;
    if (o->stream) {
      std::size_t shown = 0;
      std::string answer = client->completeStreaming(request, [&](const std::string& soFar) {
        if (soFar.size() > shown) std::cout << soFar.substr(shown) << std::flush;
        shown = soFar.size();
      });
      if (answer.size() > shown) std::cout << answer.substr(shown);
      std::cout << '\n';
    } else {
      std::cout << client->complete(request) << '\n';
    }
  });
}

const CommandRegistrar llmRegistrar([](CLI::App& app) {
  registerModels(app);
  registerLogin(app);
  registerLogout(app);
  registerAsk(app);
});

}  // namespace
}  // namespace orwenna::cmd
