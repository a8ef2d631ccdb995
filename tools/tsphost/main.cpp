// tsphost: plays the telephony service for a provider module, for a person at
// the keyboard or for a scenario file. See README.md beside this file.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "tools/tsphost/host.h"
#include "tools/tsphost/phone_side.h"
#include "tools/tsphost/session.h"

namespace {

constexpr char kUsage[] = R"(usage: tsphost [options] <provider module> [scenario]
       tsphost probe <provider module>
       tsphost config|install|remove [options] <provider module>
Without a scenario tsphost reads commands from the keyboard ("help" lists them)
and shows events as they come; with one it runs the scenario and exits 0 when
every expectation held.
  --set NAME=VALUE  write a setting of the provider's key before loading it
                    (repeatable): --set PortNr=2 --set Trace=1
  --phone FILE      append phone lines to FILE, which phonesim follows
                    (tail -f FILE | phonesim ...)
  --phone-log FILE  phonesim's output, where its replies are read
  --ui MODULE       the UI module to load instead of the one the provider names
  -h, --help        this text)";

struct Arguments {
  std::string mode;  // empty, "probe", "config", "install" or "remove"
  std::string module;
  std::string scenario;
  std::vector<std::pair<std::string, std::string>> settings;
  std::string phone;
  std::string phoneLog;
  std::string ui;
};

// 0 to go on, else the exit code.
int Parse(int argc, char** argv, Arguments* arguments) {
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const auto value = [&](std::string* target) {
      if (i + 1 >= argc) return false;
      *target = argv[++i];
      return true;
    };
    bool ok = true;
    if (argument == "-h" || argument == "--help") {
      std::cout << kUsage << '\n';
      return -1;
    } else if (argument == "--set") {
      std::string setting;
      const std::size_t equals = value(&setting) ? setting.find('=') : std::string::npos;
      ok = equals != std::string::npos && equals > 0;
      if (ok) arguments->settings.emplace_back(setting.substr(0, equals), setting.substr(equals + 1));
    } else if (argument == "--phone") {
      ok = value(&arguments->phone);
    } else if (argument == "--phone-log") {
      ok = value(&arguments->phoneLog);
    } else if (argument == "--ui") {
      ok = value(&arguments->ui);
    } else if (argument.size() > 1 && argument[0] == '-') {
      ok = false;
    } else {
      positional.push_back(argument);
    }
    if (!ok) {
      std::cerr << "tsphost: cannot use " << argument << "\n" << kUsage << '\n';
      return 2;
    }
  }
  if (!positional.empty() && (positional[0] == "probe" || positional[0] == "config" || positional[0] == "install" ||
                              positional[0] == "remove")) {
    arguments->mode = positional[0];
    positional.erase(positional.begin());
    if (positional.size() != 1) {
      std::cerr << kUsage << '\n';
      return 2;
    }
  }
  if (positional.empty() || positional.size() > 2) {
    std::cerr << kUsage << '\n';
    return 2;
  }
  if (arguments->phone.empty() != arguments->phoneLog.empty()) {
    std::cerr << "tsphost: --phone and --phone-log go together\n";
    return 2;
  }
  arguments->module = positional[0];
  if (positional.size() == 2) arguments->scenario = positional[1];
  return 0;
}

int Run(const Arguments& arguments) {
  tsphost::Printer printer(std::cout);
  std::unique_ptr<tsphost::PhoneSide> phone;
  if (!arguments.phone.empty()) phone = std::make_unique<tsphost::PhoneFiles>(arguments.phone, arguments.phoneLog);
  tsphost::Host host(printer);
  tsphost::Session session(host, printer, phone.get());
  for (const auto& [name, value] : arguments.settings) {
    if (session.Execute("set " + name + " " + value) != tsphost::Session::Step::kDone) return 1;
  }
  if (!arguments.ui.empty()) host.SetUiModule(arguments.ui);
  std::string error;
  if (!host.Load(arguments.module, &error)) {
    std::cerr << "tsphost: " << error << '\n';
    return 1;
  }

  if (arguments.mode == "install" || arguments.mode == "remove") {
    // TAPI installs and removes a provider it does not run.
    printer.Line("loaded " + arguments.module);
    return session.Execute(arguments.mode) == tsphost::Session::Step::kDone ? 0 : 1;
  }
  if (!session.Start()) return 1;
  bool held = true;
  if (arguments.mode == "probe") {
    held = session.Execute("provider") == tsphost::Session::Step::kDone;
  } else if (arguments.mode == "config") {
    held = session.Execute("config") == tsphost::Session::Step::kDone;
  } else if (!arguments.scenario.empty()) {
    std::ifstream scenario(arguments.scenario);
    if (!scenario) {
      std::cerr << "tsphost: cannot read " << arguments.scenario << '\n';
      session.Finish();
      return 1;
    }
    held = session.RunScript(scenario);
  } else {
    printer.Line("type commands; \"help\" lists them, \"quit\" ends");
    session.RunInteractive(std::cin);
  }
  const bool clean = session.Finish();
  return held && clean ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments arguments;
  if (const int code = Parse(argc, argv, &arguments); code != 0) return code < 0 ? 0 : code;
  return Run(arguments);
}
