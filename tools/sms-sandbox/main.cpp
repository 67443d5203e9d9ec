// sms-sandbox: the local gateway for demos and tests.
//
// What it can do is listed in tables: below, the listener kinds (one option
// each) and the subcommands it runs instead of serving; in journal.cpp, beside
// the decoding that uses it, the request dialects it reads (so the library the
// tests and fuzzers link reads them too). Adding a capability means adding its
// own source file and one line to a table.
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "apicom.h"
#include "sandbox.h"

namespace zentrova::sandbox {

std::unique_ptr<Listener> MakeHttpListener(const ListenerConfig&, Journal&);
std::unique_ptr<Listener> MakeMailboxListener(const ListenerConfig&, Journal&);

namespace {

struct ListenerKind {
  const char* option;  // "--http"
  const char* kind;    // "http", as in the readiness line and the log
  const char* help;
  ListenerFactory make;
};
const ListenerKind kListenerKinds[] = {
    {"--http", "http", "answer POST /sms.dll?private&type=N over HTTP", MakeHttpListener},
    {"--smtp", "smtp", "accept mail for the gateway mailbox over SMTP", MakeMailboxListener},
};

struct Subcommand {
  const char* name;
  const char* usage;  // one line for --help
  int (*run)(int argc, char** argv);  // argv[0] is the subcommand's name
};
const std::vector<Subcommand> kSubcommands = {
    {"decode", "decode < BODY > DOCUMENT   (an APICOM body to its plain document)", RunDecode},
    {"encode", "encode --account ID --email ADDRESS < DOCUMENT > BODY   (the reverse)", RunEncode},
};

void PrintHelp() {
  std::cout << "Usage: sms-sandbox LISTENER [REPLY OPTIONS] [LISTENER [REPLY OPTIONS]]... "
               "[--log FILE]\n";
  for (const Subcommand& sub : kSubcommands) std::cout << "       sms-sandbox " << sub.usage << "\n";
  std::cout << "\nA local stand-in for the SMS gateway. It answers every request from a scripted\n"
               "reply, prints one line per request and, with --log, appends one JSON object per\n"
               "request to FILE. Once all listeners are bound it prints one line\n"
               "\"sms-sandbox: listening KIND HOST:PORT\" per listener, then \"sms-sandbox: ready\".\n"
               "It runs until interrupted (SIGINT or SIGTERM).\n\nListeners (PORT 0 picks a free port):\n";
  for (const ListenerKind& kind : kListenerKinds)
    std::cout << "  " << kind.option << " HOST:PORT   " << kind.help << "\n";
  std::cout <<
      "\nReply options apply to the listener named last. Each request takes the next reply;\n"
      "the last one repeats once the script is used up.\n"
      "  --status N        HTTP status of the reply (default 200; 407 adds Proxy-Authenticate)\n"
      "  --reply TEXT      reply body (default \"0000 Message accepted\" for status 200, else empty)\n"
      "  --reply-file F    reply body read from file F, byte for byte\n"
      "  --reply-size N    pad the reply body with '.' to N bytes\n"
      "  --delay MS        wait MS milliseconds before answering\n"
      "  --then            start the next reply of the script\n"
      "  --smtp-reply STAGE=REPLY   for --smtp: answer STAGE (greeting, helo, mail, rcpt,\n"
      "                    data, end, quit) with REPLY, e.g. rcpt=\"550 no such mailbox\"\n"
      "                    (\"\\n\" between lines of a multi-line reply), \"close\" to hang up\n"
      "                    or \"silent\" to answer nothing; may be repeated\n"
      "\nOther options:\n"
      "  --log FILE        append one JSON object per request to FILE\n"
      "  -h, --help        this text\n"
      "  --version         the kit's version\n";
}

bool ReadFile(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream text;
  text << in.rdbuf();
  out = text.str();
  return true;
}

bool ParseCount(const char* text, long max, int& out) {
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(text, &end, 10);
  if (errno || end == text || *end || value < 0 || value > max) return false;
  out = static_cast<int>(value);
  return true;
}

int Fail(const std::string& message) {
  std::cerr << "sms-sandbox: " << message << "\n(see sms-sandbox --help)\n";
  return 64;
}

int Serve(int argc, char** argv) {
  std::vector<ListenerConfig> configs;
  std::vector<ListenerFactory> factories;
  std::string logPath;
  std::vector<int> padTo;  // per step of the last listener, applied at the end

  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      PrintHelp();
      std::exit(0);
    }
    auto value = [&](const char* what) -> const char* {
      if (i + 1 >= argc) return nullptr;
      (void)what;
      return argv[++i];
    };
    const ListenerKind* kind = nullptr;
    for (const ListenerKind& k : kListenerKinds)
      if (arg == k.option) kind = &k;
    if (kind) {
      const char* where = value("HOST:PORT");
      ListenerConfig config;
      config.kind = kind->kind;
      if (!where || !SplitHostPort(where, config.host, config.port))
        return Fail(arg + " needs HOST:PORT, for example 127.0.0.1:0 or [::1]:8080");
      config.steps.emplace_back();
      configs.push_back(std::move(config));
      factories.push_back(kind->make);
      continue;
    }
    if (arg == "--smtp-reply") {
      const char* script = value("STAGE=REPLY");
      if (!script) return Fail("--smtp-reply needs STAGE=REPLY");
      if (configs.empty() || configs.back().kind != "smtp")
        return Fail("--smtp-reply must follow the --smtp listener it scripts");
      configs.back().smtpReplies.push_back(script);
      continue;
    }
    if (arg == "--log") {
      const char* path = value("FILE");
      if (!path) return Fail("--log needs a file name");
      logPath = path;
      continue;
    }
    bool replyOption = arg == "--status" || arg == "--reply" || arg == "--reply-file" ||
                       arg == "--reply-size" || arg == "--delay" || arg == "--then";
    if (!replyOption) return Fail("unknown option " + arg);
    if (configs.empty()) return Fail(arg + " must follow the listener it scripts");
    std::vector<ReplyStep>& steps = configs.back().steps;
    if (arg == "--then") {
      steps.emplace_back();
      continue;
    }
    const char* text = value("VALUE");
    if (!text) return Fail(arg + " needs a value");
    ReplyStep& step = steps.back();
    int number = 0;
    if (arg == "--status") {
      if (!ParseCount(text, 999, number) || number < 100) return Fail("--status needs 100 to 999");
      step.status = number;
    } else if (arg == "--reply") {
      step.body = text;
      step.bodyGiven = true;
    } else if (arg == "--reply-file") {
      if (!ReadFile(text, step.body)) return Fail(std::string("cannot read ") + text);
      step.bodyGiven = true;
    } else if (arg == "--reply-size") {
      if (!ParseCount(text, 100L * 1024 * 1024, number)) return Fail("--reply-size needs a byte count");
      if (!step.bodyGiven) step.body = step.status == 200 ? kDefaultReply : "";
      step.bodyGiven = true;
      if (step.body.size() < static_cast<std::size_t>(number)) step.body.resize(number, '.');
    } else if (arg == "--delay") {
      if (!ParseCount(text, 3600L * 1000, number)) return Fail("--delay needs milliseconds");
      step.delayMs = number;
    }
  }
  if (configs.empty()) return Fail("no listener: give at least one of --http ...");

