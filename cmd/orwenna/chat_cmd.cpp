// orwenna chat [--provider ID] [--model ID] [--evm ADDRESS] [--solana ADDRESS] [--json]
//
// The chat in a terminal, over the same Workspace the app runs: each line is
// a message; lines starting with ":" are actions, never chat text —
// ":confirm CODE" confirms the card showing that code (and only it), ":cancel"
// drops the card, ":stop" ends the model call, ":pick N" clicks option card N,
// ":canvas" lists the canvases (":canvas new", ":canvas N" switches), ":log"
// prints the recent activity, ":quit" leaves. Standard input that is not a
// terminal is read line by line, each line answered before the next is read;
// --json prints every event of the Workspace as one JSON object per line.
// Without a connected model the local parsers read what they can.
#include <unistd.h>

#include <csignal>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "app/app_loop.h"
#include "app/read_tools.h"
#include "app/services.h"
#include "app/workspace.h"
#include "base/files.h"
#include "base/log.h"
#include "base/text.h"
#include "orwenna/command.h"
#include "orwenna/conversation.h"
#include "platform/defaults.h"
#include "trading/risk_policy.h"

namespace orwenna::cmd {
namespace {

// SIGTERM and SIGINT end the input; the chat then saves and leaves normally.
extern "C" void endInput(int) { ::close(STDIN_FILENO); }

class Printer {
 public:
  Printer(bool json, bool terminal) : json_(json), terminal_(terminal) {}

  void event(const WorkspaceEvent& e) {
    std::lock_guard lock(mutex_);
    if (json_) {
      std::cout << Json{{"rev", e.rev}, {"kind", e.kind}, {"data", e.data}}.dump() << std::endl;
      return;
    }
    if (e.kind == "message") {
      const Json& m = e.data.at("message");
      if (!m.at("fromUser").get<bool>()) std::cout << "orwenna: " << m.at("text").get<std::string>() << std::endl;
      if (m.contains("note") && m.at("fromUser").get<bool>())
        std::cout << "  (your message" << m.at("note").get<std::string>() << ")" << std::endl;
    } else if (e.kind == "card" && e.data.is_object()) {
      const std::string status = e.data.at("status");
      const std::string code = e.data.at("code");
      if (status == "waiting") {
        std::cout << "[card " << code << "] " << e.data.at("command").get<std::string>()
                  << " — type :confirm " << code << " to go ahead, :cancel to drop it" << std::endl;
        if (e.data.contains("next")) std::cout << "  " << e.data.at("next").get<std::string>() << std::endl;
      } else {
        std::cout << "[card " << code << "] " << status << std::endl;
      }
    } else if (e.kind == "options") {
      int n = 0;
      for (const auto& o : e.data)
        std::cout << "  :pick " << ++n << "  " << o.at("title").get<std::string>() << " — "
                  << o.at("command").get<std::string>() << (o.at("recommended").get<bool>() ? " (recommended)" : "")
                  << std::endl;
    } else if (e.kind == "composer" && !e.data.at("text").get<std::string>().empty()) {
      std::cout << "composer: " << e.data.at("text").get<std::string>() << std::endl;
    } else if (e.kind == "draft" && terminal_) {
      const std::string text = e.data.at("text");
      if (!text.empty()) std::cout << "… " << text << std::endl;
    } else if (e.kind == "show") {
      if (e.data.contains("command")) std::cout << "[shows " << e.data.at("command").get<std::string>() << "]" << std::endl;
    } else if (e.kind == "plan" && e.data.at("intent").is_object()) {
      for (const auto& b : e.data.at("blocks"))
        std::cout << "[plan] " << b.at("label").get<std::string>() << ": " << b.at("title").get<std::string>()
                  << std::endl;
    } else if (e.kind == "notice") {
      std::cout << "! " << e.data.at("text").get<std::string>() << std::endl;
    }
  }

  void line(const std::string& text) {
    std::lock_guard lock(mutex_);
    if (json_) std::cout << Json{{"kind", "tool"}, {"data", Json{{"text", text}}}}.dump() << std::endl;
    else std::cout << text << std::endl;
  }

