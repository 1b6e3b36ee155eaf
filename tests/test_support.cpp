#include "tests/test_support.h"

#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace {

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  return std::remove(path);
}

int OpenFolder(const char* path, const struct stat*, int type, struct FTW*) {
  if (type == FTW_D) chmod(path, 0700);
  return 0;
}

}  // namespace

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/savefix-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (mkdtemp(name.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = std::string(name.data()) + "/";
}

// A folder a test made read-only is opened first, so its entries can go.
TempDir::~TempDir() {
  nftw(path_.c_str(), OpenFolder, 16, FTW_PHYS);
  nftw(path_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}


void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string SampleBytes(std::size_t size, unsigned tag) {
  std::string bytes(size, '\0');
  unsigned state = tag * 2654435761u + 1;
  for (char& byte : bytes) {
    state = state * 1103515245u + 12345u;
    unsigned char value = static_cast<unsigned char>(state >> 16);
    byte = static_cast<char>(value == 4 ? 5 : value);
  }
  return bytes;
}

std::vector<std::string> ListDirectory(const std::string& dir) {
  std::vector<std::string> names;
  DIR* handle = opendir(dir.c_str());
  if (handle == nullptr) return names;
  while (const dirent* entry = readdir(handle)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      names.emplace_back(entry->d_name);
    }
  }
  closedir(handle);
  std::sort(names.begin(), names.end());
  return names;
}

StdoutCapture::StdoutCapture() {
  std::fflush(stdout);
  char name[] = "/tmp/savefix-stdout-XXXXXX";
  int fd = mkstemp(name);
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  file_ = name;
  saved_fd_ = dup(STDOUT_FILENO);
  dup2(fd, STDOUT_FILENO);
  close(fd);
}

StdoutCapture::~StdoutCapture() { Finish(); }

std::string StdoutCapture::Finish() {
  if (saved_fd_ < 0) return std::string();
  std::fflush(stdout);
  dup2(saved_fd_, STDOUT_FILENO);
  close(saved_fd_);
  saved_fd_ = -1;
  std::string text = ReadFileBytes(file_);
  std::remove(file_.c_str());
  return text;
}

bool MakeDirectories(const std::string& path) {
  for (std::size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1)) {
    mkdir(path.substr(0, at).c_str(), 0755);
  }
  mkdir(path.c_str(), 0755);
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

namespace {

std::string EscapeRegString(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (c == '\\' || c == '"') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

// An ASCII value as an expandable string: UTF-16LE bytes with their terminator.
std::string ExpandableStringData(const std::string& ascii) {
  std::string data = "hex(2):";
  char byte[8];
  for (char c : ascii + '\0') {
    std::snprintf(byte, sizeof byte, "%02x,00,", static_cast<unsigned char>(c));
    data += byte;
  }
  data.pop_back();
  return data;
}

}  // namespace

std::vector<RegistryKey> RegistryKeys(Registry registry, const std::string& app_path) {
  const std::string game = "Software\\Wow6432Node\\Quarrelstone\\Vellmoor\\1.0";
  const std::string string_value = "\"AppPath\"=\"" + EscapeRegString(app_path) + "\"\n";
  switch (registry) {
    case Registry::kNothing:
    case Registry::kMalformed:
      return {};
    case Registry::kOtherKey:
      return {{"Software\\Wow6432Node\\Quarrelstone\\Other", string_value}};
    case Registry::kKeyNoValue:
      return {{game, "\"Version\"=\"1.0\"\n"}};
    case Registry::kString:
      return {{game, string_value}};
    case Registry::kExpandString:
      return {{game, "\"AppPath\"=" + ExpandableStringData(app_path) + "\n"}};
    case Registry::kStringAndOther64:
      return {{"Software\\Quarrelstone\\Vellmoor\\1.0", "\"AppPath\"=\"C:\\\\Elsewhere\\\\\"\n"},
              {game, string_value}};
    case Registry::kDword:
      return {{game, "\"AppPath\"=dword:00000005\n"}};
  }
  return {};
}

// As wineserver writes it: key paths relative to HKEY_LOCAL_MACHINE with
// their backslashes doubled, each followed by its time stamp.
std::string SystemReg(const std::string& app_path, Registry registry) {
  if (registry == Registry::kNothing) return "";
  if (registry == Registry::kMalformed) return "AppPath=" + app_path + "\n";
  std::string text = "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n";
  for (const RegistryKey& key : RegistryKeys(registry, app_path)) {
    text += "\n[" + EscapeRegString(key.path) + "] 1796639462\n" + key.values;
  }
  return text;
}

bool LayOutPrefix(const std::string& prefix, const std::string& system_reg_text) {
  if (!MakeDirectories(prefix + "/dosdevices") || symlink("/", (prefix + "/dosdevices/z:").c_str()) != 0) {
    return false;
  }
  if (!system_reg_text.empty()) WriteFileBytes(prefix + "/system.reg", system_reg_text);
  return true;
}

testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected) {
  if (actual == expected) return testing::AssertionSuccess();
  std::size_t at = 0;
  while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
  auto show = [](const std::string& bytes, std::size_t i) {
    return i < bytes.size() ? std::to_string(static_cast<unsigned char>(bytes[i])) : std::string("end");
  };
  return testing::AssertionFailure() << "sizes " << actual.size() << " and " << expected.size()
                                     << ", first difference at offset " << at << ": "
                                     << show(actual, at) << " instead of " << show(expected, at);
}