  // Signals are taken by sigwait below; block them before any thread starts.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  Journal journal;
  std::string error;
  if (!journal.Open(logPath, error)) {
    std::cerr << "sms-sandbox: " << error << "\n";
    return 1;
  }
  std::vector<std::unique_ptr<Listener>> listeners;
  for (std::size_t i = 0; i < configs.size(); ++i) {
    listeners.push_back(factories[i](configs[i], journal));
    if (!listeners.back()->Start(error)) {
      std::cerr << "sms-sandbox: " << error << "\n";
      return 1;
    }
  }
  for (const auto& listener : listeners)
    std::cout << "sms-sandbox: listening " << listener->Describe() << "\n";
  std::cout << "sms-sandbox: ready" << std::endl;

  int signal = 0;
  sigwait(&stopSignals, &signal);
  for (auto& listener : listeners) listener->Stop();
  return 0;
}

}  // namespace
}  // namespace zentrova::sandbox

int main(int argc, char** argv) {
  using namespace zentrova::sandbox;
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::cout << "sms-sandbox " ZV_PROJECT_VERSION "\n";
    return 0;
  }
  if (argc >= 2) {
    for (const Subcommand& sub : kSubcommands)
      if (std::strcmp(argv[1], sub.name) == 0) return sub.run(argc - 1, argv + 1);
  }
  return Serve(argc, argv);
}
