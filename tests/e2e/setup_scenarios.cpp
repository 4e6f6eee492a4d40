// Shared pieces of the setup.exe scenarios; contracts in setup_scenarios.h.
#include "setup_scenarios.h"

#include <windows.h>

#include <zlib.h>

#include <gtest/gtest.h>

#include <sstream>

#include "cli.h"

namespace e2e {

namespace {

constexpr DWORD kPollMs = 20;
constexpr int kMessageTextId = 0xFFFF;  // a message box's text control

bool IsDialog(HWND hwnd) {
  char name[16];
  int n = GetClassNameA(hwnd, name, sizeof name);
  return n > 0 && std::string(name, n) == "#32770";
}

bool IsMessageBox(HWND hwnd) { return IsDialog(hwnd) && GetDlgItem(hwnd, kMessageTextId); }

// WM_GETTEXT with a time limit: the message goes to the other process.
bool ItemText(HWND dialog, int id, std::string* text) {
  char buf[2048];
  DWORD_PTR got = 0;
  HWND item = GetDlgItem(dialog, id);
  if (!item || !SendMessageTimeoutA(item, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf),
                                    SMTO_ABORTIFHUNG, 5000, &got)) {
    return false;
  }
  text->assign(buf, got < sizeof buf ? got : sizeof buf - 1);
  return true;
}

}  // namespace

// ---- Packages

std::vector<unsigned char> ToBytes(const std::string& text) {
  return std::vector<unsigned char>(text.begin(), text.end());
}

uint64_t StoredTime(int days, int seconds) {
  const uint64_t k2001 = 126227808000000000ull;  // 2001-01-01 00:00 UTC as a FILETIME
  const uint64_t kSecond = 10000000ull;
  return k2001 + (static_cast<uint64_t>(days) * 86400 + seconds) * kSecond;
}

datapack::PackedFile MakeFile(const std::string& name, const std::string& data, uint32_t attributes,
                              int day) {
  datapack::PackedFile f;
  f.name = name;
  f.data = ToBytes(data);
  f.attributes = attributes;
  f.created = StoredTime(day);
  f.accessed = StoredTime(day, 3600 + 7);
  f.written = StoredTime(day, 7200 + 11);
  return f;
}

PackEntry SlowEntry(const std::string& name, size_t bytes) {
  std::string data(bytes, ' ');
  uint32_t x = 12345;
  for (char& c : data) {  // letters in no pattern, so that every byte is a literal
    x = x * 1103515245u + 12345u;
    c = static_cast<char>('a' + (x >> 16) % 26);
  }
  PackEntry e;
  e.file = MakeFile(name, data, datapack::kAttrArchive, 30);
  // memLevel 1 gives 128-symbol blocks, Huffman-only makes every byte a symbol.
  e.compression.mem_level = 1;
  e.compression.strategy = Z_HUFFMAN_ONLY;
  return e;
}

SetupPackage FakeSetupPackage(int kind, const std::string& tag, size_t slow_bytes) {
  SetupPackage pkg;
  pkg.kind = kind;
  std::string program;
  if (!ReadBytes(FakeSetupExe(), &program)) ADD_FAILURE() << "cannot read " << FakeSetupExe();
  pkg.program.file = MakeFile("program", program, datapack::kAttrArchive, 10);
  pkg.program.compression.level = 1;  // quick to pack; the program is large
  // Its file header says neither read-only nor hidden: the bootstrapper makes it both.
  pkg.uninstaller.file =
      MakeFile("uninstaller", "uninstaller of " + tag, datapack::kAttrArchive, 11);
  pkg.support.resize(2);
  pkg.support[0].file =
      MakeFile("readme.txt", "Read me.\r\n", datapack::kAttrArchive | datapack::kAttrReadOnly, 20);
  pkg.support[1].file = MakeFile("data.bin", std::string("\0\1\2\3", 4), KEEP_ATTRIBUTES, 21);
  pkg.support.push_back(SlowEntry("slow.dat", slow_bytes));
  pkg.support.back().file.attributes = datapack::kAttrArchive | datapack::kAttrHidden;
  pkg.list = pkg.MakeList();
  return pkg;
}

