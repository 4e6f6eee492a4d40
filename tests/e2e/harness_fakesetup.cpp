// The e2e harness: fakesetup.exe's configuration and record files (formats in harness.h).
#include <windows.h>

#include <cstdlib>
#include <string>

#include "harness.h"

namespace e2e {

std::string FakeSetupConfigText(const FakeSetupConfig& config) {
  // CR LF, as a file made on Windows would have; the program accepts LF too.
  std::string text = "wait_ms=" + std::to_string(config.wait_ms) + "\r\n";
  text += "exit_code=" + std::to_string(config.exit_code) + "\r\n";
  if (!config.release.empty()) text += "release=" + config.release + "\r\n";
  for (const std::string& name : config.create) text += "create=" + name + "\r\n";
  if (!config.record.empty()) text += "record=" + config.record + "\r\n";
  if (!config.window.empty()) text += "window=" + config.window + "\r\n";
  return text;
}

bool WriteFakeSetupConfig(const std::string& path, const FakeSetupConfig& config) {
  return WriteBytes(path, FakeSetupConfigText(config));
}

bool ReadFakeSetupRecord(const std::string& path, FakeSetupRecord* record) {
  *record = FakeSetupRecord();
  std::string text;
  if (!ReadBytes(path, &text)) return false;
  bool has_pid = false, has_state = false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    DWORD number = std::strtoul(value.c_str(), nullptr, 10);
    if (key == "pid") {
      record->pid = number;
      has_pid = true;
    } else if (key == "parent_pid") {
      record->parent_pid = number;
    } else if (key == "exe") {
      record->exe = value;
    } else if (key == "cwd") {
      record->cwd = value;
    } else if (key == "cmdline") {
      record->cmdline = value;
    } else if (key == "temp") {
      record->temp = value;
    } else if (key == "startup_flags") {
      record->startup_flags = number;
    } else if (key == "show_window") {
      record->show_window = number;
    } else if (key == "desktop") {
      record->desktop = value;
    } else if (key == "title") {
      record->title = value;
    } else if (key == "cfg") {
      record->cfg = value;
    } else if (key == "version") {
      record->version = value;
    } else if (key == "file") {
      record->files.push_back(value);
    } else if (key == "dir") {
      record->dirs.push_back(value);
    } else if (key == "waited_ms") {
      record->waited_ms = number;
    } else if (key == "released") {
      record->released = value == "1";
    } else if (key == "exit_code") {
      record->exit_code = std::atoi(value.c_str());
    } else if (key == "state") {
      record->finished = value == "finished";
      has_state = true;
    }
  }
  return has_pid && has_state;
}

bool WaitForFakeSetupRecord(const std::string& path, FakeSetupRecord* record, bool finished,
                            DWORD timeout_ms) {
  return WaitUntil(
      [&] { return ReadFakeSetupRecord(path, record) && (record->finished || !finished); },
      timeout_ms);
}

}  // namespace e2e
