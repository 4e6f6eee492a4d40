#include "cli.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "commands.h"

#ifndef DATAPACK_VERSION
#define DATAPACK_VERSION "0"
#endif

namespace datapack {

namespace {

const char kGeneralHelp[] =
    "Usage: datapack COMMAND [OPTIONS] ...\n"
    "Creates, lists, verifies and extracts setup packages (_Data.001).\n"
    "\n"
    "Commands:\n"
    "  create   pack a list file, a setup program, an uninstaller and support files\n"
    "  list     show the entries of a package\n"
    "  verify   check a package as the setup bootstrapper reads it\n"
    "  extract  unpack every entry of a package into a folder\n"
    "  brand    copy setup.exe with your own icon, link address and version fields\n"
    "  help     show help: datapack help COMMAND (or datapack COMMAND --help)\n"
    "\n"
    "Options:\n"
    "  -h, --help     show this help\n"
    "  -V, --version  show the version\n"
    "\n"
    "Exit status:\n"
    "  0  success (warnings may have been printed)\n"
    "  1  usage error: bad command line, or an existing file that needs --force\n"
    "  2  invalid package, or inputs that would make a package the bootstrapper refuses\n"
    "  3  I/O error: a file could not be read or written, with the system's reason; also\n"
    "     when standard output cannot be written (\"datapack: write error: REASON\")\n";

struct Command {
  const char* name;
  int (*run)(const std::vector<std::string>&, Console&);
  const char* help;
};

const Command kCommands[] = {
    {"create", CommandCreate, kCreateHelp}, {"list", CommandList, kListHelp},
    {"verify", CommandVerify, kVerifyHelp}, {"extract", CommandExtract, kExtractHelp},
    {"brand", CommandBrand, kBrandHelp},
};

const Command* FindCommand(const std::string& name) {
  for (const Command& c : kCommands)
    if (name == c.name) return &c;
  return nullptr;
}

}  // namespace

int RunDatapack(const std::vector<std::string>& args, Console& console) {
  if (args.empty()) {
    console.err << kGeneralHelp;
    return kExitUsage;
  }
  // "datapack -h COMMAND" is "datapack help COMMAND".
  const std::string& first =
      (args[0] == "-h" || args[0] == "--help") && args.size() > 1 ? "help" : args[0];
  if (first == "-h" || first == "--help" ||
      (first == "help" && (args.size() == 1 || args[1] == "help"))) {
    console.out << kGeneralHelp;
    return kExitOk;
  }
  if (first == "-V" || first == "--version") {
    console.out << "datapack " DATAPACK_VERSION "\n";
    return kExitOk;
  }
  if (first == "help") {
    const Command* c = FindCommand(args[1]);
    if (!c) {
      std::string names;
      for (const Command& k : kCommands) names += std::string(names.empty() ? "" : ", ") + k.name;
      return Fail(console, kExitUsage, "help",
                  "unknown command '" + args[1] + "' (commands: " + names + ")");
    }
    console.out << c->help;
    return kExitOk;
  }
  const Command* c = FindCommand(first);
  if (!c) {
    console.err << "datapack: unknown command '" << Printable(first)
                << "' (try 'datapack --help')\n";
    return kExitUsage;
  }
  std::vector<std::string> rest(args.begin() + 1, args.end());
  for (const std::string& a : rest) {
    if (a == "--") break;
    if (a == "-h" || a == "--help") {
      console.out << c->help;
      return kExitOk;
    }
  }
  return c->run(rest, console);
}

std::string Options::Get(const char* name, const std::string& fallback) const {
  auto it = values.find(name);
  return it == values.end() ? fallback : it->second;
}

bool ParseOptions(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs,
                  Options& options, std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--") {
      options.operands.insert(options.operands.end(), args.begin() + (long)i + 1, args.end());
      return true;
    }
    if (a.size() < 2 || a[0] != '-') {
      options.operands.push_back(a);
      continue;
    }
    const OptionSpec* known = nullptr;
    std::string value;
    bool has_value = false;
    if (a[1] == '-') {
      std::string name = a.substr(2);
      size_t eq = name.find('=');
      if (eq != std::string::npos) {
        value = name.substr(eq + 1);
        name.resize(eq);
        has_value = true;
      }
      for (const OptionSpec& s : specs)
        if (name == s.name) known = &s;
    } else {
      // Short options may be combined ("-qf"); one that takes a value ends the group and
      // takes the rest of it ("-Cout") or the next argument.
      for (size_t k = 1; k < a.size(); ++k) {
        known = nullptr;
        for (const OptionSpec& s : specs)
          if (s.letter && a[k] == s.letter) known = &s;
        if (!known) {
          error = "unknown option '-" + std::string(1, a[k]) + "'" +
                  (a.size() > 2 ? " in '" + a + "'" : std::string());
          return false;
        }
        if (known->takes_value) {
          if (k + 1 < a.size()) {
            value = a.substr(k + 1);
            has_value = true;
          }
          break;
        }
        if (k + 1 < a.size()) options.values[known->name] = "";
      }
    }
    if (!known) {
      error = "unknown option '" + a + "'";
      return false;
    }
    if (known->takes_value && !has_value) {
      if (i + 1 >= args.size()) {
        error = "option '" + a + "' needs a value";
        return false;
      }
      value = args[++i];
    } else if (!known->takes_value && has_value) {
      error = "option '--" + std::string(known->name) + "' takes no value";
      return false;
    }
    options.values[known->name] = value;
  }
  return true;
}

