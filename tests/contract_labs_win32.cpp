// savefix.exe's own world for the contract: a save folder under the
// temporary folder, named as on the command line, made through the Windows
// calls. It runs under Wine.
#include <windows.h>

#include <algorithm>

#include "platform/windows_rules.h"
#include "tests/contract.h"

namespace {

// The rows' names are ASCII.
std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }
std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool whole = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                     written == bytes.size();
  return CloseHandle(file) && whole;
}

// The names in `folder`, "." and ".." aside.
std::vector<std::wstring> Entries(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

void RemoveTree(const std::wstring& folder) {
  for (const std::wstring& name : Entries(folder)) {
    const std::wstring path = folder + name;
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileW(path.c_str())) RemoveTree(path + L"\\");
  }
  RemoveDirectoryW(folder.c_str());
}

class WindowsLab : public Lab {
 public:
  WindowsLab() {
    static unsigned count = 0;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    root_ = temp + std::wstring(L"savefix-contract-") + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(count++) + L"\\";
    folder_ = root_ + L"SaveGames\\";
    CreateDirectoryW(root_.c_str(), nullptr);
    CreateDirectoryW(folder_.c_str(), nullptr);
  }
  ~WindowsLab() override {
    install_.reset();
    RemoveTree(root_);
  }

  bool Make(const Entry& entry, std::string* why) override {
    const std::wstring path = folder_ + Wide(entry.name);
    bool made = false;
    *why = "Windows refuses the name";
    if (IsDeviceNameUnits(std::u16string(entry.name.begin(), entry.name.end()))) {
      *why = "Windows opens the name as a device";
      return false;
    }
    switch (entry.kind) {
      case Kind::kSave: made = WriteFileBytes(path, SaveBytes(entry.name)); break;
      case Kind::kFile: made = WriteFileBytes(path, "old " + entry.name); break;
      case Kind::kReadOnly:
        made = WriteFileBytes(path, "old " + entry.name) && SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
        break;
      case Kind::kDirectory: made = CreateDirectoryW(path.c_str(), nullptr) != 0; break;
      case Kind::kHardLink: made = CreateHardLinkW(path.c_str(), (folder_ + Wide(entry.to)).c_str(), nullptr) != 0; break;
      default: *why = "a Windows program makes no pipe, device or symbolic link";
    }
    return made;
  }
  std::string Bytes(const std::string& name) override {
    HANDLE file = CreateFileW((folder_ + Wide(name)).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "(none)";
    std::string bytes;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
    CloseHandle(file);
    return bytes;
  }
  std::vector<std::string> Names() override {
    std::vector<std::string> names;
    for (const std::wstring& name : Entries(folder_)) names.push_back(Narrow(name));
    std::sort(names.begin(), names.end());
    return names;
  }
  Install& TheInstall() override {
    if (!install_) install_ = ThisMachine({})->NamedInstall(ContractGame(), Folder().c_str());
    return *install_;
  }
  std::string Folder() override { return Narrow(folder_); }
  bool Named(const std::string& name, std::unique_ptr<Install>* install, std::string*) override {
    *install = ThisMachine({})->NamedInstall(ContractGame(), (Folder() + name).c_str());
    return true;
  }

 private:
  std::wstring root_;
  std::wstring folder_;
  std::unique_ptr<Install> install_;
};

}  // namespace

std::vector<LabMaker> SystemLabMakers() { return {{"windows", [] { return std::make_unique<WindowsLab>(); }}}; }