std::string SetupPackage::Bytes(std::vector<size_t>* record_offsets) const {
  std::vector<unsigned char> out;
  datapack::AppendPackageHeader(out, kind);
  PackEntry list_entry;
  list_entry.file = ListFile();
  list_entry.bad_adler = bad_list_adler;
  std::vector<const PackEntry*> entries = {&list_entry, &program, &uninstaller};
  for (const PackEntry& e : support) entries.push_back(&e);
  if (record_offsets) record_offsets->clear();
  for (const PackEntry* e : entries) {
    if (record_offsets) record_offsets->push_back(out.size());
    std::vector<unsigned char> payload = datapack::MakePayload(e->file);
    std::vector<unsigned char> stream;
    std::string error;
    if (!datapack::CompressPayload(payload.data(), payload.size(), e->compression, stream, error)) {
      ADD_FAILURE() << "cannot compress " << e->file.name << ": " << error;
      break;
    }
    if (e->bad_adler) datapack::CorruptAdler32(stream);
    datapack::AppendRecord(out, static_cast<uint32_t>(payload.size()),
                           static_cast<uint32_t>(stream.size()), stream);
  }
  return std::string(out.begin(), out.end());
}

uint32_t SetupPackage::PayloadTotal() const {
  const uint32_t kHeader = 28;
  uint32_t total = kHeader + program.file.data.size() + kHeader + uninstaller.file.data.size();
  for (const PackEntry& e : support) total += kHeader + e.file.data.size();
  return total;
}

std::string SetupPackage::MakeList() const {
  // Split over both size lines: the bootstrapper adds them.
  uint32_t total = PayloadTotal();
  return datapack::MakeListFile(total - total / 3, total / 3, SupportNames());
}

datapack::PackedFile SetupPackage::ListFile() const {
  return MakeFile("list", list, datapack::kAttrArchive, 1);
}

std::vector<std::string> SetupPackage::SupportNames() const {
  std::vector<std::string> names;
  for (const PackEntry& e : support) names.push_back(e.file.name);
  return names;
}

// ---- The fake setup program

constexpr char FakeSetupControl::kMadeBySetup[];

FakeSetupControl::FakeSetupControl(const Scenario& scenario, int exit_code)
    : config_(scenario.root() + "fakesetup.cfg"),
      record_(scenario.root() + "fakesetup.rec"),
      release_(scenario.root() + "release") {
  FakeSetupConfig cfg;
  cfg.wait_ms = 600000;  // far beyond any test's timeout: only Release() ends it
  cfg.release = release_;
  cfg.record = record_;
  cfg.create = {kMadeBySetup};
  cfg.exit_code = exit_code;
  ok_ = WriteFakeSetupConfig(config_, cfg);
}

FakeSetupControl::~FakeSetupControl() { Release(); }

StartOptions FakeSetupControl::Options() const {
  StartOptions options;
  options.env = {{"FAKESETUP_CFG", config_}};
  return options;
}

bool FakeSetupControl::WaitRunning(FakeSetupRecord* record) const {
  return WaitForFakeSetupRecord(record_, record, false);
}

bool FakeSetupControl::WaitFinished(FakeSetupRecord* record) const {
  return WaitForFakeSetupRecord(record_, record, true);
}

void FakeSetupControl::Release() const { WriteBytes(release_, ""); }

std::string PinnedSetupExe(const Scenario& scenario, const std::string& package,
                           std::string* error) {
  const std::string pinned = scenario.root() + "pinned.001";
  const std::string exe = scenario.root() + "setup.exe";
  if (!WriteBytes(pinned, package)) {
    *error = "cannot write " + pinned;
    return "";
  }
  std::ostringstream out, err;
  datapack::Console console{out, err, false, ""};
  if (datapack::RunDatapack({"brand", "--pin", pinned, "-f", "-o", exe, SetupExe()}, console) !=
      0) {
    *error = err.str();
    return "";
  }
  return exe;
}

Process StartSetup(const Scenario& scenario, const FakeSetupControl& fake,
                   const SetupPackage& package, const std::string& temp, const std::string& exe) {
  if (!WriteBytes(scenario.StartPath(kPackageName), package.Bytes())) {
    ADD_FAILURE() << "cannot write the package";
    return Process();
  }
  StartOptions options = fake.Options();
  options.temp = temp;
  return scenario.Start(exe.empty() ? SetupExe() : exe, options);
}

bool FinishRun(Process& setup, const FakeSetupControl& fake, DWORD* exit_code) {
  fake.Release();
  FakeSetupRecord record;
  return fake.WaitFinished(&record) && setup.WaitExit(kDefaultTimeoutMs, exit_code);
}