std::string Printable(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7F) {
      out += (char)c;
    } else {
      char esc[8];
      snprintf(esc, sizeof esc, "\\x%02x", c);
      out += esc;
    }
  }
  return out;
}

int Fail(Console& console, int code, const std::string& what, const std::string& reason) {
  console.err << "datapack: " << Printable(what) << ": " << Printable(reason) << "\n";
  return code;
}

int UsageError(Console& console, const char* command, const std::string& reason) {
  console.err << "datapack: " << command << ": " << Printable(reason) << " (try 'datapack help "
              << command << "')\n";
  return kExitUsage;
}

std::string ErrnoText() {
  const int code = errno;
  return code ? strerror(code) : "unknown error";
}

void Warn(Console& console, const std::string& what, const std::string& text) {
  console.err << "datapack: warning: " << Printable(what) << ": " << Printable(text) << "\n";
  ++console.warnings;
}

std::string ReportsText(uint64_t reports) {
  const uint64_t ms = reports * kReportWaitMs;
  char wait[48];
  snprintf(wait, sizeof wait, "%llu.%02llu s", (unsigned long long)(ms / 1000),
           (unsigned long long)(ms % 1000 / 10));
  return std::to_string(reports) + " progress report" + (reports == 1 ? "" : "s") + ": at least " +
         wait + " of waiting in the bootstrapper";
}

bool ParseNumber(const std::string& text, int64_t low, int64_t high, int64_t& value) {
  if (text.empty() || text.size() > 18) return false;
  size_t i = text[0] == '-' ? 1 : 0;
  if (i == text.size()) return false;
  int64_t n = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    n = n * 10 + (text[i] - '0');
  }
  if (text[0] == '-') n = -n;
  if (n < low || n > high) return false;
  value = n;
  return true;
}

ProgressLine::ProgressLine(Console& console, std::string label, uint64_t total)
    : console_(console),
      label_(Printable(label)),
      total_(total),
      start_(std::chrono::steady_clock::now()) {
  // "datapack: " + label + " 100 %" within the width, one column spare so that the terminal
  // does not wrap.
  const size_t room = console.width > 26 ? console.width - 1 - 16 : 10;
  if (label_.size() > room) label_ = label_.substr(0, room - 3) + "...";
}

ProgressLine::~ProgressLine() { Finish(); }

void ProgressLine::Update(uint64_t done) {
  if (!console_.err_is_terminal || total_ == 0) return;
  int percent = (int)(done >= total_ ? 100 : done * 100 / total_);
  if (percent == shown_) return;
  const auto now = std::chrono::steady_clock::now();
  auto ms = [](std::chrono::steady_clock::duration d) {
    return (uint64_t)std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
  };
  if (ms(now - start_) < console_.progress_delay_ms) return;
  if (shown_ >= 0 && percent < 100 && ms(now - drawn_) < console_.progress_interval_ms) return;
  shown_ = percent;
  drawn_ = now;
  const std::string line = "datapack: " + label_ + " " + std::to_string(percent) + " %";
  drawn_size_ = line.size();
  console_.err << "\r" << line << std::flush;
}

void ProgressLine::Finish() {
  if (shown_ < 0) return;
  // Blank the line so that what follows starts clean.
  console_.err << "\r" << std::string(drawn_size_, ' ') << "\r" << std::flush;
  shown_ = -1;
}

}  // namespace datapack
