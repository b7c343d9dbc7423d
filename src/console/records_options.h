// What "vornex restore" and "vornex history" share: their options ("--name value" pairs,
// switches and a plain word) with the checks of numbers and paths, the refusal of a mistake on
// the command line, the settings named by --settings and the station records opened for
// reading. Private to the record commands.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "console/exit_status.h"
#include "console/station_records.h"
#include "foundation/paths.h"
#include "foundation/settings.h"
#include "foundation/text.h"
#include "store/station_store.h"

namespace vornex {

// Options of one command: "--name value" pairs, "--name" switches and at most one plain word.
struct TOptions {
  std::map<std::string, std::string> values;
  std::set<std::string> switches;
  std::string word;

  bool Has(const std::string& name) const { return values.count(name) != 0; }
  bool Switch(const std::string& name) const { return switches.count(name) != 0; }
  std::string Get(const std::string& name) const {
    const auto it = values.find(name);
    return it != values.end() ? it->second : std::string();
  }
};

// Nullopt with the mistake in *error: an unknown option, one given twice, one without its
// value, or a plain word the command does not take (`takesWord`: at most one).
inline std::optional<TOptions> ParseOptions(const std::vector<std::string>& args,
                                            const std::set<std::string>& withValue,
                                            const std::set<std::string>& switches, bool takesWord,
                                            std::string* error) {
  TOptions options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (withValue.count(arg) != 0) {
      if (i + 1 >= args.size()) {
        *error = "missing value after " + arg;
        return std::nullopt;
      }
      if (options.Has(arg)) {
        *error = arg + " is given twice";
        return std::nullopt;
      }
      options.values[arg] = args[++i];
    } else if (switches.count(arg) != 0) {
      options.switches.insert(arg);
    } else if (arg.starts_with("-") && arg.size() > 1) {
      *error = "unknown option: " + arg;
      return std::nullopt;
    } else if (!takesWord || !options.word.empty()) {
      *error = "unexpected word: " + arg;
      return std::nullopt;
    } else {
      options.word = arg;
    }
  }
  return options;
}

// A whole number from 1 to `most` written in digits only; nullopt otherwise.
inline std::optional<long long> WholeNumber(const std::string& text, long long most) {
  if (text.empty() || text.size() > 18 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (value < 1 || value > most) return std::nullopt;
  return value;
}

// What stands under a path that is there but is no regular file ("a folder", "a FIFO" ...);
// empty for a regular file (links followed) and for a path that names nothing. The path is only
// looked at, never opened: opening a FIFO would wait for its writer.
inline std::string OtherThanFile(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  switch (fs::status(paths::FsPath(path), ec).type()) {
    case fs::file_type::regular:
    case fs::file_type::not_found:
    case fs::file_type::none:
      return {};
    case fs::file_type::directory:
      return "a folder";
    case fs::file_type::fifo:
      return "a FIFO";
    case fs::file_type::character:
      return "a character device";
    case fs::file_type::block:
      return "a block device";
    case fs::file_type::socket:
      return "a socket";
    default:
      return "something else";
  }
}

// The first path option whose value cannot be used, as the mistake; empty when none. Something
// other than a file under --datainfo is not a mistake on the command line: the restore refuses
// it as the DataInfo file given.
inline std::string PathMistake(const TOptions& options) {
  std::error_code ec;
  for (const auto& [name, value] : options.values) {
    const bool file = name == "--settings" || name == "--datainfo";
    const bool folder = name == "--bench" || name == "--data";
    if (!file && !folder) continue;
    if (value.empty()) return name + " needs a path";
    if (Utf16Length(value) > kMaxPathUnits) {
      return name + ": the path is longer than 259 characters: " + value;
    }
    const std::string other = file ? OtherThanFile(value) : std::string();
    if (!other.empty() && name == "--settings") {
      return name + ": " + value + " is " + other + ", not a regular file";
    }
    if (file && other.empty() && !std::filesystem::is_regular_file(paths::FsPath(value), ec)) {
      return name + ": no such file: " + value;
    }
    // A missing --data folder is the records' to refuse: it is not a mistake for every use.
    if (name == "--bench" && !std::filesystem::is_directory(paths::FsPath(value), ec)) {
      return name + ": no such folder: " + value;
    }
  }
  return {};
}

// True when the command line asks for the usage (--help or -h anywhere in it).
inline bool AsksForHelp(const std::vector<std::string>& args) {
  return std::any_of(args.begin(), args.end(),
                     [](const std::string& arg) { return arg == "--help" || arg == "-h"; });
}

// Says the mistake on the command line and the usage; the exit status.
inline int RefuseCommandLine(const char* command, const std::string& mistake,
                             const std::string& usage, std::ostream& err) {
  err << "vornex " << command << ": " << mistake << '\n' << usage;
  return exit_status::kUsage;
}

inline TStationSettings CommandSettings(const TOptions& options) {
  return LoadSettings(options.Has("--settings") ? options.Get("--settings") : SettingsPath());
}

// The store for a command that only reads it: nothing is created for it.
inline std::unique_ptr<TStationStore> OpenStoreForReading(const char* command,
                                                          const TOptions& options,
                                                          const TStationSettings& settings,
                                                          std::ostream& err) {
  std::string error;
  std::unique_ptr<TStationStore> store =
      OpenStationStoreForReading(options.Get("--data"), settings, &error);
  if (!store) err << "vornex " << command << ": " << error << '\n';
  return store;
}

}  // namespace vornex