void ExpectRunsToTheEnd(Process& setup, const FakeSetupControl& fake) {
  ASSERT_TRUE(setup.started()) << "CreateProcessA error " << setup.start_error();
  FakeSetupRecord record;
  ASSERT_TRUE(fake.WaitRunning(&record)) << "the setup program was not started";
  DWORD code = 1;
  ASSERT_TRUE(FinishRun(setup, fake, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_TRUE(Exists(UninstallerPath()));
}

// ---- Windows and message boxes

bool WaitForSetupMessage(const Process& process, MessageBoxInfo* box, DWORD timeout_ms) {
  *box = MessageBoxInfo();
  DWORD start = GetTickCount();
  for (;;) {
    bool running = process.Running();  // one more look after it has ended
    for (HWND hwnd : TopLevelWindows(process.pid())) {
      if (!IsWindowVisible(hwnd) || !IsMessageBox(hwnd)) continue;
      char caption[512];
      int n = GetWindowTextA(hwnd, caption, sizeof caption);
      box->hwnd = hwnd;
      box->caption.assign(caption, n > 0 ? n : 0);
      return ItemText(hwnd, kMessageTextId, &box->text);
    }
    if (!running || GetTickCount() - start >= timeout_ms) return false;
    Sleep(kPollMs);
  }
}

HWND FindSetupWindow(const Process& process) {
  for (HWND hwnd : TopLevelWindows(process.pid())) {
    if (IsDialog(hwnd) && !IsMessageBox(hwnd)) return hwnd;
  }
  return nullptr;
}

bool WaitUntilHidden(HWND window, DWORD timeout_ms) {
  DWORD start = GetTickCount();
  while (IsWindow(window)) {
    if (!IsWindowVisible(window)) return true;
    if (GetTickCount() - start >= timeout_ms) return false;
    Sleep(kPollMs);
  }
  return false;
}

// ---- The uninstaller

std::string UninstallerPath() { return WindowsDir() + kUninstallerName; }

bool RemoveUninstaller() {
  std::string path = UninstallerPath();
  if (IsFolder(path)) return RemoveTree(path);
  SetAttributes(path, FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(path.c_str());
  return !Exists(path);
}

UninstallerBlocked::UninstallerBlocked() {
  ok_ = RemoveUninstaller() && CreateDirectoryA(UninstallerPath().c_str(), nullptr);
}

UninstallerBlocked::~UninstallerBlocked() { RemoveUninstaller(); }

WineVersionOverride::WineVersionOverride(const std::string& exe_name, const std::string& version)
    : exe_(exe_name), ok_(SetWineWindowsVersion(exe_name, version)) {}

WineVersionOverride::~WineVersionOverride() { SetWineWindowsVersion(exe_, ""); }

// ---- The small tmpfs

#ifndef E2E_SMALL_TMPFS
#error "E2E_SMALL_TMPFS: where the fixture mounts the small tmpfs (tests/e2e/CMakeLists.txt)"
#endif

std::string SmallTmpfsFolder(const std::string& name, std::string* why) {
  std::string root = WinPath(E2E_SMALL_TMPFS);
  // The fixture writes the marker into the tmpfs once it is mounted, so the marker is only
  // seen while the mount is there.
  ULARGE_INTEGER free_bytes, total_bytes;
  if (!Exists(JoinPath(root, ".small-tmpfs")) ||
      !GetDiskFreeSpaceExA(root.c_str(), &free_bytes, &total_bytes, nullptr) ||
      total_bytes.QuadPart > 4u << 20) {
    *why = "no small tmpfs at " + root +
           ": the ctest fixture wine_session mounts one only when it may (as root)";
    return "";
  }
  // The scenarios take turns, and 1 MiB is little: whatever an earlier one left goes.
  for (const std::string& old : ListFolder(root)) {
    std::string path = JoinPath(root, old);
    if (old == ".small-tmpfs") continue;
    if (IsFolder(path)) {
      RemoveTree(path);
    } else {
      DeleteFileA(path.c_str());
    }
  }
  std::string folder = JoinPath(root, name) + "\\";
  if (!MakeFolders(folder)) {
    *why = "cannot make " + folder;
    return "";
  }
  return folder;
}

}  // namespace e2e
