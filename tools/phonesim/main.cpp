// phonesim: plays the Kavrel Phone on a pseudo-terminal (or a serial device) for
// the provider on the other end, driven by commands from stdin or a FIFO.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/pty.h"
#include "tools/phonesim/console.h"
#include "tools/phonesim/simulator.h"

namespace {

constexpr char kUsage[] = R"(usage: phonesim [options]
  --link PATH       also make PATH a symbolic link to the pseudo-terminal
                    ($K482_DOSDEVICES/com3, <wine prefix>/dosdevices/com7)
  --device PATH     play the phone on this terminal device instead of a new pseudo-terminal
  --commands PATH   read commands from PATH instead of stdin; a FIFO is opened
                    again whenever its writer goes, so every writer is heard
  --no-input        read no commands; run until SIGTERM or SIGINT
  -e, --exec CMD    carry out CMD first (repeatable): -e "farend busy"
  --quiet           show replies only, no monitor lines
  --require-pacing  exit with status 3 if a command line came faster than the
                    provider's pacing (20 ms after each byte) allows
  -h, --help        this text; "help" on the command input lists the commands
The first line written is the device the provider opens.)";

std::mutex g_printLock;

void Print(const std::string& text) {
  std::lock_guard lock(g_printLock);
  std::cout << text << '\n' << std::flush;
}

struct Arguments {
  phonesim::Options options;
  std::string commands;
  bool noInput = false;
  bool quiet = false;
  bool requirePacing = false;
  std::vector<std::string> exec;
};

// 0 to go on, else the exit code.
int Parse(int argc, char** argv, Arguments* arguments) {
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const auto value = [&](std::string* target) {
      if (i + 1 >= argc) return false;
      *target = argv[++i];
      return true;
    };
    bool ok = true;
    if (argument == "--link") {
      ok = value(&arguments->options.link);
    } else if (argument == "--device") {
      ok = value(&arguments->options.device);
    } else if (argument == "--commands") {
      ok = value(&arguments->commands);
    } else if (argument == "-e" || argument == "--exec") {
      ok = value(&arguments->exec.emplace_back());
    } else if (argument == "--no-input") {
      arguments->noInput = true;
    } else if (argument == "--quiet") {
      arguments->quiet = true;
    } else if (argument == "--require-pacing") {
      arguments->requirePacing = true;
    } else if (argument == "-h" || argument == "--help") {
      std::cout << kUsage << '\n';
      return -1;
    } else {
      ok = false;
    }
    if (!ok) {
      std::cerr << "phonesim: cannot use " << argument << "\n" << kUsage << '\n';
      return 2;
    }
  }
  return 0;
}

// Feeds lines to the console until the input ends or "quit"; true on "quit".
bool Feed(std::istream& in, phonesim::Console& console) {
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (const std::string reply = console.Execute(line); !reply.empty()) Print(reply);
    if (console.quit()) return true;
  }
  return false;
}

void ReadCommands(const std::string& path, phonesim::Console& console) {
  if (path.empty()) {
    Feed(std::cin, console);
    return;
  }
  std::error_code error;
  const bool fifo = std::filesystem::is_fifo(path, error);
  do {
    std::ifstream in(path);
    if (!in) {
      std::cerr << "phonesim: cannot read " << path << '\n';
      return;
    }
    if (Feed(in, console)) return;
  } while (fifo);
}

// The exit status: 3 when pacing was required and a command line broke it.
int PacingStatus(const Arguments& arguments, const phonesim::Simulator& simulator) {
  if (!arguments.requirePacing) return 0;
  const std::vector<phonesim::CommandLine> unpaced = simulator.UnpacedLines();
  if (unpaced.empty()) return 0;
  std::string lines;
  for (const phonesim::CommandLine& line : unpaced) lines += " " + phonesim::Printable(line.text);
  std::cerr << "phonesim: " << unpaced.size() << " command line(s) came faster than 15 ms a byte:" << lines << '\n';
  return 3;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments arguments;
  if (const int code = Parse(argc, argv, &arguments); code != 0) return code < 0 ? 0 : code;

  // A session of our own lets us hold the pseudo-terminal, so that no other
  // session leader can take it and be hung up with it.
  if (arguments.options.device.empty()) {
    if (platform::EnterOwnSession() == 0) {
      arguments.options.controllingTerminal = true;
    } else {
      std::cerr << "phonesim: no session of its own; the line is not held as controlling terminal\n";
    }
  }
  platform::BlockTerminationSignals();

  const auto started = std::chrono::steady_clock::now();
  if (!arguments.quiet) {
    arguments.options.monitor = [started](const std::string& remark) {
      const auto elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      char stamp[32];
      std::snprintf(stamp, sizeof stamp, "[%9.3f] ", elapsed);
      Print(stamp + remark);
    };
  }
  phonesim::Simulator simulator(arguments.options);
  // Scripts read the device from the first line: remarks wait until it is out.
  std::unique_lock firstLine(g_printLock);
  const phonesim::Status status = simulator.Start();
  if (!status) {
    std::cerr << "phonesim: " << status.message << '\n';
    return 1;
  }
  std::cout << simulator.PeerPath() << '\n' << std::flush;
  firstLine.unlock();
  if (!arguments.quiet) Print("phonesim: " + status.message + "; \"help\" lists the commands");

  phonesim::Console console(simulator);
  for (const std::string& command : arguments.exec) {
    if (const std::string reply = console.Execute(command); !reply.empty()) Print(reply);
  }

  enum class Ending { kNone, kInput, kSignal };
  std::mutex mutex;
  std::condition_variable ended;
  Ending ending = console.quit() ? Ending::kInput : Ending::kNone;
  const auto end = [&](Ending why) {
    std::lock_guard lock(mutex);
    if (ending == Ending::kNone) ending = why;
    ended.notify_all();
  };

  std::atomic<bool> signalWaiterDone{false};
  std::thread signalWaiter([&] {
    platform::WaitForTerminationSignal();
    signalWaiterDone = true;
    end(Ending::kSignal);
  });
  std::thread input;
  if (!arguments.noInput && ending == Ending::kNone) {
    input = std::thread([&] {
      ReadCommands(arguments.commands, console);
      end(Ending::kInput);
    });
  }
  {
    std::unique_lock lock(mutex);
    ended.wait(lock, [&] { return ending != Ending::kNone; });
  }

  simulator.Stop();
  const int exitStatus = PacingStatus(arguments, simulator);
  if (input.joinable() && ending == Ending::kSignal) {
    // The input thread may sit in a read that nothing can end; the line and the
    // link are already released, so leave without waiting for it.
    std::cout.flush();
    std::cerr.flush();
    std::_Exit(exitStatus);
  }
  if (input.joinable()) input.join();
  if (!signalWaiterDone) platform::RaiseTermination();
  signalWaiter.join();
  return exitStatus;
}