 private:
  std::mutex mutex_;
  bool json_;
  bool terminal_;
};

struct Options {
  std::string provider, model, evm, solana;
  bool json = false;
};

// "1"…"999" → 1…999; anything else → 0.
std::size_t ordinal(const std::string& text) {
  if (text.empty() || text.size() > 3) return 0;
  std::size_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    n = n * 10 + static_cast<std::size_t>(c - '0');
  }
  return n;
}

void waitIdle(AppLoop& loop, Workspace& ws) {
  for (;;) {
    bool idle = false;
    loop.sync([&] { idle = ws.idle(); });
    if (idle) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  loop.sync([] {});
}

// One ":" action; false for ":quit".
bool action(const std::string& input, AppLoop& loop, Workspace& ws, Printer& out) {
  std::string verb = input.substr(1);
  std::string arg;
  if (auto space = verb.find(' '); space != std::string::npos) {
    arg = text::trimmed(verb.substr(space + 1));
    verb = verb.substr(0, space);
  }
  if (verb == "quit" || verb == "q") return false;
  if (verb == "confirm") {
    loop.sync([&] {
      const auto& card = ws.card();
      if (!card || text::uppercased(arg) != card->code) {
        out.line("No card with the code «" + arg + "» is waiting, so nothing was signed.");
        return;
      }
      if (ws.confirm(card->id, card->version) != Workspace::ConfirmResult::started)
        out.line("That card isn't waiting any more, so nothing was signed.");
    });
  } else if (verb == "cancel") {
    loop.sync([&] { ws.cancelCard(); });
  } else if (verb == "stop") {
    loop.sync([&] { ws.stop(); });
  } else if (verb == "pick") {
    loop.sync([&] {
      const auto& steps = ws.nextSteps();
      std::size_t n = ordinal(arg);
      if (!steps || n == 0 || n > steps->options.size()) {
        out.line("There is no option card " + arg + ".");
        return;
      }
      ws.send(steps->options[n - 1].command, MessageSource::quickButton);
    });
  } else if (verb == "canvas") {
    loop.sync([&] {
      if (arg == "new") {
        ws.newCanvas();
        return;
      }
      const auto& all = ws.canvases();
      if (std::size_t n = ordinal(arg); n > 0 && n <= all.size()) {
        ws.switchCanvas(all[n - 1].id);
        return;
      }
      int i = 0;
      for (const auto& c : all)
        out.line(std::to_string(++i) + (c.id == ws.canvas().id ? " * " : "   ") + c.title +
                 (c.folder ? " [" + *c.folder + "]" : "") + " — " + std::to_string(c.messages.size()) + " messages");
    });
  } else if (verb == "log") {
    loop.sync([&] {
      const auto& all = ws.activities();
      std::size_t first = all.size() > 10 ? all.size() - 10 : 0;
      for (std::size_t i = first; i < all.size(); ++i) {
        const Activity& a = all[i];
        std::string line = iso8601(a.at) + " " + std::string(activityKindName(a.kind)) + ": " +
                           a.request.value_or(a.title.value_or(""));
        if (a.understood) line += " → " + *a.understood;
        if (a.failed.value_or(false)) line += " (failed)";
        if (a.stopped.value_or(false)) line += " (stopped)";
        out.line(line);
        for (const auto& l : a.lines) out.line("    " + l);
      }
    });
  } else {
    out.line("Actions: :confirm CODE, :cancel, :stop, :pick N, :canvas [new|N], :log, :quit.");
  }
  return true;
}

void registerChat(CLI::App& app) {
  auto* cmd = app.add_subcommand("chat", "Chat in the terminal: messages, cards and option cards");
  auto o = std::make_shared<Options>();
  cmd->add_option("--provider", o->provider, "Provider id (default: the first connected one)");
  cmd->add_option("--model", o->model, "Model id (default: the provider's default model)");
  cmd->add_option("--evm", o->evm, "Your EVM / Hyperliquid address, for balances");
  cmd->add_option("--solana", o->solana, "Your Solana address, for balances");
  cmd->add_flag("--json", o->json, "Print every event as one JSON object per line");
  cmd->callback([o] {
    const bool terminal = ::isatty(STDIN_FILENO) != 0;
    // The printer outlives the conversation: events may come until it ends.
    Printer out(o->json, terminal);
    ConversationOptions options{o->provider, o->model, o->evm, o->solana};
    Conversation conversation(options);
    const auto& chosen = conversation.model();
    AppLoop& loop = conversation.loop();
    Workspace* ws = &conversation.workspace();
    loop.sync([&] {
      ws->setListener([&out](const WorkspaceEvent& e) { out.event(e); });
      for (const auto& n : ws->loadNotices()) out.event(WorkspaceEvent{ws->revision(), "notice", Json{{"text", n}}});
    });
    std::signal(SIGTERM, endInput);
    std::signal(SIGINT, endInput);
    if (terminal && !o->json)
      out.line("Orwenna chat" + (chosen ? " with " + chosen->name : std::string(" without a model")) +
               ". Type a message; :confirm CODE confirms a card; :quit leaves.");

    std::string input;
    while (true) {
      if (terminal && !o->json) std::cout << "> " << std::flush;
      if (!std::getline(std::cin, input)) break;
      input = text::trimmed(input);
      if (input.empty()) continue;
      if (input[0] == ':') {
        if (!action(input, loop, *ws, out)) break;
      } else {
        loop.sync([&] { ws->send(input, MessageSource::composer); });
      }
      // A script's next line waits for this one's answer.
      if (!terminal) waitIdle(loop, *ws);
    }
    if (terminal) loop.sync([&] { ws->stop(); });
    waitIdle(loop, *ws);
  });
}

const CommandRegistrar chatRegistrar{registerChat};

}  // namespace
}  // namespace orwenna::cmd
